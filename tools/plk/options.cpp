// SPDX-License-Identifier: MIT
// plk's options and its help; the command line is taken apart by
// tools/unpelk/option_parser.h, as unpelk's is.
#include "tools/plk/options.h"

#include <algorithm>

#include "common/file_system.h"
#include "container/container.h"
#include "driver/thread_count.h"
#include "tools/unpelk/option_parser.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {

const char plk_help_text[] =
    "Usage: plk [OPTION]... [FILE]...\n"
    "Compresses each FILE to FILE.plk, or with -d restores each FILE.plk.\n"
    "\n"
    "With no FILE, or when FILE is -, standard input is compressed (restored) to\n"
    "standard output; compressing it first holds all of it, in memory and then\n"
    "in a temporary file, as the container gives the length before the data.\n"
    "The source is kept; an existing file is never replaced without -f.\n"
    "\n"
    "  -d, --decompress     restore: FILE.plk to FILE, any other name to the\n"
    "                       name the container stores (also --uncompress)\n"
    "  -t, --test           decode and check the CRC-32 and the size; write nothing\n"
    "  -l, --list           list the stored name, sizes, ratio and time stamp\n"
    "  -c, --stdout         write to standard output (also --to-stdout)\n"
    "  -o, --output=FILE    write to FILE (one input only)\n"
    "  -k, --keep           keep the source (the default)\n"
    "      --rm             remove the source once its output is complete\n"
    "  -f, --force          overwrite existing files; write compressed data to a\n"
    "                       terminal\n"
    "  -r, --recursive      compress (restore) the files in directories\n"
    "  -T, --threads=N      compress on N threads; 0: the processors it may use\n"
    "                       (PELK_THREADS=N does the same)\n"
    "      --suffix=SUF     the suffix of compressed files instead of .plk\n"
    "      --name=NAME      the name stored for standard input (none by default)\n"
    "  -q, --quiet          no progress line\n"
    "  -v, --verbose        a line per file: sizes, ratio and speed; with -l, also\n"
    "                       decode, for the true size and a check\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "The containers are those pelk writes, byte for byte; each carries its\n"
    "source's permission bits and modification time, and gives them back.\n"
    "Exit status: 0 when all went well, 1 after an error, 2 after a usage error.\n";

namespace {

enum long_only : int { remove_key = 256, suffix_key, name_key };

constexpr option_spec option_table[] = {
    {"decompress", 'd', 'd'},
    {"uncompress", 0, 'd'},
    {"test", 't', 't'},
    {"list", 'l', 'l'},
    {"stdout", 'c', 'c'},
    {"to-stdout", 0, 'c'},
    {"output", 'o', 'o', "a file name"},
    {"keep", 'k', 'k'},
    {"rm", 0, remove_key},
    {"force", 'f', 'f'},
    {"recursive", 'r', 'r'},
    {"threads", 'T', 'T', "a number of threads"},
    {"suffix", 0, suffix_key, "a suffix"},
    {"name", 0, name_key, "a name"},
    {"quiet", 'q', 'q'},
    {"verbose", 'v', 'v'},
    {"help", 'h', 'h'},
    {"version", 'V', 'V'},
};

struct parse_state {
  plk_options& parsed;
  bool mode_given = false;
  bool keep_given = false;
};

std::string choose_mode(plk_mode chosen, parse_state& state) {
  if (state.mode_given && state.parsed.chosen != chosen) return "options -d, -t and -l exclude each other";
  state.mode_given = true;
  state.parsed.chosen = chosen;
  return "";
}

std::string apply(int key, const std::string& value, parse_state& state) {
  plk_options& parsed = state.parsed;
  switch (key) {
    case 'd': return choose_mode(plk_mode::decompress, state);
    case 't': return choose_mode(plk_mode::test, state);
    case 'l': return choose_mode(plk_mode::list, state);
    case 'c': parsed.to_stdout = true; break;
    case 'o':
      if (value.empty()) return "an empty file name was given";
      parsed.output = value;
      break;
    case 'k': state.keep_given = true; break;
    case remove_key: parsed.remove_source = true; break;
    case 'f': parsed.overwrite = true; break;
    case 'r': parsed.recursive = true; break;
    case 'T': {
      const std::optional<unsigned> count = parse_thread_count(value.c_str());
      if (!count) return "option -T needs a number of threads, not \"" + printable(value) + "\"";
      parsed.threads = count;
      break;
    }
    case suffix_key:
      if (value.empty() || value.find('/') != std::string::npos) {
        return "option --suffix needs a suffix without \"/\", not \"" + printable(value) + "\"";
      }
      parsed.suffix = value;
      break;
    case name_key:
      if (const char* reason = unsafe_name_reason(value, value.size(), 255)) {
        return "option --name: " + std::string(reason);
      }
      parsed.stored_name = value;
      break;
    case 'q': parsed.quiet = true; break;
    case 'v': parsed.verbose = true; break;
    case 'h': parsed.help = true; break;
    case 'V': parsed.version = true; break;
  }
  if (state.keep_given && parsed.remove_source) return "options -k and --rm exclude each other";
  return "";
}

}  // namespace

std::string parse_plk_options(int argc, char** argv, plk_options& parsed) {
  parse_state state{parsed};
  return parse_command_line(argc, argv, option_table, parsed.operands,
                            [&](int key, const std::string& value) { return apply(key, value, state); });
}

bool has_suffix(const std::string& path, const std::string& suffix) {
  return path.size() > suffix.size() && path.size() - suffix.size() > file_name_start(path) &&
         path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string check_plk_operands(const plk_options& parsed) {
  for (const std::string& operand : parsed.operands) {
    if (operand.empty()) return "an empty file name was given";
  }
  if (std::count(parsed.operands.begin(), parsed.operands.end(), standard_input_operand) > 1) {
    return "standard input can be read only once";
  }
  const bool reads_only = parsed.chosen == plk_mode::test || parsed.chosen == plk_mode::list;
  if (reads_only && (parsed.output || parsed.to_stdout || parsed.remove_source)) {
    return "options -t and -l write nothing; -c, -o and --rm do not go with them";
  }
  if (parsed.output && parsed.to_stdout) return "options -c and -o exclude each other";
  if (parsed.output && parsed.operands.size() > 1) return "option -o writes one file; give one input";
  // Containers one after another are not one container: all but the first
  // would be refused as bytes after its end.
  if (parsed.chosen == plk_mode::compress && parsed.to_stdout && parsed.operands.size() > 1) {
    return "option -c compresses one input; containers joined on standard output cannot be restored";
  }
  const bool names_input = parsed.operands.size() == 1 && parsed.operands[0] == standard_input_operand;
  if (parsed.stored_name && !(parsed.chosen == plk_mode::compress && names_input)) {
    return "option --name names compressed standard input; a file stores its own name";
  }
  return "";
}

}  // namespace pelk
