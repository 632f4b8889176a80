// The trap record limit an administrator sets: the REG_DWORD value TrapRecordLimit under the
// agent's parameters key, the records kept per trap key (trap/trap_record_writer.h).
#pragma once

#include <cstdint>

namespace crv {

inline constexpr char16_t kTrapRecordLimitValueName[] = u"TrapRecordLimit";

// The default when the key or value is missing, not a REG_DWORD, or 0 (an unbounded tree is
// never what a setting asks for); a value outside the range is taken to its nearer end, with
// one report.
uint32_t ReadTrapRecordLimit();

}  // namespace crv
