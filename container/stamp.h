// SPDX-License-Identifier: MIT
// The header's time stamp: local time packed into 32 bits.
//
//   bits  0-4   seconds / 2          bits 16-20  day of the month - 1
//   bits  5-10  minutes              bits 21-25  month, January 0
//   bits 11-15  hours                bits 26-31  (year - 1980) mod 64
//
// Day and month count from 0, unlike DOS stamps, and there is no time zone.
#pragma once

#include <cstdint>
#include <ctime>

namespace pelk {

uint32_t pack_local_stamp(const std::tm& local);

// The local time of t, packed; 0 when it cannot be converted.
uint32_t stamp_from_time(std::time_t t);

struct stamp_time {
  int year, month, day, hour, minute, second;
};

// Unpacks a stamp, months and days from 1. The year field only fixes the
// year modulo 64: the year given is the latest with that remainder that is
// not after current_year.
stamp_time decode_stamp(uint32_t stamp, int current_year);

// Whether the fields name a real moment: the fields are wide enough for a
// month 32, a February 31st, an hour 31 or a second 62.
bool is_real_time(const stamp_time& t);

}  // namespace pelk
