// SPDX-License-Identifier: MIT
// What plk does to compress one input: a named file into FILE.plk (or the
// -o file, or standard output), or standard input. Each reports its own
// failures as one line naming the file concerned and returns whether it
// succeeded; an old target is replaced only by a whole, verified container.
#pragma once

#include <cstdint>
#include <string>

#include "tools/plk/options.h"

namespace pelk {

// The choices every compression heeds, and what -v adds up.
struct compression_run {
  const plk_options& options;
  unsigned threads;  // 1: sequentially
  bool progress;     // a progress line may be drawn
  uint64_t files = 0, bytes_in = 0, bytes_out = 0;
};

bool compress_named_file(const std::string& path, compression_run& run);

bool compress_standard_input(compression_run& run);

// The -v line of one file: its name, the ratio of the compressed size to
// the original, both sizes in the order the work went, the output's name
// and the speed in original bytes a second.
void report_figures(const std::string& name, uint64_t from_bytes, uint64_t to_bytes, bool restoring,
                    const std::string& output_name, double seconds);

// The -v line of the totals of several files.
void report_compression_totals(const compression_run& run);

}  // namespace pelk
