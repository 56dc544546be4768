// SPDX-License-Identifier: MIT
// The run: options taken apart (options.h), the inputs found, and each one
// handed to its action. Compression is plk's own (compression.h); restoring,
// testing and listing are unpelk's actions (tools/unpelk/actions.h), so
// both programs check containers and stored names, and write restored
// files, in one way.
//
// A usage error is one line on standard error and exit status 2, found
// before any file is touched. Every input is tried; the status is 1 when
// any failed.
#include "tools/plk/cli.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/file_system.h"
#include "container/temporary_file.h"
#include "driver/thread_count.h"
#include "tools/plk/compression.h"
#include "tools/plk/input_removal.h"
#include "tools/plk/operand_walk.h"
#include "tools/plk/options.h"
#include "tools/unpelk/actions.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/program_output.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

// Restores one container to where the options send it: standard output,
// the -o file, the name without the suffix, or else the stored name beside
// the container.
bool restore_one(const std::string& operand, const plk_options& options, const action_choices& choices,
                 inflater& state) {
  const bool from_input = operand == standard_input_operand;
  if (options.to_stdout || (from_input && !options.output)) {
    return write_container_to_stdout(operand, choices, state);
  }
  destination where{"", directory_of(operand)};
  if (options.output) {
    where = {*options.output, ""};
  } else if (has_suffix(operand, options.suffix)) {
    where = {operand.substr(0, operand.size() - options.suffix.size()), ""};
  }
  const auto start = std::chrono::steady_clock::now();
  restore_result restored_to;
  if (!restore_container(operand, where, choices, state, &restored_to)) return false;
  file_status container, restored;
  if (options.verbose && path_status(operand, container) == 0 && path_status(restored_to.path, restored) == 0) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report_figures(operand, container.size, restored.size, true, restored_to.path, seconds);
  }
  if (options.remove_source && !from_input) return remove_input(operand, restored_to.container);
  return true;
}

bool restore_all(const std::vector<std::string>& inputs, const plk_options& options) {
  const inflater_ptr state = make_inflater();
  if (!state) {
    report("inflater", std::strerror(ENOMEM));
    return false;
  }
  action_choices choices;
  choices.overwrite = options.overwrite;
  // Restored data on the terminal would run through the line and break it.
  choices.progress = !options.quiet && !(options.to_stdout && is_terminal(standard_output));
  choices.verbose = options.verbose;
  choices.carry_attributes = true;
  bool all_ok = true;
  switch (options.chosen) {
    case plk_mode::test:
      for (const std::string& input : inputs) all_ok &= test_container(input, choices, *state);
      break;
    case plk_mode::list:
      all_ok = list_containers(inputs, choices, *state);
      break;
    default:
      for (const std::string& input : inputs) all_ok &= restore_one(input, options, choices, *state);
  }
  return all_ok;
}

bool compress_all(const std::vector<std::string>& inputs, const plk_options& options, unsigned threads) {
  compression_run run{options, threads, !options.quiet};
  bool all_ok = true;
  for (const std::string& input : inputs) {
    all_ok &= input == standard_input_operand ? compress_standard_input(run) : compress_named_file(input, run);
  }
  if (options.verbose && inputs.size() > 1) report_compression_totals(run);
  return all_ok;
}

}  // namespace

int plk_main(int argc, char** argv) {
  program_in_messages = "plk";
  plk_options options;
  if (const std::string problem = parse_plk_options(argc, argv, options); !problem.empty()) {
    return usage_error(problem);
  }
  if (options.help) return print_and_exit_status(plk_help_text);
  if (options.version) return print_and_exit_status("plk " PELK_VERSION "\n");

  const bool compressing = options.chosen == plk_mode::compress;
  if (options.operands.empty()) {
    // Nothing typed in is ever compressed or restored: a terminal there
    // means the user forgot the file.
    if (is_terminal(standard_input)) {
      return usage_error(compressing ? "no file given, and standard input is a terminal"
                                     : "no container given, and standard input is a terminal");
    }
    options.operands.push_back(standard_input_operand);
  }
  if (const std::string problem = check_plk_operands(options); !problem.empty()) return usage_error(problem);
  const bool writes_standard_output =
      options.to_stdout || (!options.output && options.operands.size() == 1 &&
                            options.operands[0] == standard_input_operand);
  if (compressing && writes_standard_output && !options.overwrite && is_terminal(standard_output)) {
    return usage_error("compressed data is not written to a terminal; redirect it, or use -f");
  }
  unsigned threads = 1;
  if (compressing) {
    const std::optional<unsigned> chosen = options.threads ? options.threads : compression_threads();
    if (!chosen) {
      report("PELK_THREADS", "not a positive whole number of threads");
      return exit_failure;
    }
    threads = *chosen == 0 ? processors_allowed() : *chosen;
  }

  install_signal_cleanup();
  bool all_ok = true;
  const std::vector<std::string> inputs = expand_operands(options, all_ok);
  all_ok &= compressing ? compress_all(inputs, options, threads) : restore_all(inputs, options);
  all_ok &= standard_output_flushed();
  return all_ok ? exit_ok : exit_failure;
}

}  // namespace pelk
