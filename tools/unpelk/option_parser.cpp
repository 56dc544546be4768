// SPDX-License-Identifier: MIT
// The command line taken apart: see option_parser.h.
#include "tools/unpelk/option_parser.h"

#include <algorithm>

#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

// The value of the option at argv[i]: `attached` when there is one, else
// the next argument, which is then used up. False when there is none.
bool take_value(int argc, char** argv, int& i, const std::string& attached, bool has_attached, std::string& value) {
  if (has_attached) {
    value = attached;
    return true;
  }
  if (i + 1 >= argc) return false;
  value = argv[++i];
  return true;
}

}  // namespace

std::string parse_command_line(int argc, char** argv, std::span<const option_spec> table,
                               std::vector<std::string>& operands, const option_handler& apply) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const bool has_value = equals != std::string::npos;
      const std::string name = arg.substr(2, has_value ? equals - 2 : std::string::npos);
      const auto found = std::find_if(table.begin(), table.end(),
                                      [&](const option_spec& option) { return option.long_name == name; });
      if (found == table.end()) return "unknown option --" + printable(name);
      std::string value;
      if (found->value == nullptr) {
        if (has_value) return "option --" + printable(name) + " takes no value";
      } else if (!take_value(argc, argv, i, has_value ? arg.substr(equals + 1) : "", has_value, value)) {
        return "option --" + name + " needs " + found->value;
      }
      if (std::string problem = apply(found->key, value); !problem.empty()) return problem;
      continue;
    }
    for (size_t at = 1; at < arg.size(); ++at) {
      const char letter = arg[at];
      const auto found = std::find_if(table.begin(), table.end(), [&](const option_spec& option) {
        return option.letter != 0 && option.letter == letter;
      });
      if (found == table.end()) return "unknown option -" + printable(std::string_view(&letter, 1));
      std::string value;
      const bool takes_value = found->value != nullptr;
      if (takes_value && !take_value(argc, argv, i, arg.substr(at + 1), at + 1 < arg.size(), value)) {
        return std::string("option -") + letter + " needs " + found->value;
      }
      if (std::string problem = apply(found->key, value); !problem.empty()) return problem;
      if (takes_value) break;  // the rest of the group was its value
    }
  }
  return "";
}

}  // namespace pelk
