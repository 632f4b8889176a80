// COM and WMI (ole32, oleaut32, wbemprox): the agent reads the raw SMBIOS table and the
// Solarflare ports' firmware versions through WMI. The interface mirrors the calls the agent
// makes on IWbemLocator, IWbemServices, IEnumWbemClassObject and IWbemClassObject, with the
// HRESULTs they return, and the VARIANT and SAFEARRAY access it does on the answers.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

using HResult = int32_t;

// Any COM interface pointer the WMI calls hand out (locator, services, enumerator, object).
// Each is released with Release.
struct ComObjectTag;
using ComObject = ComObjectTag*;
// A SAFEARRAY inside a Variant; owned by the Variant.
struct SafeArrayTag;
using SafeArray = SafeArrayTag*;

constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;                  // also WBEM_S_FALSE: no more objects
constexpr HResult kWbemSTimedOut = 0x00040004;  // Next: the time-out passed first
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);
constexpr HResult kRpcETooLate = static_cast<HResult>(0x80010119u);  // security set already
constexpr HResult kRegdbEClassNotReg = static_cast<HResult>(0x80040154u);
constexpr HResult kWbemEFailed = static_cast<HResult>(0x80041001u);
constexpr HResult kWbemENotFound = static_cast<HResult>(0x80041002u);
constexpr HResult kWbemEAccessDenied = static_cast<HResult>(0x80041003u);
constexpr HResult kWbemEInvalidClass = static_cast<HResult>(0x80041010u);
constexpr HResult kWbemEInvalidNamespace = static_cast<HResult>(0x8004100Eu);
constexpr HResult kWbemEInvalidQuery = static_cast<HResult>(0x80041017u);
constexpr HResult kDispEArrayIsLocked = static_cast<HResult>(0x8002000Du);
constexpr HResult kDispEBadIndex = static_cast<HResult>(0x8002000Bu);

constexpr uint32_t kCoinitMultithreaded = 0x0;
constexpr uint32_t kClsctxInprocServer = 0x1;
constexpr uint32_t kClsctxAll = 0x17;
constexpr uint32_t kRpcCAuthnDefault = 0xFFFFFFFFu;
constexpr uint32_t kRpcCAuthnWinnt = 10;
constexpr uint32_t kRpcCAuthzNone = 0;
constexpr uint32_t kRpcCAuthnLevelDefault = 0;
constexpr uint32_t kRpcCAuthnLevelCall = 3;
constexpr uint32_t kRpcCImpLevelImpersonate = 3;
constexpr uint32_t kEoacNone = 0;
constexpr int32_t kWbemFlagShallow = 0x1;
constexpr int32_t kWbemFlagReturnImmediately = 0x10;
constexpr int32_t kWbemFlagForwardOnly = 0x20;
constexpr int32_t kWbemInfinite = -1;

// Which locator CoCreateInstance makes: CLSID_WbemLocator {4590F811-1D3A-11D0-891F-00AA004B2E24}
// for IID_IWbemLocator {DC12A687-737F-11CF-884D-00AA004B2E24} (the only class the agent asks
// for, so the seam names it instead of passing GUIDs).

// VARTYPE values the agent tells apart.
constexpr uint16_t kVtEmpty = 0;
constexpr uint16_t kVtNull = 1;
constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtBstr = 8;
constexpr uint16_t kVtBool = 11;
constexpr uint16_t kVtI1 = 16;
constexpr uint16_t kVtUi1 = 17;
constexpr uint16_t kVtUi2 = 18;
constexpr uint16_t kVtUi4 = 19;
constexpr uint16_t kVtI8 = 20;
constexpr uint16_t kVtUi8 = 21;
constexpr uint16_t kVtArray = 0x2000;

// A VARIANT as the agent reads it. type is the VARTYPE; integer holds every integer and
// boolean kind (VT_BOOL: -1 true, 0 false); text a VT_BSTR's characters and textLength their
// count; array a VT_ARRAY's SAFEARRAY (type kVtArray | element type). text and array belong
// to the variant until VariantClear, which also resets it to empty. native is the backend's
// own record of the value; agent code leaves it alone.
struct Variant {
  uint16_t type = kVtEmpty;
  int64_t integer = 0;
  const char16_t* text = nullptr;
  uint32_t textLength = 0;
  SafeArray array = nullptr;
  void* native = nullptr;
};

