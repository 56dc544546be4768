// SPDX-License-Identifier: MIT
// Untrusted bytes made safe to print: both programs name files in their
// messages, and a name (typed, globbed or stored in a container) may hold
// bytes that a terminal would act on. One escaping for both, so a name
// reads the same in pelk's reports as in unpelk's.
#pragma once

#include <string>
#include <string_view>

namespace pelk {

// Untrusted bytes (a stored name, a file name from the command line) as
// text safe for a terminal: valid, printable UTF-8 as itself, and control
// characters (C0, DEL, C1), bidirectional controls, bytes that are not
// UTF-8 and the backslash (not on Windows, where it separates a path's
// components) written as \xNN, one per byte.
std::string printable(std::string_view bytes);

}  // namespace pelk
