// COM and WMI on the simulated machine (the state and its rules: wmi_sim.h).
//
// Fault names: "CoInitializeEx", "CoInitializeSecurity", "CoCreateInstance", "ConnectServer",
// "CoSetProxyBlanket", "CreateInstanceEnum", "ExecQuery", "Next", "Get", "SafeArrayGetLBound",
// "SafeArrayGetUBound", "SafeArrayAccessData", "SafeArrayGetElement".
// The fault's status is returned as the HRESULT.
//
// ExecQuery understands the language "WQL" and the one form the agent sends:
//   SELECT * FROM <class> [WHERE <property> <op> <integer>]   (op: = != <>)
// keywords in any case. Anything else answers WBEM_E_INVALID_QUERY. A property that is
// missing, null or not an integer (or boolean) matches no comparison, as WQL's NULL does.
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/text.h"
#include "common/utf.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

using platform::ComObject;
using platform::HResult;
using platform::SafeArray;
using platform::Variant;
using namespace platform;

constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0u);
constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFFu);
constexpr HResult kWbemEInvalidParameter = static_cast<HResult>(0x80041008u);
constexpr HResult kWbemEInvalidQueryType = static_cast<HResult>(0x80041018u);
constexpr uint32_t kCoinitApartmentThreaded = 0x2;
constexpr int32_t kKnownEnumFlags = kWbemFlagShallow | kWbemFlagReturnImmediately |
                                    kWbemFlagForwardOnly | 0x20000;  // use amended qualifiers

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Utf8(const char16_t* text) {
  return text == nullptr ? std::string("(null)") : crv::Utf16ToUtf8(text);
}

bool IsIntegerKind(uint16_t type) { return type == kVtBool || WmiElementSize(type) != 0; }

// --- WQL, the one form the agent sends ---

struct WqlQuery {
  std::u16string className;
  bool hasCondition = false;
  std::u16string property;
  std::u16string op;
  int64_t number = 0;
};

std::vector<std::u16string> Tokens(std::u16string_view text) {
  auto word = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'-';
  };
  std::vector<std::u16string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    char16_t c = text[i];
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      ++i;
    } else if (word(c)) {
      size_t start = i;
      while (i < text.size() && word(text[i])) ++i;
      tokens.emplace_back(text.substr(start, i - start));
    } else if ((c == u'!' || c == u'<') && i + 1 < text.size() &&
               (text[i + 1] == u'=' || (c == u'<' && text[i + 1] == u'>'))) {
      tokens.emplace_back(text.substr(i, 2));
      i += 2;
    } else {
      tokens.emplace_back(1, c);
      ++i;
    }
  }
  return tokens;
}

