// SPDX-License-Identifier: MIT
// The progress line of both programs: percent, speed and time left, drawn in
// place on standard error while a long file is compressed or restored, and
// erased when the work ends.
//
// It appears only where it cannot disturb anything: standard error is a
// terminal and the work is long. Everywhere else every call does nothing, so
// a pipe, a log file or a test sees exactly what it saw before, and callers
// need no checks of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pelk {

// Below this much work (bytes of a source or a container) the run ends
// before a line would be worth reading.
inline constexpr uint64_t progress_threshold = uint64_t{64} << 20;

class progress_line {
 public:
  // label starts the line ("pelk:", "unpelk: big.plk:") and must already be
  // safe to print on a terminal; total bytes make 100%. The line is shown
  // when `wanted`, total is at least progress_threshold and standard error
  // is a terminal; it is drawn at once, at 0%.
  progress_line(std::string label, uint64_t total, bool wanted = true);
  ~progress_line();
  progress_line(const progress_line&) = delete;
  progress_line& operator=(const progress_line&) = delete;

  // `done` bytes of the total are behind; redraws a few times a second.
  void update(uint64_t done);

  // Erases the line, leaving the cursor where the line began; the line is
  // gone for good, and later calls do nothing. Anything that writes to the
  // terminal (an error report) comes after this.
  void finish();

  // update() as a callback whose context is a progress_line.
  static void on_progress(void* line, uint64_t done);

 private:
  void draw(uint64_t done, std::chrono::steady_clock::time_point now);

  std::string label_;
  uint64_t total_;
  bool shown_;
  size_t drawn_columns_ = 0;  // what the next drawing or the erasure must cover
  std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace pelk
