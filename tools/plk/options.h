// SPDX-License-Identifier: MIT
// plk's command line: the options of the everyday compressors, in their
// short and long forms, and the checks that need only the command line,
// all made before a file is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelk {

enum class plk_mode : char { compress, decompress, test, list };

struct plk_options {
  plk_mode chosen = plk_mode::compress;
  bool to_stdout = false;   // -c
  bool overwrite = false;   // -f
  bool remove_source = false;  // --rm
  bool quiet = false;       // -q
  bool verbose = false;     // -v
  bool recursive = false;   // -r
  bool help = false;        // -h
  bool version = false;     // -V
  std::optional<unsigned> threads;   // -T N; 0 is the processors the run may use
  std::optional<std::string> output;  // -o FILE
  std::optional<std::string> stored_name;  // --name NAME, for standard input
  std::string suffix = ".plk";
  std::vector<std::string> operands;
};

// Fills `parsed` from the arguments; returns "" or the usage error. Help and
// version requests skip the operand checks; every option is still checked.
std::string parse_plk_options(int argc, char** argv, plk_options& parsed);

// The checks of the operands as they finally stand (standard input added
// when none was given, directories walked): returns "" or the usage error.
std::string check_plk_operands(const plk_options& parsed);

extern const char plk_help_text[];

// Whether the file name at the end of path ends in suffix after a
// character of its own: "a.plk" has the suffix ".plk", "d/.plk" does not.
bool has_suffix(const std::string& path, const std::string& suffix);

}  // namespace pelk
