// SPDX-License-Identifier: MIT
// Temporary files renamed into place: see temporary_file.h.
//
// One temporary file at a time is registered for removal. Its path sits in
// a fixed buffer, since a signal handler may only call async-signal-safe
// functions and must not touch a std::string the interrupted code may be
// changing; the path is only ever set with the handled signals blocked, so
// the handler never sees it half-written.
//
// The handler does three things: unlink() the file, put back the default
// action with sigaction(), and raise() the signal again. The signal is
// blocked while its handler runs, so the raised copy is delivered as the
// handler returns and ends the process the default way: the parent's wait
// status names the signal, and a core is dumped where the default action
// dumps one. Every handled signal is blocked during the handler, so a
// second one cannot interrupt the removal half-way.
#include "container/temporary_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>  // renameat2
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include "common/file_system.h"

namespace pelk {
namespace {

// Every signal whose default action ends the process, except SIGKILL and
// SIGSTOP, which cannot be caught. The real-time signals are added at run
// time: SIGRTMIN is not a constant everywhere.
constexpr int fatal_signals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGXFSZ, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

char pending_path[4096];
volatile std::sig_atomic_t pending = 0;

// The signals handled here; empty until the handlers are installed.
sigset_t handled;
bool installed = false;

void on_fatal_signal(int signal_number) {
  if (pending) ::unlink(pending_path);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
}

// Only a signal whose disposition is still the default gets the handler: one
// ignored at the start (nohup's SIGHUP) stays ignored, and a handler already
// in place (a sanitizer's) is left alone.
void install_one(int signal_number, const struct sigaction& action) {
  struct sigaction current {};
  if (::sigaction(signal_number, nullptr, &current) != 0) return;
  const bool is_default = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
  if (!is_default) return;
  if (::sigaction(signal_number, &action, nullptr) == 0) sigaddset(&handled, signal_number);
}

template <class Each>
void for_each_fatal_signal(Each each) {
  for (const int signal_number : fatal_signals) each(signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) each(signal_number);
#endif
}

// Holds back the handled signals while it lives, so that creating a file and
// naming it for removal happen as one step a signal cannot split.
class signals_held {
 public:
  signals_held() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_BLOCK, installed ? &handled : &none, &previous_);
  }
  ~signals_held() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t previous_;
};

// Renames `from` to `to` unless `to` exists (EEXIST then); EINVAL or ENOSYS
// where the system or the file system cannot rename so.
int rename_if_absent(const std::string& from, const std::string& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
#elif defined(__linux__) && defined(SYS_renameat2)
  // A C library without the wrapper (glibc before 2.28); the flag's value
  // is the kernel's.
  constexpr unsigned no_replace = 1;
  return ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), no_replace) == 0 ? 0 : errno;
#else
  static_cast<void>(from);
  static_cast<void>(to);
  return ENOSYS;
#endif
}

int close_checked(temporary_file& file) {
  const int error = close_file(file.fd);
  file.fd = -1;
  return error;
}

}  // namespace

int create_temporary(const std::string& final_path, const char* program, temporary_file& file) {
  std::string pattern = directory_of(final_path) + "." + program + "-XXXXXX";
  const signals_held hold;
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  // A longer path could not have been created in the first place.
  if (pattern.size() < sizeof pending_path) {
    std::memcpy(pending_path, pattern.c_str(), pattern.size() + 1);
    pending = 1;
  }
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
    // A file system without hard links: a rename that refuses to replace
    // claims the name as atomically as the link would have; only where
    // there is none is the name checked and then renamed over, which a
    // file created in between would lose to.
    error = errno == EEXIST ? EEXIST : rename_if_absent(file.temp_path, file.final_path);
    if (error == EINVAL || error == ENOSYS) {
      struct stat existing;
      if (::lstat(file.final_path.c_str(), &existing) == 0) {
        error = EEXIST;
      } else {
        error = ::rename(file.temp_path.c_str(), file.final_path.c_str()) == 0 ? 0 : errno;
      }
    }
    if (error == 0) {
      pending = 0;
      return 0;
    }
  }
  // Linked or not, the temporary name goes; a linked file stays under its
  // final name.
  ::unlink(file.temp_path.c_str());
  pending = 0;
  return error;
}

void discard_temporary(temporary_file& file) {
  if (file.fd >= 0) close_file(file.fd);
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
  sigemptyset(&handled);
  installed = true;
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigemptyset(&action.sa_mask);
  for_each_fatal_signal([&](int signal_number) { sigaddset(&action.sa_mask, signal_number); });
  for_each_fatal_signal([&](int signal_number) { install_one(signal_number, action); });
}

}  // namespace pelk
