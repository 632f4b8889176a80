// The simulated server's kernel objects: the handles to events and the events known by name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/sim/scheduler/scheduler.h"
#include "platform/types.h"

namespace sim {

class KernelObjects {
 public:
  // openCount is the machine's count of open kernel handles, kept here.
  explicit KernelObjects(int64_t& openCount) : openCount_(openCount) {}
  KernelObjects(const KernelObjects&) = delete;
  KernelObjects& operator=(const KernelObjects&) = delete;

  // A new handle to event; one opened by a process is closed when the process ends.
  platform::Handle Add(std::shared_ptr<EventObject> event, bool ownedByProcess);
  std::shared_ptr<EventObject> Lookup(platform::Handle handle) const;
  bool Close(platform::Handle handle);
  // Closes every handle a process opened (it has ended).
  void CloseProcessHandles();

  // The event of that name while some handle to it is open; null otherwise.
  std::shared_ptr<EventObject> FindNamed(std::u16string_view name) const;
  // Gives an event its name (events without one stay anonymous).
  void Name(const std::shared_ptr<EventObject>& event);

 private:
  struct Entry {
    std::shared_ptr<EventObject> object;
    bool ownedByProcess;
  };
  int64_t& openCount_;
  std::map<platform::Handle, Entry> handles_;
  uintptr_t nextHandle_ = 0x80;
  std::map<std::u16string, std::weak_ptr<EventObject>, std::less<>> named_;
};

}  // namespace sim
