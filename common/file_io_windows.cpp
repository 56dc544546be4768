// SPDX-License-Identifier: MIT
// Files as sources and sinks over the C runtime's descriptors of Windows:
// see file_io.h. Descriptors are in binary mode, so bytes pass unchanged.
// A call moves at most INT_MAX bytes (the runtime counts in int), and there
// is no pwrite: an overwrite writes at the offset through the handle and
// puts the file position back.
#include "common/file_io.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <io.h>
#include <windows.h>

#include "common/windows_paths.h"

namespace pelk {
namespace {

unsigned clamp(size_t size) { return size < INT_MAX ? static_cast<unsigned>(size) : INT_MAX; }

}  // namespace

ptrdiff_t read_descriptor(void* fd_pointer, uint8_t* buffer, size_t capacity) {
  return ::_read(*static_cast<int*>(fd_pointer), buffer, clamp(capacity));
}

int write_descriptor(void* fd_pointer, const uint8_t* data, size_t size) {
  const int fd = *static_cast<int*>(fd_pointer);
  while (size > 0) {
    const int written = ::_write(fd, data, clamp(size));
    if (written < 0) return errno;
    if (written == 0) return EIO;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int overwrite_descriptor(void* fd_pointer, uint64_t offset, const uint8_t* data, size_t size) {
  const int fd = *static_cast<int*>(fd_pointer);
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  if (::GetFileType(handle) != FILE_TYPE_DISK) return ESPIPE;
  const int64_t position = ::_lseeki64(fd, 0, SEEK_CUR);
  if (position < 0) return errno;
  int error = 0;
  while (size > 0 && error == 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!::WriteFile(handle, data, clamp(size), &written, &at)) {
      error = errno_from_windows(::GetLastError());
    } else if (written == 0) {
      error = EIO;
    }
    data += written;
    offset += written;
    size -= written;
  }
  // A synchronous handle's position follows a write at an offset.
  if (::_lseeki64(fd, position, SEEK_SET) < 0 && error == 0) error = errno;
  return error;
}

int rewind_descriptor(int fd, bool empty) {
  if (::_lseeki64(fd, 0, SEEK_SET) != 0) return errno;
  if (empty && ::_chsize_s(fd, 0) != 0) return errno;
  return 0;
}

}  // namespace pelk
