// SPDX-License-Identifier: MIT
// The stored name is untrusted input: a container may come from anywhere,
// and its name is used to create a file. This unit decides whether a name
// may be created as it stands inside the chosen directory, and reports a
// file's fault with its name made safe to print (common/printable_text.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/printable_text.h"  // printable(), for every message that names a file

namespace pelk {

// Nothing when `name` (whose whole length is full_length; name may hold only
// its start) names a plain entry of a directory whose entries may be
// name_max bytes long; else why it may not be used.
const char* unsafe_name_reason(std::string_view name, uint64_t full_length, uint64_t name_max);

// Nothing when Windows would create a file of exactly this name, else why
// not: a device name (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, COM and LPT
// with a superscript digit, CONIN$, CONOUT$), alone or before an extension,
// which opens the device instead of a file; a trailing dot or space, which
// Windows drops, so the file would take another name (perhaps an existing
// one's); a character Windows forbids in names (< > " | ? *); and bytes
// that are not UTF-8, which name no UTF-16 name. The Windows build refuses
// these besides unsafe_name_reason; elsewhere they are ordinary names
// (aux.c, con.h) and are restored as they stand.
const char* windows_name_reason(std::string_view name);

#ifdef _WIN32
inline constexpr bool refuses_windows_names = true;
#else
inline constexpr bool refuses_windows_names = false;
#endif

// The program that speaks in reports, usage errors, progress lines and
// temporary file names: unpelk, or plk, which restores through the same
// units. Set once, before anything is reported.
inline const char* program_in_messages = "unpelk";

// "unpelk: <file>: <reason>" on standard error, the file name escaped: it
// may be a stored name or a hostile name given on the command line
// (unpelk -t *.plk), and neither must reach the terminal raw.
void report(const std::string& file, const std::string& reason);

}  // namespace pelk
