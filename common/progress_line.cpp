// SPDX-License-Identifier: MIT
// The progress line: see progress_line.h.
//
//   unpelk: big.plk:   37%  112.3 MB/s  0:12 left
//
// Each drawing starts with a carriage return and overwrites the one before;
// spaces cover what a shorter line leaves of a longer one, and the erasure
// is a line of spaces between two carriage returns, which every terminal
// understands (no escape sequences). The line never reaches the last column:
// a terminal wraps there, and a carriage return would then go back to the
// second half of the line only, leaving the first on the screen for good. A
// label too long for the width is cut and ends in "...".
//
// Speed is the average since the start (MB are 10^6 bytes), steadier than
// the speed of the last interval and as good a guide to the time left for
// one file on one device.
#include "common/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/file_io.h"
#include "common/file_system.h"

namespace pelk {
namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(250);
constexpr size_t default_columns = 80;

// Columns a terminal may give text: an ASCII byte takes one; any other
// character is counted as two, the most a wide (CJK) character takes, so
// the estimate errs towards a shorter line. Continuation bytes take none.
size_t columns_of(const std::string& text) {
  size_t columns = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      columns += 1;
    } else if ((byte & 0xC0) != 0x80) {
      columns += 2;
    }
  }
  return columns;
}

// The longest start of text that fits in `columns`, cut between characters.
std::string cut_to(const std::string& text, size_t columns) {
  size_t used = 0, end = 0;
  while (end < text.size()) {
    const auto byte = static_cast<unsigned char>(text[end]);
    const size_t width = byte < 0x80 ? 1 : 2;
    if (used + width > columns) break;
    used += width;
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return text.substr(0, end);
}

size_t line_columns() {
  const unsigned columns = pelk::terminal_columns(standard_error);
  return columns > 0 ? columns : default_columns;
}

// Best effort: a terminal that cannot take the line changes nothing else.
void write_all(const std::string& text) {
  int fd = standard_error;
  static_cast<void>(write_descriptor(&fd, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string time_text(double seconds) {
  const auto whole = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  if (whole < 3600) {
    std::snprintf(text, sizeof text, "%u:%02u", unsigned(whole / 60), unsigned(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%u:%02u:%02u", unsigned(whole / 3600), unsigned(whole / 60 % 60),
                  unsigned(whole % 60));
  }
  return text;
}

}  // namespace

progress_line::progress_line(std::string label, uint64_t total, bool wanted)
    : label_(std::move(label)),
      total_(total),
      shown_(wanted && total >= progress_threshold && is_terminal(standard_error)),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {
  if (shown_) draw(0, start_);
}

progress_line::~progress_line() { finish(); }

void progress_line::update(uint64_t done) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_draw_ >= redraw_interval) draw(done, now);
}

void progress_line::on_progress(void* line, uint64_t done) { static_cast<progress_line*>(line)->update(done); }

void progress_line::finish() {
  if (!shown_) return;
  shown_ = false;
  write_all("\r" + std::string(drawn_columns_, ' ') + "\r");
}

void progress_line::draw(uint64_t done, std::chrono::steady_clock::time_point now) {
  last_draw_ = now;
  // In floating point: done * 100 could pass 2^64. A source that grew as it
  // was read stays at 100%; one not yet done never shows it.
  int percent = 100;
  if (done < total_) {
    percent = std::min(99, static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total_)));
  }
  char figures[96];
  int length = std::snprintf(figures, sizeof figures, "%3d%%", percent);
  const double seconds = std::chrono::duration<double>(now - start_).count();
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    const double left = done < total_ ? static_cast<double>(total_ - done) / rate : 0;
    // Beyond 100 hours the estimate says nothing worth the columns.
    const std::string left_text = left < 360000 ? "  " + time_text(left) + " left" : "";
    length = std::snprintf(figures, sizeof figures, "%3d%%  %.1f MB/s%s", percent, rate / 1e6, left_text.c_str());
  }
  const std::string figures_text(figures, static_cast<size_t>(std::max(length, 0)));

  const size_t room = line_columns() - 1;
  std::string line;
  if (columns_of(label_) + 2 + figures_text.size() <= room) {
    line = label_ + "  " + figures_text;
  } else if (room >= figures_text.size() + 5) {
    line = cut_to(label_, room - figures_text.size() - 5) + "...  " + figures_text;
  } else {
    line = cut_to(figures_text, room);
  }
  const size_t columns = columns_of(line);
  std::string text = "\r" + line;
  if (columns < drawn_columns_) text.append(drawn_columns_ - columns, ' ');
  drawn_columns_ = std::max(columns, drawn_columns_);
  write_all(text);
}

}  // namespace pelk
