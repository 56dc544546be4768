// The stored name is untrusted input: a container may come from anywhere,
// and its name is used to create a file. This unit decides whether a name
// may be created as it stands inside the chosen directory, and turns
// untrusted bytes into text that is safe to print on a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelk {

// Nothing when `name` (whose whole length is full_length; name may hold only
// its start) names a plain entry of a directory whose entries may be
// name_max bytes long; else why it may not be used.
const char* unsafe_name_reason(std::string_view name, uint64_t full_length, uint64_t name_max);

// Untrusted bytes (a stored name, a file name from the command line) as
// text safe for a terminal: valid, printable UTF-8 as itself, and control
// characters (C0, DEL, C1), bidirectional controls, bytes that are not
// UTF-8 and the backslash written as \xNN, one per byte.
std::string printable(std::string_view bytes);

}  // namespace pelk
