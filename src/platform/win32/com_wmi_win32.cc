// ole32's COM calls, the WMI interfaces of wbemprox, and oleaut32's VARIANT and SAFEARRAY
// access. Interface pointers pass through as the platform's opaque objects and every HRESULT
// comes back as COM gave it; only what cannot be handed to COM at all (a null object, a null
// output) is refused here, with the status WMI itself gives for it.
#include "common/alloc.h"
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

#include <oleauto.h>
#include <wbemcli.h>

namespace platform::win32 {
namespace {

template <class Interface>
Interface* As(ComObject object) {
  return reinterpret_cast<Interface*>(object);
}
template <class Interface>
ComObject FromSdk(Interface* object) {
  return reinterpret_cast<ComObject>(object);
}
SAFEARRAY* ToSdk(SafeArray array) { return reinterpret_cast<SAFEARRAY*>(array); }

// The WMI calls take their texts as BSTRs; this one lives for one call.
class CallBstr {
 public:
  explicit CallBstr(const char16_t* text) : bstr_(SysAllocString(Wide(text))) {}
  CallBstr(const CallBstr&) = delete;
  CallBstr& operator=(const CallBstr&) = delete;
  ~CallBstr() { SysFreeString(bstr_); }
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

// Fills the portable view of a VARIANT the backend keeps. A null BSTR is COM's empty text.
void Describe(VARIANT& native, Variant* value) {
  *value = Variant{};
  value->native = &native;
  value->type = V_VT(&native);
  switch (V_VT(&native)) {
    case VT_I1:
      value->integer = static_cast<signed char>(V_I1(&native));
      break;
    case VT_UI1:
      value->integer = V_UI1(&native);
      break;
    case VT_I2:
      value->integer = V_I2(&native);
      break;
    case VT_UI2:
      value->integer = V_UI2(&native);
      break;
    case VT_I4:
      value->integer = V_I4(&native);
      break;
    case VT_UI4:
      value->integer = V_UI4(&native);
      break;
    case VT_INT:
      value->integer = V_INT(&native);
      break;
    case VT_UINT:
      value->integer = V_UINT(&native);
      break;
    case VT_I8:
      value->integer = V_I8(&native);
      break;
    case VT_UI8:
      value->integer = static_cast<int64_t>(V_UI8(&native));
      break;
    case VT_BOOL:
      value->integer = V_BOOL(&native);
      break;
    case VT_BSTR:
      value->text =
          V_BSTR(&native) != nullptr ? reinterpret_cast<const char16_t*>(V_BSTR(&native)) : u"";
      value->textLength = SysStringLen(V_BSTR(&native));
      break;
    default:
      if ((V_VT(&native) & VT_ARRAY) != 0 && (V_VT(&native) & VT_BYREF) == 0) {
        value->array = reinterpret_cast<SafeArray>(V_ARRAY(&native));
      }
      break;
  }
}

// Element kinds whose copy would hand the caller something to free (a BSTR, an interface, a
// VARIANT): the seam has no way to free them, so they are not copied out.
bool OwnsResources(VARTYPE element) {
  return element == VT_BSTR || element == VT_UNKNOWN || element == VT_DISPATCH ||
         element == VT_VARIANT || element == VT_RECORD;
}

class Win32ComWmi final : public ComWmi {
 public:
  HResult CoInitializeEx(uint32_t coinit) override { return ::CoInitializeEx(nullptr, coinit); }

  void CoUninitialize() override { ::CoUninitialize(); }

  HResult CoInitializeSecurity(uint32_t authnLevel, uint32_t impLevel,
                               uint32_t capabilities) override {
    return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authnLevel, impLevel, nullptr,
                                  capabilities, nullptr);
  }

  HResult CreateWbemLocator(uint32_t clsctx, ComObject* locator) override {
    if (locator == nullptr) return E_POINTER;
    IWbemLocator* created = nullptr;
    HRESULT status = CoCreateInstance(CLSID_WbemLocator, nullptr, clsctx, IID_IWbemLocator,
                                      reinterpret_cast<void**>(&created));
    *locator = SUCCEEDED(status) ? FromSdk(created) : nullptr;
    return status;
  }

  HResult ConnectServer(ComObject locator, const char16_t* nameSpace,
                        ComObject* services) override {
    if (services == nullptr) return WBEM_E_INVALID_PARAMETER;
    *services = nullptr;
    if (locator == nullptr) return E_INVALIDARG;
    CallBstr path(nameSpace);
    if (nameSpace != nullptr && path.get() == nullptr) return E_OUTOFMEMORY;
    IWbemServices* connected = nullptr;
    HRESULT status = As<IWbemLocator>(locator)->ConnectServer(path.get(), nullptr, nullptr, nullptr,
                                                              0, nullptr, nullptr, &connected);
    if (SUCCEEDED(status)) *services = FromSdk(connected);
    return status;
  }

  HResult SetProxyBlanket(ComObject proxy, uint32_t authnService, uint32_t authzService,
                          uint32_t authnLevel, uint32_t impLevel, uint32_t capabilities) override {
    if (proxy == nullptr) return E_INVALIDARG;
    return CoSetProxyBlanket(As<IUnknown>(proxy), authnService, authzService, nullptr, authnLevel,
                             impLevel, nullptr, capabilities);
  }

