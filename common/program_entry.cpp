// SPDX-License-Identifier: MIT
// Program entry on each system: see program_entry.h.
#include "common/program_entry.h"

#ifdef _WIN32
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>
#include <windows.h>

#include "common/file_system.h"
#include "common/wide_text.h"
#endif

namespace pelk {

#ifdef _WIN32

namespace {

UINT original_code_page = 0;  // 0: the code page was not changed

void restore_code_page() {
  if (original_code_page != 0) ::SetConsoleOutputCP(original_code_page);
}

// Registered before any other handler, so it runs after them (the last one
// registered runs first) and just before the default one ends the process.
BOOL WINAPI on_console_event(DWORD) {
  restore_code_page();
  return FALSE;
}

}  // namespace

int run_main(int argc, native_char** argv, main_function run) {
  for (const int fd : {0, 1, 2}) ::_setmode(fd, _O_BINARY);
  if (is_terminal(standard_output) || is_terminal(standard_error)) {
    original_code_page = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    std::atexit(restore_code_page);
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(utf8_from_utf16(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return run(argc, pointers.data());
}

#else

int run_main(int argc, native_char** argv, main_function run) { return run(argc, argv); }

#endif

}  // namespace pelk
