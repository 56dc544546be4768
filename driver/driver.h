// SPDX-License-Identifier: MIT
// The run driver: one source file in, one container out.
#pragma once

#include <optional>
#include <string>

namespace pelk {

inline constexpr const char banner[] = "Pelk Compress ver 1.0  2004.7.8 by the Pelk developers\n";
inline constexpr const char usage_text[] =
    "Usage : -option src_file [target_file]\n \t\t\t -c : Zip\n \t\t\t -d : Uncompress\n";
inline constexpr const char derived_suffix[] = "plk";
inline constexpr const char program_name[] = "pelk";

// The target named after the source: its last three characters replaced by
// "plk", whatever they are. None when the file's own name, the path's last
// component, is shorter than that.
std::optional<std::string> derive_target_name(const char* source);

// Prints the banner and the input line.
void announce(const char* source);

// Compresses source into target. Refusals and failures are reported on
// standard error and end the run with status 1, the old target left as it
// was; so does a source that changed size as it was read, once its
// container, true to the bytes read, has taken the target's name. Returns
// 0 otherwise.
int compress_file(const char* source, const char* target);

[[noreturn]] void show_usage();

// The program's two reports, each one line on standard error after an
// empty line, "pelk: FILE: reason" and "pelk: " and the system's text for
// error; both end the run with status 1, removing a temporary target.
[[noreturn]] void report_file_error(const char* file, const char* reason);
[[noreturn]] void report_system_error(int error);

}  // namespace pelk
