// Temporary files renamed into place: see temporary_file.h.
//
// One temporary file at a time is registered for removal. Its path sits in
// a fixed buffer, since a signal handler may only call async-signal-safe
// functions (unlink, sigaction, raise) and must not touch a std::string
// that the interrupted code may be changing.
#include "container/temporary_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk {
namespace {

char pending_path[PATH_MAX + 1];
volatile std::sig_atomic_t pending = 0;

// What each signal did before ours was installed, so it can go on to do
// that once the temporary file is gone.
struct sigaction previous_actions[NSIG];

void register_pending(const std::string& path) {
  // A longer path could not have been created in the first place.
  if (path.size() >= sizeof pending_path) return;
  std::memcpy(pending_path, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);  // the path is whole before it is pending
  pending = 1;
}

void on_fatal_signal(int signal_number) {
  const int saved_errno = errno;
  remove_pending_temporary();
  // Re-raised with the earlier action restored: the process ends the way
  // the signal would have ended it (the status shows the signal), or a
  // sanitizer's handler reports it. The signal is blocked while this runs,
  // so it arrives once this returns.
  ::sigaction(signal_number, &previous_actions[signal_number], nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

// Signals whose default action does not end the process, and the two that
// cannot be caught.
bool leaves_process_running(int signal_number) {
  switch (signal_number) {
    case SIGCHLD: case SIGCONT: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
    case SIGURG: case SIGWINCH: case SIGKILL:
      return true;
    default:
      return false;
  }
}

int close_checked(temporary_file& file) {
  const int result = ::close(file.fd);
  file.fd = -1;
  return result == 0 ? 0 : errno;
}

}  // namespace

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int create_temporary(const std::string& final_path, const char* program, temporary_file& file) {
  std::string pattern = directory_of(final_path) + "." + program + "-XXXXXX";
  // Signals wait while the file is created and registered: one arriving in
  // between would leave a file nobody removes.
  sigset_t all, before;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  const int error = fd < 0 ? errno : 0;
  if (fd >= 0) register_pending(pattern);
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) return error;
  file.fd = fd;
  file.temp_path = pattern;
  file.final_path = final_path;
  return 0;
}

int commit_temporary(temporary_file& file) {
  int error = close_checked(file);
  if (error == 0 && ::rename(file.temp_path.c_str(), file.final_path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(file.temp_path.c_str());
  pending = 0;
  return error;
}

int commit_temporary_if_absent(temporary_file& file) {
  int error = close_checked(file);
  if (error == 0 && ::link(file.temp_path.c_str(), file.final_path.c_str()) != 0) {
    struct stat existing;
    if (errno == EEXIST || ::lstat(file.final_path.c_str(), &existing) == 0) {
      error = EEXIST;
    } else if (::rename(file.temp_path.c_str(), file.final_path.c_str()) == 0) {
      // A file system without hard links, and the name was free.
      pending = 0;
      return 0;
    } else {
      error = errno;
    }
  }
  // Linked or not, the temporary name goes; a linked file stays under its
  // final name.
  ::unlink(file.temp_path.c_str());
  pending = 0;
  return error;
}

void discard_temporary(temporary_file& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  if (!file.temp_path.empty()) ::unlink(file.temp_path.c_str());
  pending = 0;
}

void remove_pending_temporary() {
  if (pending) {
    pending = 0;
    ::unlink(pending_path);
  }
}

void install_signal_cleanup() {
  struct sigaction ours {};
  ours.sa_handler = on_fatal_signal;
  sigfillset(&ours.sa_mask);  // no second signal interrupts the removal
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (leaves_process_running(signal_number)) continue;
    struct sigaction current;
    // Numbers the C library keeps for itself fail here and are skipped.
    if (::sigaction(signal_number, nullptr, &current) != 0) continue;
    if (current.sa_handler == SIG_IGN) continue;
    previous_actions[signal_number] = current;
    ::sigaction(signal_number, &ours, nullptr);
  }
}

}  // namespace pelk
