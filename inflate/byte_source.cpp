// SPDX-License-Identifier: MIT
// Buffered input: see byte_source.h.
#include "inflate/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pelk {

bool refill(byte_source& source) {
  if (source.at_end || source.read_errno != 0) return false;
  const size_t unused = source.end - source.pos;
  if (source.pos > 0) {
    std::memmove(source.buffer.get(), source.buffer.get() + source.pos, unused);
    source.offset += source.pos;
    source.pos = 0;
    source.end = unused;
  }
  if (source.end == input_buffer_size) return false;
  const ptrdiff_t got = source.read(source.context, source.buffer.get() + source.end,
                                    input_buffer_size - source.end);
  if (got < 0) {
    source.read_errno = errno != 0 ? errno : EIO;
    return false;
  }
  if (got == 0) {
    source.at_end = true;
    return false;
  }
  source.end += static_cast<size_t>(got);
  return true;
}

int next_byte(byte_source& source) {
  if (source.pos == source.end && !refill(source)) return -1;
  return source.buffer[source.pos++];
}

bool exhausted(byte_source& source) {
  return source.pos == source.end && !refill(source);
}

ptrdiff_t read_memory(void* memory_input_pointer, uint8_t* buffer, size_t capacity) {
  memory_input& input = *static_cast<memory_input*>(memory_input_pointer);
  const size_t count = std::min({capacity, input.size, input.chunk});
  if (count == 0) return 0;
  std::memcpy(buffer, input.data, count);
  input.data += count;
  input.size -= count;
  return static_cast<ptrdiff_t>(count);
}

}  // namespace pelk
