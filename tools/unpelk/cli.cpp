// SPDX-License-Identifier: MIT
// The run: options taken apart (options.h), the operands given their
// meaning, and each container handed to its action.
//
//   unpelk [-f] FILE.plk [TARGET]        restore, as TARGET or into it
//   unpelk [-f] FILE.plk FILE.plk FILE.plk...   restore each beside itself
//   unpelk [-f] -d DIR FILE.plk...        restore into DIR
//   unpelk -c|-t|-l FILE.plk...           to standard output, test, list
//
// Two operands without -d are always a container and its target, never two
// containers: which one a user meant would otherwise be a guess, and a
// wrong guess writes a file the user did not ask for. A usage error is one
// line on standard error and exit status 2; it is found before any
// container is touched. With several containers every one is tried, and
// the status is 1 when any failed.
#include "tools/unpelk/cli.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/file_system.h"
#include "container/temporary_file.h"
#include "tools/unpelk/actions.h"
#include "tools/unpelk/container_input.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/program_output.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

constexpr char container_target_reason[] =
    "is a pelk container, not a target: to restore both, use -d DIR or restore them one at a time; "
    "to replace it, remove it first";

// Whether both paths name one file; the container restored over itself
// has a refusal of its own.
bool same_file_as(const std::string& a, const std::string& b) {
  file_status first, second;
  return path_status(a, first) == 0 && path_status(b, second) == 0 && same_file(first.identity, second.identity);
}

bool is_directory(const std::string& path) {
  file_status info;
  return path_status(path, info) == 0 && info.kind == file_kind::directory;
}

// The directory with a separator to append a name to; one that already ends
// in one ("out/", and on Windows "out\" or the drive "C:") is kept whole.
std::string as_directory(const std::string& path) {
  return file_name_start(path) == path.size() ? path : path + "/";
}

// Restores every operand to where the command line sends it.
bool restore_all(const options& parsed, const action_choices& choices, inflater& state) {
  if (parsed.directory) {
    const std::string& directory = *parsed.directory;
    file_status info;
    if (const int error = path_status(directory, info)) {
      report(directory, std::strerror(error));
      return false;
    }
    if (info.kind != file_kind::directory) {
      report(directory, "is not a directory");
      return false;
    }
  }
  if (!parsed.directory && parsed.operands.size() == 2) {
    const std::string& target = parsed.operands[1];
    // Two containers matched by one glob (unpelk -f *.plk) look like a
    // container and its target; -f would then replace the second with the
    // first, so a container is never a target, whatever the options.
    if (holds_container(target) && !same_file_as(target, parsed.operands[0])) {
      report(target, container_target_reason);
      return false;
    }
    const destination where =
        is_directory(target) ? destination{"", as_directory(target)} : destination{target, ""};
    return restore_container(parsed.operands[0], where, choices, state);
  }
  bool all_ok = true;
  for (const std::string& operand : parsed.operands) {
    // Beside itself: a container on standard input has no place of its own
    // and restores into the current directory.
    const std::string directory = parsed.directory ? as_directory(*parsed.directory) : directory_of(operand);
    all_ok &= restore_container(operand, {"", directory}, choices, state);
  }
  return all_ok;
}

}  // namespace

int unpelk_main(int argc, char** argv) {
  options parsed;
  const std::string problem = parse_options(argc, argv, parsed);
  if (!problem.empty()) return usage_error(problem);
  if (parsed.help) return print_and_exit_status(help_text);
  if (parsed.version) return print_and_exit_status("unpelk " PELK_VERSION "\n");
  // Every mode but restoring reads a piped container by itself; a restore
  // without one names no file to restore.
  if (parsed.operands.empty() && parsed.chosen != mode::restore && !is_terminal(standard_input)) {
    parsed.operands.push_back(standard_input_operand);
  }
  const std::string operand_problem = check_operands(parsed);
  if (!operand_problem.empty()) return usage_error(operand_problem);

  install_signal_cleanup();
  const inflater_ptr state = make_inflater();
  if (!state) {
    std::fprintf(stderr, "%s: out of memory\n", program_in_messages);
    return exit_failure;
  }
  action_choices choices;
  choices.overwrite = parsed.overwrite;
  // Restored data on the terminal would run through the line and break it.
  choices.progress = !parsed.quiet && !(parsed.chosen == mode::to_stdout && is_terminal(standard_output));
  choices.verbose = parsed.verbose;
  bool all_ok = true;
  switch (parsed.chosen) {
    case mode::restore:
      all_ok = restore_all(parsed, choices, *state);
      break;
    case mode::to_stdout:
      for (const std::string& path : parsed.operands) all_ok &= write_container_to_stdout(path, choices, *state);
      break;
    case mode::test:
      for (const std::string& path : parsed.operands) all_ok &= test_container(path, choices, *state);
      break;
    case mode::list:
      all_ok = list_containers(parsed.operands, choices, *state);
      break;
  }
  all_ok &= standard_output_flushed();
  return all_ok ? exit_ok : exit_failure;
}

}  // namespace pelk