std::optional<int64_t> Integer(const std::u16string& token) {
  size_t i = token.size() > 1 && token[0] == u'-' ? 1 : 0;
  if (i == token.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < token.size(); ++i) {
    if (token[i] < u'0' || token[i] > u'9' || value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (token[i] - u'0');
  }
  return token[0] == u'-' ? -value : value;
}

std::optional<WqlQuery> ParseWql(std::u16string_view text) {
  std::vector<std::u16string> t = Tokens(text);
  if (t.size() != 4 && t.size() != 8) return std::nullopt;
  if (!SameNoCase(t[0], u"SELECT") || t[1] != u"*" || !SameNoCase(t[2], u"FROM")) {
    return std::nullopt;
  }
  WqlQuery query;
  query.className = t[3];
  if (t.size() == 8) {
    std::optional<int64_t> number = Integer(t[7]);
    bool knownOp = t[6] == u"=" || t[6] == u"!=" || t[6] == u"<>";
    if (!SameNoCase(t[4], u"WHERE") || !knownOp || !number) return std::nullopt;
    query.hasCondition = true;
    query.property = t[5];
    query.op = t[6];
    query.number = *number;
  }
  return query;
}

bool Matches(const WqlQuery& query, const WmiObject& object) {
  if (!query.hasCondition) return true;
  auto it = object.properties.find(query.property);
  if (it == object.properties.end() || !IsIntegerKind(it->second.type)) return false;
  bool equal = it->second.integer == query.number;
  return query.op == u"=" ? equal : !equal;
}

class ComWmiApi : public platform::ComWmi {
 public:
  explicit ComWmiApi(Machine& machine) : machine_(machine), internals_(machine) {}

  HResult CoInitializeEx(uint32_t coinit) override {
    Note("CoInitializeEx " + Hex(coinit));
    if (auto fault = internals_.CheckFault(FaultCall::kCoInitializeEx))
      return static_cast<HResult>(*fault);
    SimWmi::ThreadCom& com = Wmi().ThreadState(ThreadId());
    uint32_t model = coinit & kCoinitApartmentThreaded;
    if (com.count != 0) {
      if (com.model != model) return kRpcEChangedMode;
      ++com.count;
      return kSFalse;
    }
    com.count = 1;
    com.model = model;
    return kSOk;
  }

  void CoUninitialize() override {
    Note("CoUninitialize");
    SimWmi::ThreadCom& com = Wmi().ThreadState(ThreadId());
    if (com.count == 0) {
      Wmi().NoteUnbalancedUninit();
      return;
    }
    --com.count;
  }

  HResult CoInitializeSecurity(uint32_t authnLevel, uint32_t impLevel,
                               uint32_t capabilities) override {
    Note("CoInitializeSecurity level=" + std::to_string(authnLevel) +
         " imp=" + std::to_string(impLevel) + " caps=" + std::to_string(capabilities));
    if (auto fault = internals_.CheckFault(FaultCall::kCoInitializeSecurity)) {
      return static_cast<HResult>(*fault);
    }
    if (!ComOnThread()) return kCoENotInitialized;
    if (Wmi().SecuritySet()) return kRpcETooLate;
    Wmi().SetSecurity();
    return kSOk;
  }

  HResult CreateWbemLocator(uint32_t clsctx, ComObject* locator) override {
    Note("CoCreateInstance WbemLocator clsctx=" + Hex(clsctx));
    if (locator == nullptr) return kEInvalidArg;
    *locator = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kCoCreateInstance))
      return static_cast<HResult>(*fault);
    if (!ComOnThread()) return kCoENotInitialized;
    // The locator is an in-process server: a context without it finds no server.
    if (!Wmi().available() || (clsctx & kClsctxInprocServer) == 0) return kRegdbEClassNotReg;
    *locator = Handle(Wmi().NewObject(ComRecord{ComRecord::Kind::kLocator}));
    return kSOk;
  }

  HResult ConnectServer(ComObject locator, const char16_t* nameSpace,
                        ComObject* services) override {
    Note("ConnectServer " + Utf8(nameSpace));
    if (services == nullptr) return kWbemEInvalidParameter;
    *services = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kConnectServer))
      return static_cast<HResult>(*fault);
    if (Object(locator, ComRecord::Kind::kLocator) == nullptr) return kEInvalidArg;
    if (nameSpace == nullptr) return kWbemEInvalidParameter;
    if (!Wmi().HasNamespace(nameSpace)) return kWbemEInvalidNamespace;
    Wmi().SetSecurity();  // the first proxy sets COM's default security
    ComRecord record{ComRecord::Kind::kServices};
    record.nameSpace = nameSpace;
    *services = Handle(Wmi().NewObject(std::move(record)));
    return kSOk;
  }

  HResult SetProxyBlanket(ComObject proxy, uint32_t authnService, uint32_t authzService,
                          uint32_t authnLevel, uint32_t impLevel, uint32_t capabilities) override {
    ComRecord* record = Wmi().FindObject(HandleOf(proxy));
    const char* kind = record == nullptr                              ? "unknown"
                       : record->kind == ComRecord::Kind::kServices   ? "services"
                       : record->kind == ComRecord::Kind::kEnumerator ? "enumerator"
                                                                      : "other";
    Note(std::string("CoSetProxyBlanket ") + kind + " authn=" + Hex(authnService) +
         " authz=" + std::to_string(authzService) + " level=" + std::to_string(authnLevel) +
         " imp=" + std::to_string(impLevel) + " caps=" + std::to_string(capabilities));
    if (auto fault = internals_.CheckFault(FaultCall::kCoSetProxyBlanket)) {
      return static_cast<HResult>(*fault);
    }
    if (record == nullptr || (record->kind != ComRecord::Kind::kServices &&
                              record->kind != ComRecord::Kind::kEnumerator)) {
      return kEInvalidArg;
    }
    return kSOk;
  }

  HResult CreateInstanceEnum(ComObject services, const char16_t* className, int32_t flags,
                             ComObject* enumerator) override {
    Note("CreateInstanceEnum " + Utf8(className) + " flags=" + Hex(static_cast<uint32_t>(flags)));
    if (enumerator == nullptr) return kWbemEInvalidParameter;
    *enumerator = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kCreateInstanceEnum)) {
      return static_cast<HResult>(*fault);
    }
    ComRecord* record = Object(services, ComRecord::Kind::kServices);
    if (record == nullptr) return kEInvalidArg;
    if (className == nullptr || (flags & ~kKnownEnumFlags) != 0) return kWbemEInvalidParameter;
    WmiClass* c = Wmi().FindClass(record->nameSpace, className);
    if (c == nullptr) return kWbemEInvalidClass;
    *enumerator = NewEnumerator(*c, Instances(record->nameSpace, className, *c));
    return kSOk;
  }

  HResult ExecQuery(ComObject services, const char16_t* language, const char16_t* query,
                    int32_t flags, ComObject* enumerator) override {
    Note("ExecQuery " + Utf8(language) + " \"" + Utf8(query) +
         "\" flags=" + Hex(static_cast<uint32_t>(flags)));
    if (enumerator == nullptr) return kWbemEInvalidParameter;
    *enumerator = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kExecQuery))
      return static_cast<HResult>(*fault);
    ComRecord* record = Object(services, ComRecord::Kind::kServices);
    if (record == nullptr) return kEInvalidArg;
    if (language == nullptr || query == nullptr || (flags & ~kKnownEnumFlags) != 0) {
      return kWbemEInvalidParameter;
    }
    if (!SameNoCase(language, u"WQL")) return kWbemEInvalidQueryType;
    std::optional<WqlQuery> parsed = ParseWql(query);
    if (!parsed) return kWbemEInvalidQuery;
    WmiClass* c = Wmi().FindClass(record->nameSpace, parsed->className);
    if (c == nullptr) return kWbemEInvalidClass;
    std::vector<WmiObject> selected;
    for (WmiObject& object : Instances(record->nameSpace, parsed->className, *c)) {
      if (Matches(*parsed, object)) selected.push_back(std::move(object));
    }
    *enumerator = NewEnumerator(*c, std::move(selected));
    return kSOk;
  }

  HResult Next(ComObject enumerator, int32_t timeoutMs, ComObject* object,
               uint32_t* returned) override {
    Note("Next timeout=" + std::to_string(timeoutMs));
    if (object == nullptr || returned == nullptr) return kWbemEInvalidParameter;
    *object = nullptr;
    *returned = 0;
    if (auto fault = internals_.CheckFault(FaultCall::kNext)) return static_cast<HResult>(*fault);
    ComRecord* record = Object(enumerator, ComRecord::Kind::kEnumerator);
    if (record == nullptr) return kEInvalidArg;
    if (timeoutMs < 0 && timeoutMs != kWbemInfinite) return kWbemEInvalidParameter;
    if (record->next >= record->objects.size()) return kSFalse;
    uint32_t remaining = record->deliveryDelayMs - record->waitedMs;
    if (timeoutMs != kWbemInfinite && static_cast<uint32_t>(timeoutMs) < remaining) {
      Sleep(static_cast<uint32_t>(timeoutMs));
      // Another thread may have released the enumerator meanwhile.
      record = Object(enumerator, ComRecord::Kind::kEnumerator);
      if (record == nullptr) return kEInvalidArg;
      record->waitedMs += static_cast<uint32_t>(timeoutMs);
      return kWbemSTimedOut;
    }
    Sleep(remaining);
    record = Object(enumerator, ComRecord::Kind::kEnumerator);
    if (record == nullptr) return kEInvalidArg;
    record->waitedMs = 0;
    ComRecord handedOut{ComRecord::Kind::kObject};
    handedOut.object = record->objects[record->next++];
    *object = Handle(Wmi().NewObject(std::move(handedOut)));
    *returned = 1;
    return kSOk;
  }

  HResult Get(ComObject object, const char16_t* name, Variant* value) override {
    Note("Get " + Utf8(name));
    if (auto fault = internals_.CheckFault(FaultCall::kGet)) return static_cast<HResult>(*fault);
    ComRecord* record = Object(object, ComRecord::Kind::kObject);
    if (record == nullptr) return kEInvalidArg;
    if (name == nullptr || value == nullptr) return kWbemEInvalidParameter;
    auto it = record->object.properties.find(name);
    if (it == record->object.properties.end()) return kWbemENotFound;
    Wmi().NewVariant(it->second, value);
    return kSOk;
  }

  void Release(ComObject object) override {
    Note("Release");
    if (!Wmi().ReleaseObject(HandleOf(object))) Wmi().NoteInvalidHandle();
  }

  HResult VariantClear(Variant* value) override {
    if (value == nullptr) return kEInvalidArg;
    uintptr_t handle = reinterpret_cast<uintptr_t>(value->native);
    if (handle != 0) {
      VariantRecord* record = Wmi().FindVariant(handle);
      if (record == nullptr) {
        Wmi().NoteInvalidHandle();
        return kEInvalidArg;
      }
      SafeArrayRecord* array = record->array != 0 ? Wmi().FindArray(record->array) : nullptr;
      if (array != nullptr && array->locks != 0) return kDispEArrayIsLocked;
      Wmi().ClearVariant(handle);
    }
    *value = Variant{};
    return kSOk;
  }

  HResult SafeArrayGetLBound(SafeArray array, uint32_t dim, int32_t* bound) override {
    if (auto fault = internals_.CheckFault(FaultCall::kSafeArrayGetLBound)) {
      return static_cast<HResult>(*fault);
    }
    SafeArrayRecord* record = Array(array);
    if (record == nullptr || bound == nullptr) return kEInvalidArg;
    if (dim != 1) return kDispEBadIndex;
    *bound = record->lowerBound;
    return kSOk;
  }

  HResult SafeArrayGetUBound(SafeArray array, uint32_t dim, int32_t* bound) override {
    if (auto fault = internals_.CheckFault(FaultCall::kSafeArrayGetUBound)) {
      return static_cast<HResult>(*fault);
    }
    SafeArrayRecord* record = Array(array);
    if (record == nullptr || bound == nullptr) return kEInvalidArg;
    if (dim != 1) return kDispEBadIndex;
    *bound = static_cast<int32_t>(static_cast<int64_t>(record->lowerBound) + record->count - 1);
    return kSOk;
  }

  HResult SafeArrayAccessData(SafeArray array, void** data) override {
    if (auto fault = internals_.CheckFault(FaultCall::kSafeArrayAccessData)) {
      return static_cast<HResult>(*fault);
    }
    SafeArrayRecord* record = Array(array);
    if (record == nullptr || data == nullptr) return kEInvalidArg;
    ++record->locks;
    // An empty array still gives a pointer, as the SAFEARRAY's data member is.
    *data = record->bytes.empty() ? static_cast<void*>(&record->count) : record->bytes.data();
    return kSOk;
  }

  HResult SafeArrayUnaccessData(SafeArray array) override {
    SafeArrayRecord* record = Array(array);
    if (record == nullptr) return kEInvalidArg;
    if (record->locks == 0) return kEUnexpected;
    --record->locks;
    return kSOk;
  }

  HResult SafeArrayGetElement(SafeArray array, int32_t index, void* element) override {
    if (auto fault = internals_.CheckFault(FaultCall::kSafeArrayGetElement)) {
      return static_cast<HResult>(*fault);
    }
    SafeArrayRecord* record = Array(array);
    if (record == nullptr || element == nullptr) return kEInvalidArg;
    int64_t offset = static_cast<int64_t>(index) - record->lowerBound;
    if (offset < 0 || offset >= record->count) return kDispEBadIndex;
    uint32_t size = WmiElementSize(record->elementType);
    std::memcpy(element, record->bytes.data() + offset * size, size);
    return kSOk;
  }

 private:
  SimWmi& Wmi() { return machine_.wmi(); }
  // A class's instances as an enumeration starts: the stored objects, or for the class whose
  // provider lists the machine's adapters, those adapters.
  std::vector<WmiObject> Instances(std::u16string_view nameSpace, std::u16string_view className,
                                   const WmiClass& c) {
    if (IsNetAdapterClass(nameSpace, className)) return NetAdapterObjects(c, machine_.devices());
    return c.objects;
  }
  void Note(std::string line) { Wmi().NoteCall(std::move(line)); }
  uint32_t ThreadId() { return machine_.platform().kernel->GetCurrentThreadId(); }
  bool ComOnThread() { return Wmi().ThreadState(ThreadId()).count != 0; }
  void Sleep(uint32_t ms) {
    if (ms != 0) internals_.scheduler().Wait({}, ms);
  }

  static uintptr_t HandleOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }
  static ComObject Handle(uintptr_t handle) { return reinterpret_cast<ComObject>(handle); }

  ComRecord* Object(ComObject object, ComRecord::Kind kind) {
    ComRecord* record = Wmi().FindObject(HandleOf(object));
    if (record == nullptr && object != nullptr) Wmi().NoteInvalidHandle();
    return record != nullptr && record->kind == kind ? record : nullptr;
  }

  SafeArrayRecord* Array(SafeArray array) {
    if (array == nullptr) return nullptr;
    SafeArrayRecord* record = Wmi().FindArray(HandleOf(array));
    if (record == nullptr) Wmi().NoteInvalidHandle();
    return record;
  }

  ComObject NewEnumerator(const WmiClass& c, std::vector<WmiObject> objects) {
    ComRecord record{ComRecord::Kind::kEnumerator};
    record.objects = std::move(objects);
    record.deliveryDelayMs = c.deliveryDelayMs;
    return Handle(Wmi().NewObject(std::move(record)));
  }

  Machine& machine_;
  MachineInternals internals_;
};

}  // namespace

std::unique_ptr<platform::ComWmi> NewComWmiApi(Machine& machine) {
  return std::make_unique<ComWmiApi>(machine);
}

}  // namespace sim
