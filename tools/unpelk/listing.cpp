// SPDX-License-Identifier: MIT
// The -l listing: see listing.h.
//
// Columns, each of a fixed width:
//
//     compressed  uncompressed   ratio  date       time      name
//          54433        152089   64.2%  2026-12-08 17:24:30  report.txt
//             21             1  <-999%  invalid 0xFFFF0000   a
//     5000000000   >4294967295      --  2026-12-08 17:24:30  big.iso
//
// The ratio (space saved) is "%5.1f%%" down to -99.9%, then whole percent
// down to -999%, then "<-999%": a 1-byte file in a 20-byte container loses
// thousands of percent, and no wider figure may push the later columns.
//
// The size field holds the length modulo 2^32, so a source of 4 GiB or more
// shows only its remainder. That is detectable in one direction only. pelk
// keeps the smallest of the stored, fixed-code and dynamic-code forms of a
// block, and fixed codes never spend more than 9 bits on a byte (a literal
// of 144-255; a copy costs less per byte), plus a few bits per block of
// thousands of bytes. So a stream longer than a generous 10 bits a byte of
// the size field plus 64 bytes cannot hold that few bytes: the source is
// larger by a multiple of 4 GiB (or the container is damaged, which only
// -t can tell). Such a line shows the uncompressed size as ">4294967295"
// and the ratio as "--". A wrapped size whose remainder is large enough to
// explain the stream cannot be told from an honest one without decoding,
// and is listed as the header says.
//
// Decoding replaces guesswork: -l -v (and a container on a pipe, whose
// length only decoding can tell) shows the decoded length, and -v a check
// column between the ratio and the date. The totals line sums the sizes
// shown; a size known only to pass 4294967295 counts as that, and makes
// the total a bound, ">N".
#include "tools/unpelk/listing.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "container/container_format.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

// Whether the deflate stream is too long to hold only size_field bytes.
bool size_field_wrapped(const container_header& header, uint64_t compressed_size) {
  const uint64_t header_size = sized_header_bytes + (header.has_name ? header.name_length + 1 : 0);
  const uint64_t framing = header_size + trailer_bytes;
  const uint64_t stream_size = compressed_size > framing ? compressed_size - framing : 0;
  const uint64_t size = header.size_field;
  return stream_size > size + size / 4 + 64;
}

// Integer division rounded to the nearest, halves away from zero.
int64_t rounded_quotient(int64_t numerator, int64_t denominator) {
  return (numerator >= 0 ? numerator + denominator / 2 : numerator - denominator / 2) / denominator;
}

// The space saved, six characters wide; see the top of the file.
std::string ratio_text(uint64_t compressed_size, uint64_t original_size) {
  if (original_size == 0) return "--";
  // Halving both keeps the ratio, and keeps 11 and 1000 times the original
  // inside 64 bits; only decoded sizes and totals past a tebibyte need it.
  while (original_size > (uint64_t{1} << 40)) {
    original_size >>= 1;
    compressed_size >>= 1;
  }
  const auto original = static_cast<int64_t>(original_size);
  // From 11 times the original the saving is -1000% or worse; below that
  // the arithmetic stays far inside 64 bits.
  if (compressed_size >= 11 * original_size) return "<-999%";
  const int64_t saved = 1000 * (original - static_cast<int64_t>(compressed_size));
  const int64_t tenths = rounded_quotient(saved, original);
  char text[16];
  if (tenths >= -999) {
    std::snprintf(text, sizeof text, "%.1f%%", static_cast<double>(tenths) / 10.0);
  } else {
    const int64_t percent = rounded_quotient(saved, 10 * original);
    if (percent < -999) return "<-999%";
    std::snprintf(text, sizeof text, "%" PRId64 "%%", percent);
  }
  return text;
}

// Date and time, nineteen characters wide; a stamp that names no real
// moment is shown with its raw value, as wide as a date.
std::string stamp_text(uint32_t stamp, int current_year) {
  const stamp_time t = decode_stamp(stamp, current_year);
  char text[32];
  if (is_real_time(t)) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
  } else {
    std::snprintf(text, sizeof text, "invalid 0x%08" PRIX32 " ", stamp);
  }
  return text;
}

// What the uncompressed column shows: the decoded length when there is one,
// else the size field, or nothing when that cannot be the whole size.
std::optional<uint64_t> original_size(const list_entry& entry) {
  if (entry.decoded_size) return entry.decoded_size;
  if (size_field_wrapped(*entry.header, entry.compressed_size)) return std::nullopt;
  return entry.header->size_field;
}

uint64_t saturating_sum(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// The columns before the date: sizes, ratio and, with a verdict, the check.
// An original size that is not known is only known to be more than
// `original`, and has no ratio.
std::string figures(uint64_t compressed_size, uint64_t original, bool known, const char* verdict) {
  const std::string size_text = known ? std::to_string(original) : ">" + std::to_string(original);
  const std::string ratio = known ? ratio_text(compressed_size, original) : "--";
  char text[96];
  std::snprintf(text, sizeof text, "%12" PRIu64 "  %12s  %6s  ", compressed_size, size_text.c_str(),
                ratio.c_str());
  std::string line = text;
  if (verdict != nullptr) {
    std::snprintf(text, sizeof text, "%-8s  ", verdict);
    line += text;
  }
  return line;
}

}  // namespace

std::string list_heading(bool verbose) {
  return std::string("  compressed  uncompressed   ratio  ") + (verbose ? "check     " : "") +
         "date       time      name";
}

std::string list_line(const list_entry& entry, int current_year) {
  const container_header& header = *entry.header;
  const std::optional<uint64_t> original = original_size(entry);
  std::string line =
      figures(entry.compressed_size, original.value_or(UINT32_MAX), original.has_value(), entry.verdict);
  line += stamp_text(header.stamp, current_year) + "  ";
  return line + (header.has_name ? printable(header.name) : std::string("(no name)"));
}

void add_to_totals(list_totals& totals, const list_entry& entry) {
  const std::optional<uint64_t> original = original_size(entry);
  ++totals.containers;
  totals.compressed = saturating_sum(totals.compressed, entry.compressed_size);
  totals.original = saturating_sum(totals.original, original.value_or(uint64_t{UINT32_MAX}));
  totals.original_is_bound |= !original.has_value();
}

std::string totals_line(const list_totals& totals, bool verbose) {
  std::string line =
      figures(totals.compressed, totals.original, !totals.original_is_bound, verbose ? "" : nullptr);
  line.append(21, ' ');  // the date and time columns
  return line + "(total of " + std::to_string(totals.containers) + " containers)";
}

}  // namespace pelk
