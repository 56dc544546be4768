// The -l listing: one line per container with its sizes, ratio, decoded
// time stamp and stored name, in columns that stay aligned whatever the
// header holds. Listing reads only the header and the container's length;
// a figure that the header cannot honestly give is shown as unknown rather
// than computed from a field that is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "container/container_reader.h"

namespace pelk {

struct stamp_time {
  int year, month, day, hour, minute, second;
};

// Unpacks a header stamp (bits 0-4 seconds/2, 5-10 minutes, 11-15 hours,
// 16-20 day-1, 21-25 month from 0, 26-31 (year-1980) mod 64). The year field
// only fixes the year modulo 64; the year shown is the latest with that
// remainder that is not after current_year.
stamp_time decode_stamp(uint32_t stamp, int current_year);

// Whether the fields name a real moment: the fields are wide enough for a
// month 32, a February 31st, an hour 31 or a second 62.
bool is_real_time(const stamp_time& t);

std::string list_heading();

// compressed_size is the container's size in bytes; the original size is
// the header's size field (the source's length modulo 2^32).
std::string list_line(const container_header& header, uint64_t compressed_size, int current_year);

}  // namespace pelk
