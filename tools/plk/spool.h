// SPDX-License-Identifier: MIT
// Standard input held whole before it is compressed. A container gives the
// source's length before its data, so a stream has to be read to its end
// first: up to memory_spool_bytes in memory, and past that in a temporary
// file whose name is removed as soon as it is made, so that it leaves
// nothing behind whatever ends the run, a kill included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelk {

inline constexpr size_t memory_spool_bytes = size_t{16} << 20;

class spooled_input {
 public:
  spooled_input() = default;
  spooled_input(const spooled_input&) = delete;
  spooled_input& operator=(const spooled_input&) = delete;
  ~spooled_input();

  // Reads fd to its end. Returns "" or why it could not be held, as a
  // report's reason.
  std::string fill(int fd);

  uint64_t size() const { return size_; }

  // Hands the held bytes out from the start, in the manner of pelk_read_fn
  // (`self` is the spooled_input).
  static ptrdiff_t read(void* self, void* buffer, size_t capacity);

 private:
  std::string spill();  // moves what memory holds into the file

  std::vector<uint8_t> memory_;
  int file_ = -1;  // the temporary file, once memory is not enough
  uint64_t size_ = 0;
  uint64_t position_ = 0;  // of the next read, in memory
};

}  // namespace pelk