// Whether the variant holds an integer or boolean kind, whose value is then in integer.
inline bool HoldsInteger(const Variant& v) {
  switch (v.type) {
    case kVtBool:
    case kVtI1:
    case kVtUi1:
    case kVtI2:
    case kVtUi2:
    case kVtI4:
    case kVtUi4:
    case kVtI8:
    case kVtUi8:
      return true;
    default:
      return false;
  }
}

class ComWmi {
 public:
  virtual ~ComWmi() = default;

  // CoInitializeEx(null, coinit). S_OK, S_FALSE when already initialised on the thread (both
  // need a CoUninitialize), RPC_E_CHANGED_MODE for another model.
  virtual HResult CoInitializeEx(uint32_t coinit) = 0;
  virtual void CoUninitialize() = 0;
  // CoInitializeSecurity(null, -1, null, null, authnLevel, impLevel, null, capabilities,
  // null). RPC_E_TOO_LATE once security is set for the process.
  virtual HResult CoInitializeSecurity(uint32_t authnLevel, uint32_t impLevel,
                                       uint32_t capabilities) = 0;
  // CoCreateInstance(CLSID_WbemLocator, null, clsctx, IID_IWbemLocator, locator).
  virtual HResult CreateWbemLocator(uint32_t clsctx, ComObject* locator) = 0;
  // IWbemLocator::ConnectServer(ns, null user, null password, null locale, flags 0, null
  // authority, null context, services).
  virtual HResult ConnectServer(ComObject locator, const char16_t* nameSpace,
                                ComObject* services) = 0;
  // CoSetProxyBlanket(proxy, authnService, authzService, null principal, authnLevel,
  // impLevel, null identity, capabilities).
  virtual HResult SetProxyBlanket(ComObject proxy, uint32_t authnService, uint32_t authzService,
                                  uint32_t authnLevel, uint32_t impLevel,
                                  uint32_t capabilities) = 0;
  // IWbemServices::CreateInstanceEnum(className, flags, null context, enumerator).
  virtual HResult CreateInstanceEnum(ComObject services, const char16_t* className, int32_t flags,
                                     ComObject* enumerator) = 0;
  // IWbemServices::ExecQuery(language, query, flags, null context, enumerator).
  virtual HResult ExecQuery(ComObject services, const char16_t* language, const char16_t* query,
                            int32_t flags, ComObject* enumerator) = 0;
  // IEnumWbemClassObject::Next for one object: S_OK with *returned 1; WBEM_S_FALSE with 0 at
  // the end; WBEM_S_TIMEDOUT with 0 when the time-out (ms, or kWbemInfinite) passed first.
  virtual HResult Next(ComObject enumerator, int32_t timeoutMs, ComObject* object,
                       uint32_t* returned) = 0;
  // IWbemClassObject::Get(name, 0, value, null, null). WBEM_E_NOT_FOUND for no such property.
  virtual HResult Get(ComObject object, const char16_t* name, Variant* value) = 0;
  // IUnknown::Release.
  virtual void Release(ComObject object) = 0;

  // VariantClear: frees what the variant holds and makes it empty.
  virtual HResult VariantClear(Variant* value) = 0;
  // SafeArrayGetLBound / SafeArrayGetUBound of dimension dim (1-based).
  virtual HResult SafeArrayGetLBound(SafeArray array, uint32_t dim, int32_t* bound) = 0;
  virtual HResult SafeArrayGetUBound(SafeArray array, uint32_t dim, int32_t* bound) = 0;
  // SafeArrayAccessData / SafeArrayUnaccessData: the elements, packed, while accessed.
  virtual HResult SafeArrayAccessData(SafeArray array, void** data) = 0;
  virtual HResult SafeArrayUnaccessData(SafeArray array) = 0;
  // SafeArrayGetElement of a one-dimensional array: copies the element (its own size: 1 byte
  // for VT_UI1, 4 for VT_I4 ...) to element.
  virtual HResult SafeArrayGetElement(SafeArray array, int32_t index, void* element) = 0;
};

}  // namespace platform
