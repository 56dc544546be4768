// SPDX-License-Identifier: MIT
// Container input: see container_input.h.
#include "tools/unpelk/container_input.h"

#include <cerrno>
#include <cstring>

#include "common/file_io.h"
#include "common/file_system.h"
#include "container/container_format.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

ptrdiff_t read_counted(void* context, uint8_t* buffer, size_t capacity) {
  opened_container& container = *static_cast<opened_container*>(context);
  const ptrdiff_t got = read_descriptor(&container.fd, buffer, capacity);
  if (got > 0) {
    container.bytes_read += static_cast<uint64_t>(got);
    if (container.progress != nullptr) container.progress->update(container.bytes_read);
  }
  return got;
}

// Opens a named container, which must be a regular file.
bool open_named(const std::string& path, opened_container& container, file_status& info) {
  // Without blocking: opening a FIFO would wait for a writer before the
  // check below could refuse it. Reads from a regular file never block.
  container.fd = open_for_reading(path);
  if (container.fd < 0) {
    report(path, std::strerror(errno));
    return false;
  }
  container.owns_fd = true;
  if (const int error = descriptor_status(container.fd, info)) {
    report(path, std::strerror(error));
    return false;
  }
  if (info.kind != file_kind::regular) {
    report(path, info.kind == file_kind::directory ? "is a directory" : "not a regular file");
    return false;
  }
  container.size = info.size;
  return true;
}

// Takes standard input as it is: a pipe, a socket or a redirected file.
bool open_standard_input(opened_container& container, file_status& info) {
  container.fd = standard_input;
  // A container typed in is never meant; waiting for one would look like a hang.
  if (is_terminal(standard_input)) {
    report(container.name, "is a terminal, not a container");
    return false;
  }
  if (const int error = descriptor_status(standard_input, info)) {
    report(container.name, std::strerror(error));
    return false;
  }
  if (info.kind == file_kind::regular) {
    // A file handed over part-read (a script's own here-document) holds the
    // container from where it stands.
    const int64_t offset = descriptor_offset(standard_input);
    if (offset >= 0 && static_cast<uint64_t>(offset) <= info.size) {
      container.size = info.size - static_cast<uint64_t>(offset);
    }
  }
  return true;
}

}  // namespace

opened_container::~opened_container() {
  if (owns_fd) close_file(fd);
}

bool open_container(const std::string& operand, opened_container& container) {
  const bool standard_input_named = operand == standard_input_operand;
  container.name = standard_input_named ? "standard input" : operand;
  file_status info;
  const bool opened =
      standard_input_named ? open_standard_input(container, info) : open_named(operand, container, info);
  if (!opened) return false;
  container.identity = info.identity;
  container.status = info;
  container.source.read = read_counted;
  container.source.context = &container;
  const container_problem problem = read_container_header(container.source, container.header);
  if (problem.fault != container_fault::none) {
    report(container.name, problem.text);
    return false;
  }
  return true;
}

bool holds_container(const std::string& path) {
  file_status info;
  if (path_status(path, info) != 0 || info.kind != file_kind::regular) return false;
  int fd = open_for_reading(path);
  if (fd < 0) return false;
  uint8_t start[sizeof container_magic] = {};
  size_t got = 0;
  while (got < sizeof start) {
    const ptrdiff_t step = read_descriptor(&fd, start + got, sizeof start - got);
    if (step <= 0) break;
    got += static_cast<size_t>(step);
  }
  close_file(fd);
  return got == sizeof start && std::memcmp(start, container_magic, sizeof start) == 0;
}

}  // namespace pelk
