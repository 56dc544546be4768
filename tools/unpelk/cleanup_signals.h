// Removing the temporary file when a signal ends the process. A restore
// writes into a temporary file that only a finished, verified run renames
// into place; a run ended by a signal must not leave it behind, whatever the
// signal: ^C and kill, but also a file-size limit (SIGXFSZ), a CPU limit
// (SIGXCPU), an alarm or a stray SIGUSR1.
//
// This unit owns the one path to remove and the handlers that remove it.
// It keeps signal dispositions as the process found them where they were
// not the default: a signal ignored at the start (nohup's SIGHUP) stays
// ignored, and a handler already in place (a sanitizer's) is left alone.
#pragma once

#include <csignal>
#include <string>

namespace pelk {

// Installs the removing handler for every signal whose default action ends
// the process and whose disposition is still the default.
void install_cleanup_handlers();

// The file to remove when a signal ends the process from now on ("" or a
// path too long for any system call: none).
void set_cleanup_path(const std::string& path);
void clear_cleanup_path();

// Holds back the handled signals while it lives, so that creating a file
// and naming it for removal happen as one step a signal cannot split.
class cleanup_signals_held {
 public:
  cleanup_signals_held();
  ~cleanup_signals_held();
  cleanup_signals_held(const cleanup_signals_held&) = delete;
  cleanup_signals_held& operator=(const cleanup_signals_held&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace pelk
