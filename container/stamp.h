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

}  // namespace pelk
