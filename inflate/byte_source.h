// SPDX-License-Identifier: MIT
// Buffered input for the container reader and the inflater.
//
// A container is read front to back exactly once, and its parts have no
// lengths: the header's name ends at a zero byte and the deflate stream ends
// wherever its final block ends. So one buffer serves all three readers in
// turn (header, inflater, trailer), and each leaves `pos` at the first byte it
// did not use. The buffer has a fixed size, which keeps the memory of a run
// constant whatever the length of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/stream_io.h"

namespace pelk {

inline constexpr size_t input_buffer_size = 128 * 1024;

struct byte_source {
  read_function read = nullptr;
  void* context = nullptr;
  std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(input_buffer_size);
  size_t pos = 0;          // next unused byte
  size_t end = 0;          // one past the last byte held
  uint64_t offset = 0;     // file offset of buffer[0]
  bool at_end = false;     // the reader reported the end of the input
  int read_errno = 0;      // nonzero once a read failed
};

// Moves the unused bytes to the front and reads once into the free room.
// Returns false when nothing was added (end of input or a failed read).
bool refill(byte_source& source);

// The next byte, or -1 when the input is exhausted (or failed).
int next_byte(byte_source& source);

// True when no byte is left, reading more if needed to find out.
bool exhausted(byte_source& source);

inline uint64_t position(const byte_source& source) { return source.offset + source.pos; }

// A source over bytes in memory; it hands out at most `chunk` bytes per read.
struct memory_input {
  const uint8_t* data;
  size_t size;
  size_t chunk = input_buffer_size;
};
ptrdiff_t read_memory(void* memory_input_pointer, uint8_t* buffer, size_t capacity);

}  // namespace pelk
