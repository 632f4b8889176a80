#include "platform/sim/kernel_objects.h"

namespace sim {

platform::Handle KernelObjects::Add(std::shared_ptr<EventObject> event, bool ownedByProcess) {
  nextHandle_ += 4;
  auto handle = reinterpret_cast<platform::Handle>(nextHandle_);
  handles_[handle] = Entry{std::move(event), ownedByProcess};
  ++openCount_;
  return handle;
}

std::shared_ptr<EventObject> KernelObjects::Lookup(platform::Handle handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second.object;
}

bool KernelObjects::Close(platform::Handle handle) {
  if (handles_.erase(handle) == 0) return false;
  --openCount_;
  return true;
}

void KernelObjects::CloseProcessHandles() {
  for (auto it = handles_.begin(); it != handles_.end();) {
    if (it->second.ownedByProcess) {
      it = handles_.erase(it);
      --openCount_;
    } else {
      ++it;
    }
  }
}

std::shared_ptr<EventObject> KernelObjects::FindNamed(std::u16string_view name) const {
  auto it = named_.find(name);
  return it == named_.end() ? nullptr : it->second.lock();
}

void KernelObjects::Name(const std::shared_ptr<EventObject>& event) {
  if (!event->name.empty()) named_[event->name] = event;
}

}  // namespace sim
