// SPDX-License-Identifier: MIT
// What unpelk and plk print besides their data and their reports: usage
// errors, the help and the version, and the final check that standard
// output took everything, so that a write that failed (a full disk, a
// closed pipe) is never an exit status of 0.
#pragma once

#include <string>

namespace pelk {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

// "<program>: <message> (<program> --help shows the usage)" on standard
// error; returns exit_usage.
int usage_error(const std::string& message);

// Flushes standard output; false after reporting a write that failed.
bool standard_output_flushed();

// Prints the text on standard output (the help, the version) and returns
// the exit status: exit_failure when it could not be written.
int print_and_exit_status(const std::string& text);

}  // namespace pelk