  HResult CreateInstanceEnum(ComObject services, const char16_t* className, int32_t flags,
                             ComObject* enumerator) override {
    if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    if (services == nullptr) return E_INVALIDARG;
    CallBstr name(className);
    if (className != nullptr && name.get() == nullptr) return E_OUTOFMEMORY;
    IEnumWbemClassObject* created = nullptr;
    HRESULT status =
        As<IWbemServices>(services)->CreateInstanceEnum(name.get(), flags, nullptr, &created);
    if (SUCCEEDED(status)) *enumerator = FromSdk(created);
    return status;
  }

  HResult ExecQuery(ComObject services, const char16_t* language, const char16_t* query,
                    int32_t flags, ComObject* enumerator) override {
    if (enumerator == nullptr) return WBEM_E_INVALID_PARAMETER;
    *enumerator = nullptr;
    if (services == nullptr) return E_INVALIDARG;
    CallBstr languageText(language);
    CallBstr queryText(query);
    if ((language != nullptr && languageText.get() == nullptr) ||
        (query != nullptr && queryText.get() == nullptr)) {
      return E_OUTOFMEMORY;
    }
    IEnumWbemClassObject* created = nullptr;
    HRESULT status = As<IWbemServices>(services)->ExecQuery(languageText.get(), queryText.get(),
                                                            flags, nullptr, &created);
    if (SUCCEEDED(status)) *enumerator = FromSdk(created);
    return status;
  }

  HResult Next(ComObject enumerator, int32_t timeoutMs, ComObject* object,
               uint32_t* returned) override {
    if (object == nullptr || returned == nullptr) return WBEM_E_INVALID_PARAMETER;
    *object = nullptr;
    *returned = 0;
    if (enumerator == nullptr) return E_INVALIDARG;
    IWbemClassObject* next = nullptr;
    ULONG count = 0;
    HRESULT status = As<IEnumWbemClassObject>(enumerator)->Next(timeoutMs, 1, &next, &count);
    if (count == 1) *object = FromSdk(next);
    *returned = count == 1 ? 1 : 0;
    return status;
  }

  // The VARIANT itself is kept in storage of its own (Variant::native) until VariantClear.
  HResult Get(ComObject object, const char16_t* name, Variant* value) override {
    if (value == nullptr || name == nullptr) return WBEM_E_INVALID_PARAMETER;
    if (object == nullptr) return E_INVALIDARG;
    VARIANT read;
    VariantInit(&read);
    HRESULT status = As<IWbemClassObject>(object)->Get(Wide(name), 0, &read, nullptr, nullptr);
    if (FAILED(status)) return status;
    auto* kept = static_cast<VARIANT*>(crv::AllocateZeroed(sizeof(VARIANT)));
    if (kept == nullptr) {
      ::VariantClear(&read);
      return E_OUTOFMEMORY;
    }
    *kept = read;
    Describe(*kept, value);
    return status;
  }

  void Release(ComObject object) override {
    if (object != nullptr) As<IUnknown>(object)->Release();
  }

  HResult VariantClear(Variant* value) override {
    if (value == nullptr) return E_INVALIDARG;
    if (auto* native = static_cast<VARIANT*>(value->native); native != nullptr) {
      HRESULT status = ::VariantClear(native);
      if (FAILED(status)) return status;  // a locked array stays with the variant
      crv::FreeBlock(native);
    }
    *value = Variant{};
    return S_OK;
  }

  HResult SafeArrayGetLBound(SafeArray array, uint32_t dim, int32_t* bound) override {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    LONG read = 0;
    HRESULT status = ::SafeArrayGetLBound(ToSdk(array), dim, &read);
    if (SUCCEEDED(status)) *bound = read;
    return status;
  }

  HResult SafeArrayGetUBound(SafeArray array, uint32_t dim, int32_t* bound) override {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    LONG read = 0;
    HRESULT status = ::SafeArrayGetUBound(ToSdk(array), dim, &read);
    if (SUCCEEDED(status)) *bound = read;
    return status;
  }

  HResult SafeArrayAccessData(SafeArray array, void** data) override {
    if (array == nullptr || data == nullptr) return E_INVALIDARG;
    return ::SafeArrayAccessData(ToSdk(array), data);
  }

  HResult SafeArrayUnaccessData(SafeArray array) override {
    if (array == nullptr) return E_INVALIDARG;
    return ::SafeArrayUnaccessData(ToSdk(array));
  }

  // One index only, so the array must have one dimension: SafeArrayGetElement would read as
  // many indices as the array has dimensions.
  HResult SafeArrayGetElement(SafeArray array, int32_t index, void* element) override {
    if (array == nullptr || element == nullptr) return E_INVALIDARG;
    if (::SafeArrayGetDim(ToSdk(array)) != 1) return DISP_E_BADINDEX;
    VARTYPE type = VT_EMPTY;
    HRESULT status = ::SafeArrayGetVartype(ToSdk(array), &type);
    if (FAILED(status)) return status;
    if (OwnsResources(type)) return DISP_E_BADVARTYPE;
    LONG indices[1] = {index};
    return ::SafeArrayGetElement(ToSdk(array), indices, element);
  }
};

}  // namespace

ComWmi& ComWmiBackend() {
  static Win32ComWmi backend;
  return backend;
}

}  // namespace platform::win32
