// SPDX-License-Identifier: MIT
// How bytes come in and go out, for every part of Pelk that moves them: a
// function and a context pointer, so the same code reads a file descriptor,
// a buffer in memory or a library caller's callback.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk {

// Reads up to capacity bytes into buffer: the count, 0 at the end of the
// input, or -1 on failure (errno set where there is one).
using read_function = ptrdiff_t (*)(void* context, uint8_t* buffer, size_t capacity);

struct input_source {
  read_function read;
  void* context;
};

// Takes all size bytes: 0, or a nonzero error number (an errno value where
// there is one) when they could not all be taken.
using write_function = int (*)(void* context, const uint8_t* data, size_t size);

struct byte_sink {
  write_function write;
  void* context;
};

}  // namespace pelk
