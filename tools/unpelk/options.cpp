// The command line, in the manner of the everyday compressors: one-letter
// options that may be grouped (-tf) and stand anywhere, the same options by
// name (--test), "--" ending them, then the operands.
//
// -d takes a value, as the rest of its group (-dout, -fdout) or as the next
// argument (-d out); --directory takes it after "=" or as the next argument.
// Long names must be given whole: a prefix that happens to be unique today
// would change meaning when an option is added.
#include "tools/unpelk/options.h"

#include <algorithm>
#include <string_view>

#include "tools/unpelk/stored_name.h"

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

struct long_option {
  std::string_view name;
  char letter;  // the short option it stands for
};

constexpr long_option long_options[] = {
    {"stdout", 'c'}, {"to-stdout", 'c'}, {"test", 't'},  {"list", 'l'},  {"verbose", 'v'},  {"directory", 'd'},
    {"force", 'f'},  {"keep", 'k'},      {"quiet", 'q'}, {"help", 'h'},  {"version", 'V'},
};

// Applies one option; `value` is -d's. Returns "" or the usage error.
std::string apply(char letter, const std::string& value, options& parsed, bool& mode_given) {
  switch (letter) {
    case 'f': parsed.overwrite = true; break;
    case 'h': parsed.help = true; break;
    case 'V': parsed.version = true; break;
    case 'k': break;  // containers are never removed
    case 'q': parsed.quiet = true; break;
    case 'v': parsed.verbose = true; break;
    case 'd': parsed.directory = value; break;
    case 'c': case 't': case 'l': {
      const mode chosen = letter == 'c' ? mode::to_stdout : letter == 't' ? mode::test : mode::list;
      if (mode_given && parsed.chosen != chosen) return "options -c, -t and -l exclude each other";
      mode_given = true;
      parsed.chosen = chosen;
      break;
    }
    default: return "unknown option -" + printable(std::string_view(&letter, 1));
  }
  return "";
}

}  // namespace

std::string parse_options(int argc, char** argv, options& parsed) {
  bool options_ended = false;
  bool mode_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    std::string problem;
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const auto found = std::find_if(std::begin(long_options), std::end(long_options),
                                      [&](const long_option& option) { return option.name == name; });
      if (found == std::end(long_options)) return "unknown option --" + printable(name);
      std::string value;
      if (found->letter == 'd') {
        if (equals != std::string::npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          return "option --directory needs a directory name";
        }
      } else if (equals != std::string::npos) {
        return "option --" + name + " takes no value";
      }
      problem = apply(found->letter, value, parsed, mode_given);
    } else {
      for (size_t at = 1; at < arg.size() && problem.empty(); ++at) {
        if (arg[at] != 'd') {
          problem = apply(arg[at], "", parsed, mode_given);
          continue;
        }
        std::string value = arg.substr(at + 1);
        if (value.empty()) {
          if (i + 1 == argc) return "option -d needs a directory name";
          value = argv[++i];
        }
        problem = apply('d', value, parsed, mode_given);
        break;
      }
    }
    if (!problem.empty()) return problem;
  }
  return "";
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
