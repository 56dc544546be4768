// SPDX-License-Identifier: MIT
// Walking directories for -r: see operand_walk.h.
#include "tools/plk/operand_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/file_system.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {
namespace {

namespace fs = std::filesystem;

// Names are UTF-8 throughout the programs; std::filesystem on Windows would
// take and give a narrow string in the ANSI code page instead.
fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Appends the regular files below directory that the mode takes.
void walk(const std::string& directory, const plk_options& options, std::vector<std::string>& inputs,
          bool& all_ok) {
  std::vector<std::string> found;
  std::error_code error;
  fs::recursive_directory_iterator it(path_of(directory), fs::directory_options::none, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code kind_error;
    if (!it->is_regular_file(kind_error) || it->is_symlink(kind_error)) continue;
    const std::string path = utf8_of(it->path());
    const bool compressed = has_suffix(path, options.suffix);
    if (compressed == (options.chosen != plk_mode::compress)) found.push_back(path);
  }
  if (error) {  // the walk ends there: what was found is still taken
    report(directory, error.message());
    all_ok = false;
  }
  std::sort(found.begin(), found.end());
  inputs.insert(inputs.end(), found.begin(), found.end());
}

}  // namespace

std::vector<std::string> expand_operands(const plk_options& options, bool& all_ok) {
  if (!options.recursive) return options.operands;
  std::vector<std::string> inputs;
  for (const std::string& operand : options.operands) {
    file_status info;
    if (operand != standard_input_operand && path_status(operand, info) == 0 &&
        info.kind == file_kind::directory) {
      walk(operand, options, inputs, all_ok);
    } else {
      inputs.push_back(operand);
    }
  }
  return inputs;
}

}  // namespace pelk
