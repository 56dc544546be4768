// SPDX-License-Identifier: MIT
// What pelk and unpelk do at their entry on each system before their own
// work, so that both see a command line of UTF-8 (or, on POSIX, of the
// bytes the system gives) and write the same bytes everywhere.
//
// On Windows the command line is taken in UTF-16 (wmain) and made UTF-8, so
// any name that can be typed reaches the programs whole, whatever the code
// page; the three standard streams are put in binary mode, so text lines
// end in "\n" alone as on POSIX and a container on a pipe passes unchanged;
// and a console's output code page is set to UTF-8 while the program runs,
// so UTF-8 names print as text, and put back when it exits, even by Ctrl+C.
#pragma once

namespace pelk {

#ifdef _WIN32
using native_char = wchar_t;
#else
using native_char = char;
#endif

using main_function = int (*)(int argc, char** argv);

// Runs `run` on the arguments; returns its status.
int run_main(int argc, native_char** argv, main_function run);

}  // namespace pelk
