// The Solarflare firmware version: the driver's WMI provider lists the machine's ports as
// EFX_Port objects in root\wmi, each with its MAC address and management controller firmware
// version. The query initialises COM for itself (multithreaded) and undoes it before it
// returns.
//
// Every element of a port's "currentmacaddress" that is compared is also written to standard
// output, one line each: "currentmacaddress[<index>]: <value in hexadecimal, two digits at
// least>". At most the first six elements are read: a MAC address has no more.
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "platform/platform.h"
#include "platform/scoped.h"

namespace crv {
namespace {

using platform::ComObject;
using platform::ComWmi;
using platform::ScopedComObject;
using platform::Variant;

constexpr char16_t kNamespace[] = u"ROOT\\WMI";
constexpr char16_t kQuery[] = u"SELECT * FROM EFX_Port where externalport != 0";
constexpr size_t kMacBytes = 6;
// WBEM_S_TIMEDOUT only says "nothing yet" (the driver's provider still answering): the read
// waits on, up to this much in all, and is then given up like a namespace out of reach.
constexpr uint32_t kNextTimeoutMs = 5000;
constexpr uint32_t kReadBudgetMs = 30000;

void PrintLine(const char* text, size_t length) {
  platform::Console& console = *platform::Os().console;
  console.Write(text, length);
  console.Flush();
}

void PrintElement(int32_t index, uint32_t value) {
  char line[48];
  std::snprintf(line, sizeof line, "currentmacaddress[%d]: %02X\n", static_cast<int>(index), value);
  PrintLine(line, std::strlen(line));
}

// Elements that fit the 32-bit slot they are compared in; an array of anything else (texts,
// variants, 64-bit numbers) cannot hold a MAC address.
bool IsSmallIntegerArray(uint16_t type) {
  switch (type & ~platform::kVtArray) {
    case platform::kVtI1:
    case platform::kVtUi1:
    case platform::kVtI2:
    case platform::kVtUi2:
    case platform::kVtI4:
    case platform::kVtUi4:
      return true;
    default:
      return false;
  }
}

// Whether the port's address is the adapter's. A port whose address cannot be read, or is
// empty or null, is taken as matching; so is one whose bounds cannot be read.
bool MacMatches(ComWmi& wmi, ComObject port, const uint8_t* mac) {
  Variant address;
  bool matching = true;
  if (wmi.Get(port, u"currentmacaddress", &address) == 0 && address.type != platform::kVtEmpty &&
      address.type != platform::kVtNull && (address.type & platform::kVtArray) != 0 &&
      address.array != nullptr) {
    int32_t lower = 0, upper = 0;
    if (!IsSmallIntegerArray(address.type)) {
      matching = false;
    } else if (wmi.SafeArrayGetLBound(address.array, 1, &lower) == 0 &&
               wmi.SafeArrayGetUBound(address.array, 1, &upper) == 0) {
      for (int64_t i = lower; i <= upper && i - lower < static_cast<int64_t>(kMacBytes); ++i) {
        uint32_t slot = 0;  // an element that cannot be read is compared as 0
        wmi.SafeArrayGetElement(address.array, static_cast<int32_t>(i), &slot);
        PrintElement(static_cast<int32_t>(i), slot);
        if (slot != mac[i - lower]) {
          matching = false;
          break;
        }
      }
    }
  }
  wmi.VariantClear(&address);
  return matching;
}

// Copies the port's "mcfwversion" into out when it is a text.
void CopyFirmwareVersion(ComWmi& wmi, ComObject port, char16_t* out) {
  Variant version;
  if (wmi.Get(port, u"mcfwversion", &version) == 0 && version.type == platform::kVtBstr &&
      version.text != nullptr) {
    size_t length =
        version.textLength < kEfxFirmwareChars - 1 ? version.textLength : kEfxFirmwareChars - 1;
    length = TextLengthBounded(version.text, length);
    for (size_t i = 0; i < length; ++i) out[i] = version.text[i];
    out[length] = 0;
  }
  wmi.VariantClear(&version);
}

// The ports' query, with every object it took released before COM is left; 1 when it ran to
// its end.
uint32_t QueryPorts(ComWmi& wmi, char16_t* out, const uint8_t* mac) {
  ScopedComObject locator, services, enumerator;
  if (wmi.CreateWbemLocator(platform::kClsctxInprocServer, locator.Receive()) < 0 ||
      wmi.ConnectServer(locator.Get(), kNamespace, services.Receive()) < 0) {
    return 0;
  }
  static constexpr char kConnected[] = "Connected to ROOT\\WMI WMI namespace\n";
  PrintLine(kConnected, sizeof kConnected - 1);
  if (wmi.SetProxyBlanket(services.Get(), platform::kRpcCAuthnWinnt, platform::kRpcCAuthzNone,
                          platform::kRpcCAuthnLevelCall, platform::kRpcCImpLevelImpersonate,
                          platform::kEoacNone) < 0 ||
      wmi.ExecQuery(services.Get(), u"WQL", kQuery,
                    platform::kWbemFlagForwardOnly | platform::kWbemFlagReturnImmediately,
                    enumerator.Receive()) < 0) {
    return 0;
  }
  uint32_t waitedMs = 0;
  for (;;) {
    ScopedComObject port;
    uint32_t returned = 0;
    platform::HResult hr = wmi.Next(enumerator.Get(), kNextTimeoutMs, port.Receive(), &returned);
    if (hr == platform::kWbemSTimedOut && returned == 0) {
      waitedMs += kNextTimeoutMs;
      if (waitedMs >= kReadBudgetMs) return 0;
      continue;
    }
    if (returned == 0 || !port.Holds()) break;
    if (MacMatches(wmi, port.Get(), mac)) CopyFirmwareVersion(wmi, port.Get(), out);
  }
  return 1;
}

}  // namespace

uint32_t GetEfxFirmwareByMac(char16_t* out, const uint8_t* mac) {
  ComWmi& wmi = *platform::Os().wmi;
  if (wmi.CoInitializeEx(platform::kCoinitMultithreaded) < 0) return 0;
  // Security is set once per process, by the first call or implicitly by the first WMI
  // connection (the platform inventory's); later calls answer RPC_E_TOO_LATE, which leaves
  // the process's security as the query needs it.
  platform::HResult security = wmi.CoInitializeSecurity(
      platform::kRpcCAuthnLevelDefault, platform::kRpcCImpLevelImpersonate, platform::kEoacNone);
  uint32_t ran = 0;
  if (security >= 0 || security == platform::kRpcETooLate) ran = QueryPorts(wmi, out, mac);
  wmi.CoUninitialize();
  return ran;
}

void GetSolarflareFWVersion(CMiniport& miniport) {
  char16_t version[kEfxFirmwareChars] = {};
  uint8_t mac[kMacBytes] = {};
  miniport.GetCurrentAddress(mac, kMacBytes);
  if (GetEfxFirmwareByMac(version, mac) == 0) return;  // WMI out of reach: keep the text
  CopyBounded(miniport.FirmwareVersion(), CMiniport::kFirmwareVersionChars, version);
}

}  // namespace crv
