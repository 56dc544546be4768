// The command line, in the manner of the classic Unix decompressors:
// single-letter options that may be grouped (-tf) and may stand anywhere,
// "--" ending them, then the operands.
//
//   unpelk [-f] FILE.plk [TARGET]   restore
//   unpelk -c FILE.plk...           to standard output
//   unpelk -t FILE.plk...           test
//   unpelk -l FILE.plk...           list
//
// A usage error is one line on standard error and exit status 2; it is found
// before any container is touched. With several containers every one is
// tried, and the status is 1 when any failed.
#include "tools/unpelk/cli.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "container/temporary_file.h"
#include "tools/unpelk/actions.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

constexpr const char help_text[] =
    "Usage: unpelk [-f] FILE.plk [TARGET]\n"
    "       unpelk -c|-t|-l FILE.plk...\n"
    "Restores files compressed by pelk.\n"
    "\n"
    "  (no option)  restore FILE.plk under the name it stores, in the directory\n"
    "               of FILE.plk, or as TARGET when one is given\n"
    "  -c           write the restored data to standard output\n"
    "  -t           test: decode and check the CRC-32 and the size, write nothing\n"
    "  -l           list the stored name, sizes, ratio and time stamp\n"
    "  -f           overwrite an existing regular file\n"
    "  -h           show this help\n"
    "\n"
    "Exit status: 0 when all went well, 1 after an error, 2 after a usage error.\n";

enum class mode : char { restore = 'r', to_stdout = 'c', test = 't', list = 'l' };

struct options {
  mode chosen = mode::restore;
  bool overwrite = false;
  bool help = false;
  std::vector<std::string> operands;
};

int usage_error(const std::string& message) {
  std::fprintf(stderr, "unpelk: %s (unpelk -h shows the usage)\n", message.c_str());
  return exit_usage;
}

// Fills `parsed`; returns "" or the usage error.
std::string parse(int argc, char** argv, options& parsed) {
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
    for (const char letter : arg.substr(1)) {
      switch (letter) {
        case 'f': parsed.overwrite = true; break;
        case 'h': parsed.help = true; break;
        case 'c': case 't': case 'l':
          if (mode_given && parsed.chosen != static_cast<mode>(letter)) {
            return "options -c, -t and -l exclude each other";
          }
          mode_given = true;
          parsed.chosen = static_cast<mode>(letter);
          break;
        default: return "unknown option -" + printable(std::string_view(&letter, 1));
      }
    }
  }
  if (parsed.help) return "";
  if (parsed.operands.empty()) return "no container given";
  // An empty operand is what a script passes for an unset variable; taken
  // as "no target" it would restore under the stored name instead, and -f
  // would replace whatever file has that name.
  for (const std::string& operand : parsed.operands) {
    if (operand.empty()) return "an empty file name was given";
  }
  if (parsed.chosen == mode::restore && parsed.operands.size() > 2) {
    return "too many operands: give one container and at most one target";
  }
  return "";
}

int current_year() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? local->tm_year + 1900 : 1980;
}

}  // namespace

int unpelk_main(int argc, char** argv) {
  options parsed;
  const std::string problem = parse(argc, argv, parsed);
  if (!problem.empty()) return usage_error(problem);
  if (parsed.help) {
    std::fputs(help_text, stdout);
    return exit_ok;
  }

  install_signal_cleanup();
  const inflater_ptr state = make_inflater();
  bool all_ok = true;
  switch (parsed.chosen) {
    case mode::restore: {
      const std::string target = parsed.operands.size() == 2 ? parsed.operands[1] : "";
      all_ok = restore_container(parsed.operands[0], target, parsed.overwrite, *state);
      break;
    }
    case mode::to_stdout:
      for (const std::string& path : parsed.operands) all_ok &= write_container_to_stdout(path, *state);
      break;
    case mode::test:
      for (const std::string& path : parsed.operands) all_ok &= test_container(path, *state);
      break;
    case mode::list: {
      const int year = current_year();
      bool heading_printed = false;
      for (const std::string& path : parsed.operands) all_ok &= list_container(path, year, heading_printed);
      break;
    }
  }
  if (std::fflush(stdout) != 0) {
    report("standard output", "write error");
    all_ok = false;
  }
  return all_ok ? exit_ok : exit_failure;
}

}  // namespace pelk
