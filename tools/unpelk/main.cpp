// SPDX-License-Identifier: MIT
// unpelk: restores, tests and lists pelk containers. See cli.h; the command
// line is UTF-8 on Windows (common/program_entry.h).
#include "common/program_entry.h"
#include "tools/unpelk/cli.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return pelk::run_main(argc, argv, pelk::unpelk_main); }
#else
int main(int argc, char** argv) { return pelk::run_main(argc, argv, pelk::unpelk_main); }
#endif
