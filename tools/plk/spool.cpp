// SPDX-License-Identifier: MIT
// Standard input held whole: see spool.h.
//
// The temporary file goes to the system's temporary directory
// (open_scratch_file): beside the target there may be no target at all
// (standard output), and a large stream belongs where the system keeps
// large scratch files.
#include "tools/plk/spool.h"

#include <cerrno>
#include <cstring>

#include "common/file_io.h"
#include "common/file_system.h"

namespace pelk {
namespace {

constexpr size_t read_chunk = 128 * 1024;

}  // namespace

spooled_input::~spooled_input() {
  if (file_ >= 0) close_file(file_);
}

std::string spooled_input::spill() {
  std::string directory;
  if (const int error = open_scratch_file(file_, directory)) {
    return "cannot hold it in a temporary file in " + directory + ": " + std::strerror(error);
  }
  if (const int error = write_descriptor(&file_, memory_.data(), memory_.size())) {
    return std::string("cannot hold it in a temporary file: ") + std::strerror(error);
  }
  std::vector<uint8_t>().swap(memory_);
  return "";
}

std::string spooled_input::fill(int fd) {
  std::vector<uint8_t> chunk(read_chunk);
  for (;;) {
    const ptrdiff_t got = read_descriptor(&fd, chunk.data(), chunk.size());
    if (got < 0) return std::strerror(errno);
    if (got == 0) break;
    const size_t count = static_cast<size_t>(got);
    size_ += count;
    if (file_ < 0 && memory_.size() + count > memory_spool_bytes) {
      if (std::string failure = spill(); !failure.empty()) return failure;
    }
    if (file_ < 0) {
      memory_.insert(memory_.end(), chunk.data(), chunk.data() + count);
    } else if (const int error = write_descriptor(&file_, chunk.data(), count)) {
      return std::string("cannot hold it in a temporary file: ") + std::strerror(error);
    }
  }
  if (file_ >= 0) {
    if (const int error = rewind_file(file_)) return std::strerror(error);
  }
  return "";
}

ptrdiff_t spooled_input::read(void* self, void* buffer, size_t capacity) {
  spooled_input& input = *static_cast<spooled_input*>(self);
  if (input.file_ >= 0) return read_descriptor(&input.file_, static_cast<uint8_t*>(buffer), capacity);
  const size_t left = input.memory_.size() - static_cast<size_t>(input.position_);
  const size_t count = left < capacity ? left : capacity;
  if (count != 0) std::memcpy(buffer, input.memory_.data() + input.position_, count);
  input.position_ += count;
  return static_cast<ptrdiff_t>(count);
}

}  // namespace pelk
