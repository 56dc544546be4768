// SPDX-License-Identifier: MIT
// The -l listing: one line per container with its sizes, ratio, decoded
// time stamp and stored name, in columns that stay aligned whatever the
// header holds, and with several containers a line of totals. Listing reads
// only the header and the container's length, unless the stream is decoded
// (-l -v, or a container on a pipe); a figure that the header cannot
// honestly give is shown as unknown rather than computed from a field that
// is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "container/container_reader.h"
#include "container/stamp.h"

namespace pelk {

// One container as the listing shows it.
struct list_entry {
  const container_header* header;
  uint64_t compressed_size;  // the container's length in bytes
  // -l -v, or a container whose length had to be learnt by decoding it:
  // the decoded length when the stream was decoded to its end.
  std::optional<uint64_t> decoded_size;
  // -l -v: "ok", "bad crc", "bad size", "damaged" or "failed"; null without -v.
  const char* verdict = nullptr;
};

// What a listing of several containers adds up.
struct list_totals {
  uint64_t containers = 0;
  uint64_t compressed = 0;
  // The original sizes that are known, with 4294967295 for each that is
  // known only to be larger (the total is then a bound, shown as ">N").
  uint64_t original = 0;
  bool original_is_bound = false;
};

std::string list_heading(bool verbose);

// The line of one container; without a decoded size, the original size is
// the header's size field (the source's length modulo 2^32).
std::string list_line(const list_entry& entry, int current_year);

void add_to_totals(list_totals& totals, const list_entry& entry);

// "(total of N containers)" in the name column, the sums in theirs.
std::string totals_line(const list_totals& totals, bool verbose);

}  // namespace pelk
