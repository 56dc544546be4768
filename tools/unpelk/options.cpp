// SPDX-License-Identifier: MIT
// unpelk's options and its help; the command line is taken apart by
// option_parser.h, as plk's is.
#include "tools/unpelk/options.h"

#include <algorithm>

#include "tools/unpelk/option_parser.h"

namespace pelk {

const char help_text[] =
    "Usage: unpelk [OPTION]... FILE.plk [TARGET]\n"
    "       unpelk [OPTION]... FILE.plk FILE.plk FILE.plk...\n"
    "       unpelk [OPTION]... -d DIR FILE.plk...\n"
    "       unpelk -c|-t|-l [OPTION]... [FILE.plk]...\n"
    "Restores files compressed by pelk.\n"
    "\n"
    "With no option, FILE.plk is restored under the name it stores, beside it.\n"
    "Two operands are always a container and its TARGET: the file to restore to,\n"
    "or an existing directory to restore into; a TARGET that is a container is\n"
    "refused even with -f: restore both with -d DIR or one at a time, or remove\n"
    "it first to replace it. Three or more operands are all containers, each\n"
    "restored beside itself; with -d every operand is a container, restored into\n"
    "DIR. The FILE.plk \"-\" is standard input, which -c, -t and -l also read when\n"
    "no container is given and it is not a terminal.\n"
    "\n"
    "  -c, --stdout         write the restored data to standard output\n"
    "                       (also --to-stdout)\n"
    "  -t, --test           decode and check the CRC-32 and the size; write nothing\n"
    "  -l, --list           list the stored name, sizes, ratio and time stamp\n"
    "  -v, --verbose        with -l: also decode, for the true size and a check\n"
    "  -d, --directory=DIR  restore into DIR, an existing directory\n"
    "  -f, --force          overwrite existing regular files\n"
    "  -k, --keep           keep the containers (they are always kept)\n"
    "  -q, --quiet          no progress line\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "On a terminal, a container of 64 MiB or more shows a progress line.\n"
    "Exit status: 0 when all went well, 1 after an error, 2 after a usage error.\n";

namespace {

constexpr option_spec option_table[] = {
    {"stdout", 'c', 'c'},  {"to-stdout", 0, 'c'}, {"test", 't', 't'}, {"list", 'l', 'l'},
    {"verbose", 'v', 'v'}, {"directory", 'd', 'd', "a directory name"}, {"force", 'f', 'f'},
    {"keep", 'k', 'k'},    {"quiet", 'q', 'q'},   {"help", 'h', 'h'}, {"version", 'V', 'V'},
};

// Applies one option; `value` is -d's. Returns "" or the usage error.
std::string apply(int letter, const std::string& value, options& parsed, bool& mode_given) {
  switch (letter) {
    case 'f': parsed.overwrite = true; break;
    case 'h': parsed.help = true; break;
    case 'V': parsed.version = true; break;
    case 'k': break;  // containers are never removed
    case 'q': parsed.quiet = true; break;
    case 'v': parsed.verbose = true; break;
    case 'd': parsed.directory = value; break;
    default: {
      const mode chosen = letter == 'c' ? mode::to_stdout : letter == 't' ? mode::test : mode::list;
      if (mode_given && parsed.chosen != chosen) return "options -c, -t and -l exclude each other";
      mode_given = true;
      parsed.chosen = chosen;
    }
  }
  return "";
}

}  // namespace

std::string parse_options(int argc, char** argv, options& parsed) {
  bool mode_given = false;
  return parse_command_line(argc, argv, option_table, parsed.operands, [&](int key, const std::string& value) {
    return apply(key, value, parsed, mode_given);
  });
}

std::string check_operands(const options& parsed) {
  if (parsed.operands.empty()) return "no container given";
  // An empty operand is what a script passes for an unset variable; taken
  // as "no target" it would restore under the stored name instead, and -f
  // would replace whatever file has that name.
  for (const std::string& operand : parsed.operands) {
    if (operand.empty()) return "an empty file name was given";
  }
  if (parsed.directory) {
    if (parsed.directory->empty()) return "an empty file name was given";
    if (parsed.chosen != mode::restore) {
      return "option -d restores into a directory; it does not go with -c, -t or -l";
    }
  }
  if (std::count(parsed.operands.begin(), parsed.operands.end(), standard_input_operand) > 1) {
    return "standard input can be read only once";
  }
  if (parsed.chosen == mode::restore && !parsed.directory && parsed.operands.size() == 2 &&
      parsed.operands[1] == standard_input_operand) {
    return "\"-\" is not a target; -c writes to standard output";
  }
  return "";
}

}  // namespace pelk
