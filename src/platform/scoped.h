// Small owners for what the agent opens through the installed interfaces: a COM object is
// released and a device handle closed when its owner goes out of scope, so that no call site
// has to remember to on each of its ways out.
#pragma once

#include "platform/platform.h"

namespace platform {

// Owns one T (Traits::Empty() when it holds none) and hands it to Traits::Free when it goes.
template <class T, class Traits>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(T value) : value_(value) {}
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  ~Scoped() { Reset(); }

  T Get() const { return value_; }
  bool Holds() const { return value_ != Traits::Empty(); }
  // For calls that answer through an out parameter: frees what is held, then lends the slot.
  T* Receive() {
    Reset();
    return &value_;
  }
  void Reset() {
    if (Holds()) Traits::Free(value_);
    value_ = Traits::Empty();
  }

 private:
  T value_ = Traits::Empty();
};

struct ComObjectRelease {
  static ComObject Empty() { return nullptr; }
  static void Free(ComObject object) { Os().wmi->Release(object); }
};

// A device handle's empty value is INVALID_HANDLE_VALUE, what a failed CreateFileW answers.
struct DeviceHandleClose {
  static DeviceHandle Empty() { return kInvalidHandleValue; }
  static void Free(DeviceHandle device) { Os().deviceIo->CloseDevice(device); }
};

using ScopedComObject = Scoped<ComObject, ComObjectRelease>;
using ScopedDeviceHandle = Scoped<DeviceHandle, DeviceHandleClose>;

}  // namespace platform
