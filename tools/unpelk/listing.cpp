// The -l listing: see listing.h.
#include "tools/unpelk/listing.h"

#include <cinttypes>
#include <cstdio>

#include "tools/unpelk/stored_name.h"

namespace pelk {

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

std::string list_heading() {
  return "  compressed  uncompressed   ratio  date       time      name";
}

std::string list_line(const container_header& header, uint64_t compressed_size, int current_year) {
  const stamp_time t = decode_stamp(header.stamp, current_year);
  const double saving =
      header.size_field == 0 ? 0.0 : 100.0 * (1.0 - static_cast<double>(compressed_size) / header.size_field);
  char line[160];
  std::snprintf(line, sizeof line, "%12" PRIu64 "  %12" PRIu32 "  %5.1f%%  %04d-%02d-%02d %02d:%02d:%02d  ",
                compressed_size, header.size_field, saving, t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return line + (header.has_name ? printable(header.name) : std::string("(no name)"));
}

}  // namespace pelk
