// SPDX-License-Identifier: MIT
// Usage errors, help and version, and the check of standard output: see
// program_output.h.
#include "tools/unpelk/program_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/unpelk/stored_name.h"

namespace pelk {

int usage_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s (%s --help shows the usage)\n", program_in_messages, message.c_str(),
               program_in_messages);
  return exit_usage;
}

bool standard_output_flushed() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  report("standard output", std::string("write error: ") + std::strerror(errno));
  return false;
}

int print_and_exit_status(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return standard_output_flushed() ? exit_ok : exit_failure;
}

}  // namespace pelk
