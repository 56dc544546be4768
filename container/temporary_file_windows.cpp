// SPDX-License-Identifier: MIT
// Temporary files renamed into place, over the Windows API: see
// temporary_file.h.
//
// The file is created with CreateFileW (CREATE_NEW, so an existing name is
// never taken over), shared for deletion, so that it can be removed while
// still open, and handed to the C runtime as a binary descriptor. It takes
// its final name with MoveFileExW: MOVEFILE_REPLACE_EXISTING to replace a
// target (the C runtime's rename() refuses an existing one), and without it
// to claim a name only if it is free, which fails atomically when it is
// taken, as link() does on POSIX.
//
// Windows has no signals to end a console program: Ctrl+C, Ctrl+Break and
// closing the console window reach it as console control events, which a
// handler receives on a thread of its own while the program runs on. So the
// handler and the program share a lock: the program holds it while it
// creates, renames or removes the registered file, and the handler takes it
// for good, removes the file and lets the event take its course (the
// default handler ends the process). The handler never gives the lock back,
// so the program cannot rename the file after it was removed.
#include "container/temporary_file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "common/windows_paths.h"

namespace pelk {
namespace {

SRWLOCK pending_lock = SRWLOCK_INIT;
std::wstring* pending_path = nullptr;  // the registered file, or null

class pending_held {
 public:
  pending_held() { ::AcquireSRWLockExclusive(&pending_lock); }
  ~pending_held() { ::ReleaseSRWLockExclusive(&pending_lock); }
  pending_held(const pending_held&) = delete;
  pending_held& operator=(const pending_held&) = delete;
};

// With the lock held.
void set_pending(const std::wstring* path) {
  delete pending_path;
  pending_path = path != nullptr ? new std::wstring(*path) : nullptr;
}

BOOL WINAPI on_console_event(DWORD) {
  ::AcquireSRWLockExclusive(&pending_lock);
  if (pending_path != nullptr) ::DeleteFileW(pending_path->c_str());
  return FALSE;
}

// Six characters a file name may hold in any case: the names differ from
// run to run and from one process to the next, and CREATE_NEW settles any
// collision.
std::string random_suffix(uint64_t attempt) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t x = (uint64_t{::GetCurrentProcessId()} << 32) ^ ::GetTickCount64() ^ (attempt * 0x9E3779B97F4A7C15);
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9;
    suffix += letters[x % 36];
  }
  return suffix;
}

int close_checked(temporary_file& file) {
  const int error = close_file(file.fd);
  file.fd = -1;
  return error;
}

}  // namespace

int create_temporary(const std::string& final_path, const char* program, temporary_file& file) {
  const std::string prefix = directory_of(final_path) + "." + program + "-";
  for (uint64_t attempt = 0; attempt < 100; ++attempt) {
    const std::string path = prefix + random_suffix(attempt);
    const std::wstring wide = system_path(path);
    const pending_held hold;
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return errno_from_windows(error);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
      ::CloseHandle(handle);
      ::DeleteFileW(wide.c_str());
      return EMFILE;
    }
    set_pending(&wide);
    file.fd = fd;
    file.temp_path = path;
    file.final_path = final_path;
    return 0;
  }
  return EEXIST;
}

int commit_temporary(temporary_file& file) {
  int error = close_checked(file);
  const std::wstring temp = system_path(file.temp_path);
  const pending_held hold;
  if (error == 0 && !::MoveFileExW(temp.c_str(), system_path(file.final_path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = errno_from_windows(::GetLastError());
  }
  if (error != 0) ::DeleteFileW(temp.c_str());
  set_pending(nullptr);
  return error;
}

int commit_temporary_if_absent(temporary_file& file) {
  int error = close_checked(file);
  const std::wstring temp = system_path(file.temp_path);
  const pending_held hold;
  if (error == 0 && !::MoveFileExW(temp.c_str(), system_path(file.final_path).c_str(), 0)) {
    error = errno_from_windows(::GetLastError());
  }
  if (error != 0) ::DeleteFileW(temp.c_str());
  set_pending(nullptr);
  return error;
}

void discard_temporary(temporary_file& file) {
  if (file.fd >= 0) close_file(file.fd);
  file.fd = -1;
  const pending_held hold;
  if (!file.temp_path.empty()) ::DeleteFileW(system_path(file.temp_path).c_str());
  set_pending(nullptr);
}

void remove_pending_temporary() {
  const pending_held hold;
  // Still open, it goes when the process has closed it.
  if (pending_path != nullptr) ::DeleteFileW(pending_path->c_str());
  set_pending(nullptr);
}

void install_signal_cleanup() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

}  // namespace pelk
