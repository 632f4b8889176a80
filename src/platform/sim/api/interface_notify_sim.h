// The simulated machine's interface change notifications (NotifyIpInterfaceChange): after
// every timeline action the interface table is compared with what was last seen, and each
// IP interface (one with TCP/IP bound: no team member, no filter row) that appeared, went, or
// changed its operational state, administrative state or MTU is announced to every registration,
// per address family, after a configurable delay. A speed change alone is not announced (the IP
// interface row carries no speed).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/ip_helper.h"

namespace sim {

class Machine;

enum class NotifyMode {
  kDeliver,  // registrations succeed and callbacks come after the delay
  kFail,     // registration fails with kErrorNotSupported
  kSilent,   // registration succeeds without a handle and nothing ever calls back
};

constexpr uint32_t kErrorNotSupported = 50;

class SimInterfaceNotifier {
 public:
  explicit SimInterfaceNotifier(Machine& machine) : machine_(machine) {}

  void SetMode(NotifyMode mode) { mode_ = mode; }
  NotifyMode Mode() const { return mode_; }
  // Virtual milliseconds from a change to its callbacks (100 by default).
  void SetDelayMs(uint64_t delayMs) { delayMs_ = delayMs; }
  uint64_t DelayMs() const { return delayMs_; }

  uint32_t Register(uint16_t family, platform::IpInterfaceChangeCallback callback, void* context,
                    bool initialNotification, platform::Handle* notification);
  uint32_t Cancel(platform::Handle notification);

  // Compares the interface table with the last one seen and schedules the announcements.
  void Check();
  // The process that registered has ended: its registrations go with it.
  void ProcessEnded() { registrations_.clear(); }

  size_t Registrations() const { return registrations_.size(); }
  // Callbacks made so far (one per registration, family and changed interface).
  uint64_t Delivered() const { return delivered_; }

 private:
  struct Registration {
    uintptr_t id;
    uint16_t family;
    platform::IpInterfaceChangeCallback callback;
    void* context;
  };
  struct Seen {
    uint32_t operStatus;
    uint32_t adminStatus;
    uint32_t mtu;
    bool operator==(const Seen&) const = default;
  };
  std::map<uint32_t, Seen> Snapshot() const;
  void Deliver(uintptr_t id, const platform::IpInterfaceChange* change);

  Machine& machine_;
  NotifyMode mode_ = NotifyMode::kDeliver;
  uint64_t delayMs_ = 100;
  std::vector<Registration> registrations_;
  uintptr_t nextId_ = 0x4E00;
  std::map<uint32_t, Seen> seen_;
  uint64_t delivered_ = 0;
};

}  // namespace sim
