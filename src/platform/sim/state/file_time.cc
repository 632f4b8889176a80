#include "platform/sim/state/file_time.h"

namespace sim {
namespace {

constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kTicksPerDay = 86400000ull * kTicksPerMs;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

platform::SystemTime FileTimeToSystemTime(uint64_t fileTime) {
  const int64_t days = static_cast<int64_t>(fileTime / kTicksPerDay) - kDaysFrom1601To1970;
  uint64_t msOfDay = (fileTime % kTicksPerDay) / kTicksPerMs;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  platform::SystemTime t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  // 1970-01-01 was a Thursday (4).
  t.dayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);
  t.hour = static_cast<uint16_t>(msOfDay / 3600000);
  t.minute = static_cast<uint16_t>(msOfDay / 60000 % 60);
  t.second = static_cast<uint16_t>(msOfDay / 1000 % 60);
  t.milliseconds = static_cast<uint16_t>(msOfDay % 1000);
  return t;
}

bool SystemTimeToFileTime(const platform::SystemTime& t, uint64_t* fileTime) {
  static const unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1) return false;
  unsigned monthDays = kDaysInMonth[t.month - 1] + (t.month == 2 && IsLeap(t.year) ? 1 : 0);
  if (t.day > monthDays || t.hour > 23 || t.minute > 59 || t.second > 59 || t.milliseconds > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(t.year, t.month, t.day) + kDaysFrom1601To1970;
  const uint64_t ms =
      ((static_cast<uint64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
  *fileTime = static_cast<uint64_t>(days) * kTicksPerDay + ms * kTicksPerMs;
  return true;
}

}  // namespace sim
