// SPDX-License-Identifier: MIT
// The header's time stamp: see stamp.h.
#include "container/stamp.h"

namespace pelk {

uint32_t pack_local_stamp(const std::tm& local) {
  auto field = [](int value, uint32_t width, uint32_t shift) {
    return (static_cast<uint32_t>(value) & ((1u << width) - 1)) << shift;
  };
  return field(local.tm_sec >> 1, 5, 0) | field(local.tm_min, 6, 5) |
         field(local.tm_hour, 5, 11) | field(local.tm_mday - 1, 5, 16) |
         field(local.tm_mon, 5, 21) | field(local.tm_year + 48, 6, 26);
}

uint32_t stamp_from_time(std::time_t t) {
  std::tm local{};
  // The reentrant form: library callers may convert on several threads.
#ifdef _WIN32
  return ::localtime_s(&local, &t) == 0 ? pack_local_stamp(local) : 0;
#else
  return ::localtime_r(&t, &local) != nullptr ? pack_local_stamp(local) : 0;
#endif
}

namespace {

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

}  // namespace

stamp_time decode_stamp(uint32_t stamp, int current_year) {
  auto field = [stamp](int shift, int width) {
    return static_cast<int>((stamp >> shift) & ((1u << width) - 1));
  };
  const int first_year = 1980 + field(26, 6);
  // Floor division, since a year field ahead of the current year must step
  // back a whole period.
  const int behind = current_year - first_year;
  const int periods = behind >= 0 ? behind / 64 : -((-behind + 63) / 64);
  return {first_year + 64 * periods, field(21, 5) + 1, field(16, 5) + 1,
          field(11, 5), field(5, 6), field(0, 5) * 2};
}

bool is_real_time(const stamp_time& t) {
  return t.month >= 1 && t.month <= 12 && t.day <= days_in_month(t.year, t.month) && t.hour <= 23 &&
         t.minute <= 59 && t.second <= 58;
}

}  // namespace pelk
