// Shared by the reliability tests: runs of the real binary that cannot hang
// the suite, optionally with the fault shim preloaded.
#pragma once

#include <string>
#include <vector>

#include "driver/driver.h"
#include "tests/support/test_support.h"

namespace pelk::test {

// pelk with args in dir, killed after 60 s (status 124); fault, when given,
// goes to the preloaded shim, which logs each call to log when one is named.
inline run_result run_guarded(const std::vector<std::string>& args, const std::filesystem::path& dir,
                              const std::string& fault = "", const std::string& log = "") {
  std::vector<std::string> argv = {"timeout", "60", "env"};
  if (!fault.empty() || !log.empty()) {
    argv.insert(argv.end(), {"LD_PRELOAD=" PELK_PRELOAD, "PELK_FAULT=" + fault});
  }
  if (!log.empty()) argv.push_back("PELK_FAULT_LOG=" + log);
  argv.push_back(pelk_binary());
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program("/usr/bin/timeout", argv, dir);
}

inline std::string announced(const std::string& source) {
  return std::string(banner) + "in file = " + source + "\n";
}

}  // namespace pelk::test
