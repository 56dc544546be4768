// SPDX-License-Identifier: MIT
// pelk: compresses one file into a .plk container.
//
//   pelk src_file [target_file]
//
// Without a target, the target is the source name with its last three
// characters replaced by "plk". Every argument is a file name: bytes on
// POSIX, UTF-8 made from the UTF-16 command line on Windows
// (common/program_entry.h).
#include <optional>
#include <string>

#include "common/program_entry.h"
#include "container/temporary_file.h"
#include "driver/driver.h"

namespace {

int pelk_main(int argc, char** argv) {
  if (argc < 2 || argc > 3) pelk::show_usage();

  const char* source = argv[1];
  std::string target;
  if (argc == 3) {
    target = argv[2];
  } else if (std::optional<std::string> derived = pelk::derive_target_name(source)) {
    target = *derived;
  } else {
    pelk::announce(source);
    pelk::report_file_error(source, "name too short to derive a target name; give one");
  }

  pelk::install_signal_cleanup();
  return pelk::compress_file(source, target.c_str());
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return pelk::run_main(argc, argv, pelk_main); }
#else
int main(int argc, char** argv) { return pelk::run_main(argc, argv, pelk_main); }
#endif
