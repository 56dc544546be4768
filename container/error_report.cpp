// The one place where a run ends in failure.
//
// Every report is a single line on standard error, after a line feed so it
// never runs on from the banner line. A temporary target is removed, so the
// old target stays as it was; standard output is flushed by the normal
// exit, so the banner lines printed before the failure still appear.
#include "container/error_report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "container/container_writer.h"
#include "container/temporary_file.h"

namespace pelk {

const char* const program_name = "pelk";

void report_error(const char* message) {
  report_file_error(input_name.c_str(), message);
}

void report_file_error(const char* file, const char* reason) {
  std::fprintf(stderr, "\n%s: %s: %s\n", program_name, file, reason);
  abandon_run();
}

namespace {

[[noreturn]] void report_system_error() {
  // Taken first: printing may itself change errno.
  const int error = errno;
  std::fprintf(stderr, "\n%s: %s\n", program_name, std::strerror(error));
  abandon_run();
}

}  // namespace

void report_write_error() { report_system_error(); }
void report_read_error() { report_system_error(); }

void abandon_run() {
  remove_pending_temporary();
  end_run(1);
}

void end_run(int status) { std::exit(status); }

}  // namespace pelk
