// SPDX-License-Identifier: MIT
// Files as sources and sinks: the read, write and overwrite functions over a
// file descriptor that both programs use. Each takes a pointer to the
// descriptor as its context. POSIX in file_io.cpp; on Windows the C
// runtime's descriptors in file_io_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk {

// One read, retried when a signal interrupts it: the count, 0 at the end,
// -1 on failure (errno set).
ptrdiff_t read_descriptor(void* fd_pointer, uint8_t* buffer, size_t capacity);

// Writes all size bytes, retrying short and interrupted writes. Returns 0,
// or the errno of the failure; a write that makes no progress without an
// error, which retrying could repeat forever, fails as EIO.
int write_descriptor(void* fd_pointer, const uint8_t* data, size_t size);

// Writes size bytes at offset without moving the file position. Returns 0,
// or the errno of the failure (ESPIPE for a pipe or socket).
int overwrite_descriptor(void* fd_pointer, uint64_t offset, const uint8_t* data, size_t size);

// Moves the file position back to the start, for reading it again; with
// `empty`, also cuts the file to nothing, for writing it again. Returns 0,
// or the errno of the failure (ESPIPE for a pipe or socket).
int rewind_descriptor(int fd, bool empty);

}  // namespace pelk
