// Reports: every diagnostic of the agent goes to the exported sink with (code, message,
// value). Codes use the Windows message-table layout: severity, facility 0x435, code.
#pragma once

#include <cstdint>

extern "C" int32_t CrvNicMgmtReportError(uint32_t code, const char16_t* message, uint32_t value);

namespace crv {

constexpr uint32_t kReportInformation = 0x44350127;
constexpr uint32_t kReportAllocationFailed = 0x84350101;
constexpr uint32_t kReportKeyNotCreated = 0x84350106;
constexpr uint32_t kReportKeyNotOpened = 0x84350108;
constexpr uint32_t kReportValueNotRead = 0x84350109;
constexpr uint32_t kReportValueNotWritten = 0x8435010B;
constexpr uint32_t kReportThreadNotStarted = 0x8435010E;
constexpr uint32_t kReportNdisQueryFailed = 0x84350110;
constexpr uint32_t kReportTrapSinkNotCreated = 0x84350112;
constexpr uint32_t kReportWaitFailed = 0x8435011A;
constexpr uint32_t kReportCollectionStalled = 0x8435011B;

inline void Report(uint32_t code, const char16_t* message, uint32_t value) {
  CrvNicMgmtReportError(code, message, value);
}

// The informational report with a fixed text.
inline void ReportInfo(const char16_t* message, uint32_t value) {
  Report(kReportInformation, message, value);
}

}  // namespace crv
