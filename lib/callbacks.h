// SPDX-License-Identifier: MIT
// The caller's callbacks and output buffers as the internal byte sources
// and sinks see them, shared by the compression and the decompression calls.
//
// pelk.h lets a read report failure with any negative value and sets no
// errno, and lets a write fail with any nonzero value; inside, a read fails
// with -1 and errno, and a write with an errno-like number. A read that
// claims more than it was given room for is a failure too: trusting it would
// have the buffer's owner read past its end.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pelk.h"

namespace pelk {

struct callbacks {
  pelk_read_fn read;
  pelk_write_fn write;
  void* user;
};

inline ptrdiff_t read_callback(void* context, uint8_t* buffer, size_t capacity) {
  const callbacks& c = *static_cast<const callbacks*>(context);
  const ptrdiff_t got = c.read(c.user, buffer, capacity);
  if (got < 0 || static_cast<size_t>(got) > capacity) {
    errno = EIO;
    return -1;
  }
  return got;
}

inline int write_callback(void* context, const uint8_t* data, size_t size) {
  const callbacks& c = *static_cast<const callbacks*>(context);
  return c.write(c.user, data, size) == 0 ? 0 : EIO;
}

// The caller's output buffer: a write that does not fit fails with ENOSPC,
// which the memory calls report as PELK_ERROR_OUTPUT_TOO_SMALL.
struct memory_output {
  uint8_t* data;
  size_t capacity;
  size_t size;
};

inline int write_memory_output(void* context, const uint8_t* data, size_t size) {
  memory_output& output = *static_cast<memory_output*>(context);
  if (size > output.capacity - output.size) return ENOSPC;
  if (size != 0) std::memcpy(output.data + output.size, data, size);  // data may be null when size is 0
  output.size += size;
  return 0;
}

}  // namespace pelk
