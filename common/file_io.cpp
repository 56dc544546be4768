// SPDX-License-Identifier: MIT
// Files as sources and sinks: see file_io.h.
#include "common/file_io.h"

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace pelk {

ptrdiff_t read_descriptor(void* fd_pointer, uint8_t* buffer, size_t capacity) {
  const int fd = *static_cast<int*>(fd_pointer);
  for (;;) {
    const ssize_t got = ::read(fd, buffer, capacity);
    if (got >= 0 || errno != EINTR) return got;
  }
}

int write_descriptor(void* fd_pointer, const uint8_t* data, size_t size) {
  const int fd = *static_cast<int*>(fd_pointer);
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int overwrite_descriptor(void* fd_pointer, uint64_t offset, const uint8_t* data, size_t size) {
  const int fd = *static_cast<int*>(fd_pointer);
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    data += written;
    offset += static_cast<uint64_t>(written);
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int rewind_descriptor(int fd, bool empty) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return errno;
  if (empty && ::ftruncate(fd, 0) != 0) return errno;
  return 0;
}

}  // namespace pelk
