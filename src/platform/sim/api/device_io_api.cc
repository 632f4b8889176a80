// CreateFileW, DeviceIoControl and CloseHandle on the simulated devices: NDIS miniports by
// "\\.\{GUID}" or by their NDIS LAN interface paths, and their private query devices by
// name.
//
// Fault names: "CreateFileW", "DeviceIoControl", and "CloseHandle(device)" for closing a
// device handle (the kernel's "CloseHandle" counts event handles only, so that a fault meant
// for one kind of handle is not shifted by the many opens and closes of device queries).
#include <cstring>
#include <map>

#include "common/text.h"
#include "platform/ndis.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/scheduler/scheduler.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

using platform::DeviceHandle;

constexpr char16_t kDevicePrefix[] = u"\\\\.\\";
// Device interface paths (an NDIS LAN interface's, for one) open the device they belong to.
constexpr char16_t kInterfacePrefix[] = u"\\\\?\\";

struct OpenDevice {
  std::u16string guid;         // the miniport (the owner, for a private device)
  std::u16string privateName;  // empty: the miniport's own device
  std::u16string openedAs;     // the name without "\\.\"
  bool overlapped = false;     // opened with FILE_FLAG_OVERLAPPED
  bool ownedByProcess = false;
};

constexpr uint32_t kFileFlagOverlapped = 0x40000000;

class DeviceIoApi : public platform::DeviceIo {
 public:
  explicit DeviceIoApi(Machine& machine) : machine_(machine), internals_(machine) {}

