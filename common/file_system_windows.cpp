// SPDX-License-Identifier: MIT
// The file-system vocabulary over the Windows API: see file_system.h and
// windows_paths.h.
//
// A name's status comes from a handle opened with no access rights at all
// (which neither conflicts with another program's sharing mode nor changes
// anything), FILE_FLAG_BACKUP_SEMANTICS so that directories open too, and,
// for link_status, FILE_FLAG_OPEN_REPARSE_POINT so that a symbolic link is
// seen rather than followed. Identity is the volume serial number with the
// file index, which two names of one file share whatever their case, their
// "." and ".." parts, or hard links.
#include "common/file_system.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "common/wide_text.h"
#include "common/windows_paths.h"

namespace pelk {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr uint64_t default_name_max = 255;

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

// FILETIME counts 100 ns from 1601; file_time counts from 1970.
constexpr int64_t filetime_ticks_per_second = 10000000;
constexpr int64_t filetime_ticks_to_1970 = 116444736000000000;

file_time time_from(const FILETIME& time) {
  const int64_t ticks = static_cast<int64_t>(uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) -
                        filetime_ticks_to_1970;
  int64_t seconds = ticks / filetime_ticks_per_second, rest = ticks % filetime_ticks_per_second;
  if (rest < 0) {
    --seconds;
    rest += filetime_ticks_per_second;
  }
  return {seconds, static_cast<uint32_t>(rest * 100)};
}

FILETIME filetime_from(const file_time& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.seconds * filetime_ticks_per_second + time.nanoseconds / 100 +
                                               filetime_ticks_to_1970);
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

int handle_status(HANDLE handle, file_status& status, bool see_links) {
  status = file_status{};
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR: status.kind = file_kind::character_device; return 0;
    case FILE_TYPE_PIPE: status.kind = file_kind::fifo; return 0;
    case FILE_TYPE_DISK: break;
    default: status.kind = file_kind::other; return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) {
    // Wine cannot give the volume of a standard stream redirected from a
    // file; its size and kind are still there, and it has no identity.
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
      return errno_from_windows(::GetLastError());
    }
    status.kind = standard.Directory ? file_kind::directory : file_kind::regular;
    status.size = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
    return 0;
  }
  status.identity = {info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
  status.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  status.modified = time_from(info.ftLastWriteTime);
  status.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? file_kind::directory : file_kind::regular;
  if (see_links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
        tag.ReparseTag == IO_REPARSE_TAG_SYMLINK) {
      status.kind = file_kind::symbolic_link;
    }
  }
  return 0;
}

int name_status(const std::string& path, file_status& status, bool see_links) {
  const std::wstring wide = system_path(path);
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (see_links ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const HANDLE handle = ::CreateFileW(wide.c_str(), 0, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return errno_from_windows(::GetLastError());
  const int error = handle_status(handle, status, see_links);
  ::CloseHandle(handle);
  return error;
}

int open_with(const std::string& path, DWORD access, int crt_flags) {
  const std::wstring wide = system_path(path);
  const HANDLE handle = ::CreateFileW(wide.c_str(), access, share_all, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errno_from_windows(::GetLastError());
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), crt_flags | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

}  // namespace

std::wstring system_path(const std::string& path) {
  const std::optional<utf16_string> wide = utf16_from_utf8(path);
  if (!wide || wide->empty()) return {};
  const DWORD needed = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  if (needed == 0) return *wide;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide->c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return *wide;
  full.resize(length);
  if (starts_with(full, L"\\\\?\\") || starts_with(full, L"\\\\.\\")) return full;
  if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int errno_from_windows(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return EIO;
  }
}

int path_status(const std::string& path, file_status& status) { return name_status(path, status, false); }

int link_status(const std::string& path, file_status& status) { return name_status(path, status, true); }

int descriptor_status(int fd, file_status& status) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  return handle_status(handle, status, false);
}

int open_for_reading(const std::string& path) { return open_with(path, GENERIC_READ, _O_RDONLY); }

int open_for_writing_in_place(const std::string& path) { return open_with(path, GENERIC_WRITE, _O_WRONLY); }

// Opening never blocks on Windows; a descriptor is always blocking.
void make_blocking(int) {}

int close_file(int fd) { return ::_close(fd) == 0 ? 0 : errno; }

int64_t descriptor_offset(int fd) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) return -1;
  return ::_lseeki64(fd, 0, SEEK_CUR);
}

int rewind_file(int fd) { return ::_lseeki64(fd, 0, SEEK_SET) == 0 ? 0 : errno; }

bool is_terminal(int fd) {
  // Not _isatty, which is true of every character device, NUL included.
  DWORD mode;
  return ::GetConsoleMode(handle_of(fd), &mode) != 0;
}

unsigned terminal_columns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(handle_of(fd), &info)) return 0;
  return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

void copy_permissions(int, const file_status&) {}

int give_new_file_permissions(int) { return 0; }

int open_scratch_file(int& fd, std::string& directory) {
  wchar_t folder[MAX_PATH + 1], path[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return errno_from_windows(::GetLastError());
  directory = utf8_from_utf16(std::basic_string_view<utf16_unit>(reinterpret_cast<const utf16_unit*>(folder), length));
  // GetTempFileNameW makes the file, under a name of its own, and closes it;
  // it is opened again to be deleted when its last handle closes.
  if (::GetTempFileNameW(folder, L"plk", 0, path) == 0) return errno_from_windows(::GetLastError());
  const HANDLE handle = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const int error = errno_from_windows(::GetLastError());
    ::DeleteFileW(path);
    return error;
  }
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    ::CloseHandle(handle);
    return EMFILE;
  }
  return 0;
}

int remove_file(const std::string& path) {
  const std::wstring wide = system_path(path);
  return ::DeleteFileW(wide.c_str()) ? 0 : errno_from_windows(::GetLastError());
}

int give_mode_and_time(int fd, const file_status& from) {
  const FILETIME modified = filetime_from(from.modified);
  return ::SetFileTime(handle_of(fd), nullptr, nullptr, &modified) ? 0 : errno_from_windows(::GetLastError());
}

size_t file_name_start(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) return separator + 1;
  // "C:name" is name in drive C's current directory.
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

uint64_t longest_file_name(const std::string& directory) {
  // Asked through a handle of the directory, not of the volume's root,
  // which would need more rights than a user may have there.
  const std::wstring wide = system_path(directory.empty() ? "." : directory);
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), 0, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return default_name_max;
  DWORD longest = 0;
  const bool known = ::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0);
  ::CloseHandle(handle);
  return known && longest > 0 ? longest : default_name_max;
}

uint64_t file_name_units(std::string_view name) {
  const std::optional<utf16_string> wide = utf16_from_utf8(name);
  return wide ? wide->size() : name.size();
}

}  // namespace pelk
