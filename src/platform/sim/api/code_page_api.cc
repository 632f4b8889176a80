// The simulated machine's ANSI code page is Windows-1252, as on a Western European or US
// English server.
#include <cstring>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using namespace platform;

constexpr uint32_t kCp1252 = 1252;

// Windows-1252's bytes 0x80-0x9F; the five undefined ones map to the C1 controls, as
// Windows maps them.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Widen(uint8_t b) {
  return (b >= 0x80 && b <= 0x9F) ? kHighControls[b - 0x80] : static_cast<char16_t>(b);
}

char Narrow(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

class CodePageApi : public CodePage {
 public:
  explicit CodePageApi(Machine& machine) : internals_(machine) {}

  int32_t MultiByteToWideChar(uint32_t codePage, uint32_t, const char* source, int32_t sourceLength,
                              char16_t* destination, int32_t destinationLength) override {
    if (auto fault = internals_.CheckFault(FaultCall::kMultiByteToWideChar)) return Fail(*fault);
    if (codePage != kCpAcp && codePage != kCp1252) return Fail(kErrorInvalidParameter);
    if (source == nullptr || sourceLength == 0 || destinationLength < 0) {
      return Fail(kErrorInvalidParameter);
    }
    int32_t count = sourceLength < 0 ? static_cast<int32_t>(std::strlen(source)) + 1 : sourceLength;
    if (destinationLength == 0) return count;
    if (destination == nullptr || destinationLength < count) return Fail(kErrorInsufficientBuffer);
    for (int32_t i = 0; i < count; ++i) destination[i] = Widen(static_cast<uint8_t>(source[i]));
    return count;
  }

  int32_t WideCharToMultiByte(uint32_t codePage, uint32_t, const char16_t* source,
                              int32_t sourceLength, char* destination,
                              int32_t destinationLength) override {
    if (auto fault = internals_.CheckFault(FaultCall::kWideCharToMultiByte)) return Fail(*fault);
    if (codePage != kCpAcp && codePage != kCp1252) return Fail(kErrorInvalidParameter);
    if (source == nullptr || sourceLength == 0 || destinationLength < 0) {
      return Fail(kErrorInvalidParameter);
    }
    int32_t count = sourceLength;
    if (count < 0) {
      count = 0;
      while (source[count] != 0) ++count;
      ++count;
    }
    if (destinationLength == 0) return count;
    if (destination == nullptr || destinationLength < count) return Fail(kErrorInsufficientBuffer);
    for (int32_t i = 0; i < count; ++i) destination[i] = Narrow(source[i]);
    return count;
  }

 private:
  int32_t Fail(uint32_t error) {
    internals_.SetLastError(error);
    return 0;
  }

  MachineInternals internals_;
};

}  // namespace

std::string ToAnsiCodePage(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(Narrow(c));
  return out;
}

std::unique_ptr<platform::CodePage> NewCodePageApi(Machine& machine) {
  return std::make_unique<CodePageApi>(machine);
}

}  // namespace sim