  DeviceHandle CreateFile(const char16_t* name, uint32_t access, uint32_t share,
                          uint32_t disposition, uint32_t flagsAndAttributes) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCreateFileW)) return FailOpen(*fault);
    if (name == nullptr) return FailOpen(platform::kErrorInvalidParameter);
    std::u16string full = name;
    if (machine_.devices().recording()) {
      machine_.devices().opens().push_back(
          DeviceOpenRecord{full, access, share, disposition, flagsAndAttributes});
    }
    if (disposition < 1 || disposition > 5) return FailOpen(platform::kErrorInvalidParameter);
    OpenDevice open;
    open.overlapped = (flagsAndAttributes & kFileFlagOverlapped) != 0;
    open.ownedByProcess = internals_.scheduler().InRun();
    if (std::u16string_view(full).starts_with(kInterfacePrefix)) {
      const NdisDevice* d = Devices().FindNdisByInterfacePath(full);
      if (d == nullptr) return FailOpen(platform::kErrorFileNotFound);
      if (d->openError != 0) return FailOpen(d->openError);
      open.guid = d->guid;
      open.openedAs = full;
      return Keep(std::move(open));
    }
    if (!std::u16string_view(full).starts_with(kDevicePrefix))
      return FailOpen(platform::kErrorFileNotFound);
    std::u16string rest = full.substr(std::size(kDevicePrefix) - 1);
    open.openedAs = rest;
    if (const NdisDevice* d = Devices().FindNdis(rest)) {
      if (d->openError != 0) return FailOpen(d->openError);
      open.guid = d->guid;
    } else if (auto [owner, device] = FindPrivate(rest); device != nullptr) {
      if (device->openError != 0) return FailOpen(device->openError);
      open.guid = owner->guid;
      open.privateName = device->name;
    } else {
      return FailOpen(platform::kErrorFileNotFound);
    }
    return Keep(std::move(open));
  }

  bool DeviceIoControl(DeviceHandle device, uint32_t controlCode, const void* input,
                       uint32_t inputSize, void* output, uint32_t outputSize,
                       uint32_t* bytesReturned) override {
    if (auto fault = internals_.CheckFault(FaultCall::kDeviceIoControl)) return Fail(*fault);
    auto it = handles_.find(device);
    if (it == handles_.end()) return Fail(platform::kErrorInvalidHandle);
    const OpenDevice& open = it->second;
    // This interface has no OVERLAPPED to give, so every request is a synchronous one.
    if (open.overlapped) machine_.devices().CountSynchronousRequestOnOverlappedHandle();
    DeviceQueryRecord record;
    record.device = open.openedAs;
    record.controlCode = controlCode;
    if (input != nullptr && inputSize >= 4) std::memcpy(&record.oid, input, 4);
    record.inputSize = inputSize;
    record.outputSize = outputSize;
    if (machine_.devices().recording()) machine_.devices().queries().push_back(record);
    // Without overlapped I/O Windows needs somewhere to store the count.
    if (bytesReturned == nullptr) return Fail(platform::kErrorInvalidParameter);
    *bytesReturned = 0;
    if ((inputSize != 0 && input == nullptr) || (outputSize != 0 && output == nullptr)) {
      return Fail(platform::kErrorInvalidParameter);
    }
    const NdisDevice* miniport = Devices().FindNdis(open.guid);
    if (miniport == nullptr) return Fail(kErrorDeviceRemoved);
    if (open.privateName.empty()) {
      return QueryMiniport(*miniport, controlCode, record.oid, inputSize, output, outputSize,
                           bytesReturned);
    }
    if (!miniport->privateDevice || !SameNoCase(miniport->privateDevice->name, open.privateName)) {
      return Fail(kErrorDeviceRemoved);
    }
    return QueryPrivate(*miniport->privateDevice, controlCode, input, inputSize, output, outputSize,
                        bytesReturned);
  }

  bool CloseDevice(DeviceHandle device) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCloseHandleDevice)) return Fail(*fault);
    if (handles_.erase(device) == 0) return Fail(platform::kErrorInvalidHandle);
    --machine_.openHandles().devices;
    return true;
  }

  // A process end closes the handles it opened.
  void CloseProcessHandles() {
    for (auto it = handles_.begin(); it != handles_.end();) {
      if (it->second.ownedByProcess) {
        it = handles_.erase(it);
        --machine_.openHandles().devices;
      } else {
        ++it;
      }
    }
  }

 private:
  bool QueryMiniport(const NdisDevice& d, uint32_t controlCode, uint32_t oid, uint32_t inputSize,
                     void* output, uint32_t outputSize, uint32_t* bytesReturned) {
    if (controlCode != platform::kIoctlNdisQueryGlobalStats) return Fail(kErrorInvalidFunction);
    if (inputSize < 4) return Fail(platform::kErrorInvalidParameter);
    OidAnswer answer;
    if (auto found = d.oids.find(oid); found != d.oids.end()) {
      answer = found->second;
    } else if (oid == kOidPrivateQueryDeviceName && d.privateDevice) {
      answer.data.resize((d.privateDevice->name.size() + 1) * 2, 0);
      std::memcpy(answer.data.data(), d.privateDevice->name.data(),
                  d.privateDevice->name.size() * 2);
    } else {
      answer.error = d.unknownOidError;
    }
    if (answer.error != 0) return Fail(answer.error);
    if (answer.signature != 0 &&
        (outputSize < 4 || std::memcmp(output, &answer.signature, 4) != 0)) {
      return Fail(platform::kErrorInvalidParameter);
    }
    if (answer.data.size() > outputSize) return Fail(platform::kErrorInsufficientBuffer);
    if (!answer.data.empty()) std::memcpy(output, answer.data.data(), answer.data.size());
    *bytesReturned = static_cast<uint32_t>(answer.data.size());
    return true;  // a successful call leaves the last error as it was
  }

  bool QueryPrivate(const PrivateQueryDevice& p, uint32_t controlCode, const void* input,
                    uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* bytesReturned) {
    if (controlCode != kIoctlPrivateQuery) return Fail(kErrorInvalidFunction);
    if (inputSize < kPrivateRequestHeader || outputSize < kPrivateRequestHeader) {
      return Fail(platform::kErrorInvalidParameter);
    }
    uint8_t header[kPrivateRequestHeader];
    std::memcpy(header, input, sizeof header);
    uint32_t oid;
    std::memcpy(&oid, header, 4);
    PrivateAnswer answer;
    if (auto found = p.answers.find(oid); found != p.answers.end()) {
      answer = found->second;
    } else {
      answer.status = p.unknownOidStatus;
    }
    if (answer.error != 0) return Fail(answer.error);
    auto* out = static_cast<uint8_t*>(output);
    if (out != static_cast<const uint8_t*>(input)) {
      std::memcpy(out, input, std::min(inputSize, outputSize));
    }
    std::memcpy(out, header, sizeof header);
    std::memcpy(out + 4, &answer.status, 4);
    size_t room = outputSize - kPrivateRequestHeader;
    size_t n = answer.status == 0 ? std::min(room, answer.data.size()) : 0;
    if (n != 0) std::memcpy(out + kPrivateRequestHeader, answer.data.data(), n);
    *bytesReturned = static_cast<uint32_t>(kPrivateRequestHeader + n);
    return true;
  }

  std::pair<const NdisDevice*, const PrivateQueryDevice*> FindPrivate(
      std::u16string_view name) const {
    const NdisDevice* owner = Devices().FindPrivateDeviceOwner(name);
    if (owner == nullptr) return {nullptr, nullptr};
    return {owner, &*owner->privateDevice};
  }

  // Lookups only: a const machine's devices are not handed out for editing.
  const SimDevices& Devices() const { return machine_.devices(); }

  DeviceHandle Keep(OpenDevice open) {
    nextHandle_ += 4;
    auto handle = reinterpret_cast<DeviceHandle>(nextHandle_);
    handles_[handle] = std::move(open);
    ++machine_.openHandles().devices;
    internals_.SetLastError(0);  // CreateFileW clears it when it opens
    return handle;
  }

  DeviceHandle FailOpen(uint32_t error) {
    internals_.SetLastError(error);
    return platform::kInvalidHandleValue;
  }

  bool Fail(uint32_t error) {
    internals_.SetLastError(error);
    return false;
  }

  Machine& machine_;
  MachineInternals internals_;
  std::map<DeviceHandle, OpenDevice> handles_;
  uintptr_t nextHandle_ = 0x40000;
};

}  // namespace

std::unique_ptr<platform::DeviceIo> NewDeviceIoApi(Machine& machine) {
  return std::make_unique<DeviceIoApi>(machine);
}

void CloseProcessDeviceHandles(platform::DeviceIo& api) {
  static_cast<DeviceIoApi&>(api).CloseProcessHandles();
}

}  // namespace sim
