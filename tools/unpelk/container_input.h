// SPDX-License-Identifier: MIT
// Where a container is read from: a regular file named on the command line,
// or standard input, which may be a pipe. Reads are counted on their way to
// the decoder, which is what a progress line shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/progress_line.h"
#include "container/container_reader.h"
#include "common/file_system.h"

namespace pelk {

// An open container with its header read; closes what it opened.
struct opened_container {
  std::string name;  // for messages: the operand, or "standard input"
  int fd = -1;
  bool owns_fd = false;
  // The container's length, where it is known before reading: a regular
  // file's size from the current offset on. Unknown for a pipe.
  std::optional<uint64_t> size;
  file_identity identity;  // a pipe's too, where the system gives it one
  file_status status;      // what was opened: a file's mode and time travel to what it restores
  byte_source source;
  container_header header;
  uint64_t bytes_read = 0;             // so far, header included
  progress_line* progress = nullptr;   // told of every read, while set

  opened_container() = default;
  opened_container(const opened_container&) = delete;
  opened_container& operator=(const opened_container&) = delete;
  ~opened_container();
};

// Opens the operand ("-" for standard input) and reads the header, or
// reports why not against its name and returns false. A named file must be
// a regular file; standard input may be anything but a terminal.
bool open_container(const std::string& operand, opened_container& container);

// Whether path names a regular file (or a link to one) that begins with a
// container's magic bytes: a file that a restore must not replace by
// accident, as two containers matched by one glob would have it.
bool holds_container(const std::string& path);

}  // namespace pelk
