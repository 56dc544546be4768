// Signal cleanup: see cleanup_signals.h.
//
// The handler may only call async-signal-safe functions, so the path lives
// in a fixed buffer and the handler does three things: unlink() the file,
// put back the default action with sigaction(), and raise() the signal
// again. The signal is blocked while its handler runs, so the raised copy is
// delivered as the handler returns and ends the process the default way:
// the parent's wait status names the signal, and a core is dumped where the
// default action dumps one. Every handled signal is blocked during the
// handler, so a second signal cannot interrupt the cleanup half-way.
#include "tools/unpelk/cleanup_signals.h"

#include <cstring>
#include <unistd.h>

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

// The path is only ever changed with the handled signals blocked (see
// set_cleanup_path), so the handler never sees it half-written.
char pending_path[4096];
volatile std::sig_atomic_t pending = 0;

// The signals this unit handles; empty until the handlers are installed.
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

void install_one(int signal_number, const struct sigaction& action) {
  struct sigaction current {};
  if (::sigaction(signal_number, nullptr, &current) != 0) return;
  const bool is_default = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
  if (!is_default) return;
  if (::sigaction(signal_number, &action, nullptr) == 0) sigaddset(&handled, signal_number);
}

}  // namespace

void install_cleanup_handlers() {
  sigemptyset(&handled);
  installed = true;
  sigset_t all_fatal;
  sigemptyset(&all_fatal);
  for (const int signal_number : fatal_signals) sigaddset(&all_fatal, signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&all_fatal, signal_number);
  }
#endif
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  action.sa_mask = all_fatal;
  for (const int signal_number : fatal_signals) install_one(signal_number, action);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    install_one(signal_number, action);
  }
#endif
}

void set_cleanup_path(const std::string& path) {
  const cleanup_signals_held hold;
  if (path.empty() || path.size() >= sizeof pending_path) {
    pending = 0;
    return;
  }
  std::memcpy(pending_path, path.c_str(), path.size() + 1);
  pending = 1;
}

void clear_cleanup_path() { pending = 0; }

cleanup_signals_held::cleanup_signals_held() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_BLOCK, installed ? &handled : &none, &previous_);
}

cleanup_signals_held::~cleanup_signals_held() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace pelk
