// SPDX-License-Identifier: MIT
// unpelk's command line taken apart: options in their short and long forms,
// and the operands, with every usage error found before a file is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelk {

enum class mode : char { restore, to_stdout, test, list };

// The operand that stands for standard input.
inline constexpr const char standard_input_operand[] = "-";

struct options {
  mode chosen = mode::restore;
  bool overwrite = false;  // -f
  bool quiet = false;      // -q
  bool verbose = false;    // -v
  bool help = false;       // -h
  bool version = false;    // -V
  std::optional<std::string> directory;  // -d DIR
  std::vector<std::string> operands;
};

// Fills `parsed` from the arguments; returns "" or the usage error. Help and
// version requests skip the operand checks; every option is still checked.
std::string parse_options(int argc, char** argv, options& parsed);

// The operands' own checks, once any implied standard input has been added:
// returns "" or the usage error.
std::string check_operands(const options& parsed);

extern const char help_text[];

}  // namespace pelk
