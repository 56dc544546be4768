// SPDX-License-Identifier: MIT
// plk: compresses files into pelk containers and restores them, in the
// manner of the everyday compressors. See cli.h; the command line is UTF-8
// on Windows (common/program_entry.h).
#include "common/program_entry.h"
#include "tools/plk/cli.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return pelk::run_main(argc, argv, pelk::plk_main); }
#else
int main(int argc, char** argv) { return pelk::run_main(argc, argv, pelk::plk_main); }
#endif
