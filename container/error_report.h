// Internal to the container subsystem: the reports that end a failed run.
#pragma once

namespace pelk {

extern const char* const program_name;

// "\n<program>: " and the system's text for errno, exit status 1.
[[noreturn]] void report_write_error();
[[noreturn]] void report_read_error();

[[noreturn]] void abandon_run();
[[noreturn]] void end_run(int status);

}  // namespace pelk
