// SPDX-License-Identifier: MIT
// The command line in the manner of the everyday compressors, for every
// program here: one-letter options that may be grouped (-tf) and stand
// anywhere among the operands, the same options by name (--test), "--"
// ending them. Each program gives its table of options and what each does;
// the taking apart, and its usage errors, are the same for all of them.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelk {

struct option_spec {
  std::string_view long_name;  // without "--"; several names may share a key
  char letter;                 // the one-letter form; 0 for a name alone
  int key;                     // what the handler is told
  // What the option's value is, for messages ("a directory name"); null for
  // an option that takes none.
  const char* value = nullptr;
};

// Told each option as it comes, with its value; returns "" or the usage error.
using option_handler = std::function<std::string(int key, const std::string& value)>;

// Takes the arguments apart: each option goes to `apply`, each operand to
// `operands`. Returns "" or the first usage error.
//
// A value is the rest of the option's group (-dout, -fdout) or the next
// argument (-d out); a named option takes it after "=" or as the next
// argument. Names must be given whole: a prefix that happens to be unique
// today would change meaning when an option is added.
std::string parse_command_line(int argc, char** argv, std::span<const option_spec> table,
                               std::vector<std::string>& operands, const option_handler& apply);

}  // namespace pelk
