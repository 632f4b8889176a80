// COM and WMI on the simulated machine.
//
// Fault names: "CoInitializeEx", "CoInitializeSecurity", "CoCreateInstance", "ConnectServer",
// "CoSetProxyBlanket", "CreateInstanceEnum", "ExecQuery", "Next", "Get", "SafeArrayGetLBound",
// "SafeArrayGetUBound", "SafeArrayAccessData", "SafeArrayGetElement".
#include "platform/sim/apis.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using platform::ComObject;
using platform::HResult;
using platform::SafeArray;
using platform::Variant;

class ComWmiApi : public platform::ComWmi {
 public:
  explicit ComWmiApi(Machine& machine) : machine_(machine) {}

  HResult CoInitializeEx(uint32_t) override {
    if (auto fault = machine_.CheckFault("CoInitializeEx")) return static_cast<HResult>(*fault);
    return platform::kSOk;
  }
  void CoUninitialize() override {}
  HResult CoInitializeSecurity(uint32_t, uint32_t, uint32_t) override {
    if (auto fault = machine_.CheckFault("CoInitializeSecurity")) {
      return static_cast<HResult>(*fault);
    }
    return platform::kSOk;
  }
  HResult CreateWbemLocator(uint32_t, ComObject* locator) override {
    *locator = nullptr;
    if (auto fault = machine_.CheckFault("CoCreateInstance")) return static_cast<HResult>(*fault);
    return platform::kRegdbEClassNotReg;
  }
  HResult ConnectServer(ComObject, const char16_t*, ComObject* services) override {
    *services = nullptr;
    return platform::kEInvalidArg;
  }
  HResult SetProxyBlanket(ComObject, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {
    return platform::kEInvalidArg;
  }
  HResult CreateInstanceEnum(ComObject, const char16_t*, int32_t, ComObject* enumerator) override {
    *enumerator = nullptr;
    return platform::kEInvalidArg;
  }
  HResult ExecQuery(ComObject, const char16_t*, const char16_t*, int32_t,
                    ComObject* enumerator) override {
    *enumerator = nullptr;
    return platform::kEInvalidArg;
  }
  HResult Next(ComObject, int32_t, ComObject* object, uint32_t* returned) override {
    *object = nullptr;
    *returned = 0;
    return platform::kEInvalidArg;
  }
  HResult Get(ComObject, const char16_t*, Variant* value) override {
    *value = Variant{};
    return platform::kEInvalidArg;
  }
  void Release(ComObject) override {}
  HResult VariantClear(Variant* value) override {
    *value = Variant{};
    return platform::kSOk;
  }
  HResult SafeArrayGetLBound(SafeArray, uint32_t, int32_t*) override {
    return platform::kEInvalidArg;
  }
  HResult SafeArrayGetUBound(SafeArray, uint32_t, int32_t*) override {
    return platform::kEInvalidArg;
  }
  HResult SafeArrayAccessData(SafeArray, void**) override { return platform::kEInvalidArg; }
  HResult SafeArrayUnaccessData(SafeArray) override { return platform::kEInvalidArg; }
  HResult SafeArrayGetElement(SafeArray, int32_t, void*) override { return platform::kEInvalidArg; }

 private:
  Machine& machine_;
};

}  // namespace

std::unique_ptr<platform::ComWmi> NewComWmiApi(Machine& machine) {
  return std::make_unique<ComWmiApi>(machine);
}

}  // namespace sim
