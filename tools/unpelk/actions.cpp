// The per-container actions: see actions.h.
//
// Every action opens the container, reads its header and, except listing,
// decodes its stream into a sink: a temporary file (restore), standard
// output (-c) or nothing (-t). Faults of the container are reported against
// the container's name, faults of writing against the output's name.
#include "tools/unpelk/actions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_io.h"
#include "container/container_reader.h"
#include "inflate/byte_source.h"
#include "tools/unpelk/listing.h"
#include "tools/unpelk/output_file.h"
#include "tools/unpelk/stored_name.h"
#include "tools/unpelk/target_check.h"

namespace pelk {
namespace {

constexpr uint64_t default_name_max = 255;

// An open container with its header read; closes itself.
struct opened_container {
  int fd = -1;
  uint64_t file_size = 0;
  file_identity identity{};
  byte_source source;
  container_header header;

  opened_container() = default;
  opened_container(const opened_container&) = delete;
  opened_container& operator=(const opened_container&) = delete;
  ~opened_container() {
    if (fd >= 0) ::close(fd);
  }
};

bool open_container(const std::string& path, opened_container& container) {
  // Without blocking: opening a FIFO would wait for a writer before the
  // check below could refuse it. Reads from a regular file never block.
  container.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (container.fd < 0) {
    report(path, std::strerror(errno));
    return false;
  }
  struct stat info;
  if (::fstat(container.fd, &info) != 0) {
    report(path, std::strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    report(path, S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file");
    return false;
  }
  container.file_size = static_cast<uint64_t>(info.st_size);
  container.identity = {info.st_dev, info.st_ino};
  container.source.read = read_descriptor;
  container.source.context = &container.fd;
  const container_problem problem = read_container_header(container.source, container.header);
  if (problem.fault != container_fault::none) {
    report(path, problem.text);
    return false;
  }
  return true;
}

int discard_bytes(void*, const uint8_t*, size_t) { return 0; }

// Decodes the open container into the file open as *output_fd, or nowhere
// when that is null; reports a fault of the container, or a failed write
// against output_name.
bool decode_into(const std::string& path, opened_container& container, inflater& state, int* output_fd,
                 const std::string& output_name) {
  const byte_sink sink = output_fd != nullptr ? byte_sink{write_descriptor, output_fd} : byte_sink{discard_bytes, nullptr};
  const body_check check = read_container_body(container.source, state, sink, container.header);
  if (check.fault == container_fault::write_failed) {
    report(output_name, std::string("write error: ") + std::strerror(check.write_error));
    return false;
  }
  if (check.fault != container_fault::none) {
    report(path, check.text);
    return false;
  }
  return true;
}

// The file the stored name asks for, in the container's directory, or ""
// after reporting why it cannot be used.
std::string stored_target(const std::string& path, const container_header& header) {
  if (!header.has_name) {
    report(path, "the container stores no name; give a target name");
    return "";
  }
  const std::string directory = directory_of(path);
  const long name_max = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  const char* reason = unsafe_name_reason(header.name, header.name_length,
                                          name_max > 0 ? static_cast<uint64_t>(name_max) : default_name_max);
  if (reason != nullptr) {
    report(path, std::string("refusing the stored name \"") + printable(header.name) + "\": " + reason +
                     "; give a target name");
    return "";
  }
  return directory + header.name;
}

}  // namespace

void report(const std::string& file, const std::string& reason) {
  // The file name may be a stored name or a hostile name given on the
  // command line (unpelk -t *.plk); either must not reach the terminal raw.
  std::fprintf(stderr, "unpelk: %s: %s\n", printable(file).c_str(), reason.c_str());
}

bool restore_container(const std::string& path, const std::string& target, bool overwrite,
                       inflater& state) {
  opened_container container;
  if (!open_container(path, container)) return false;
  const std::string final_path = target.empty() ? stored_target(path, container.header) : target;
  if (final_path.empty()) return false;

  const std::string refusal = target_refusal(final_path, container.identity, overwrite);
  if (!refusal.empty()) {
    report(final_path, refusal);
    return false;
  }
  temporary_file output;
  const std::string failure = create_output(final_path, output);
  if (!failure.empty()) {
    report(final_path, "cannot create a temporary file beside it: " + failure);
    return false;
  }
  if (!decode_into(path, container, state, &output.fd, final_path)) {
    discard_temporary(output);
    return false;
  }
  const std::string commit_failure = commit_output(output, overwrite);
  if (!commit_failure.empty()) {
    report(final_path, commit_failure);
    return false;
  }
  return true;
}

bool write_container_to_stdout(const std::string& path, inflater& state) {
  opened_container container;
  if (!open_container(path, container)) return false;
  int standard_output = STDOUT_FILENO;
  return decode_into(path, container, state, &standard_output, "standard output");
}

bool test_container(const std::string& path, inflater& state) {
  opened_container container;
  return open_container(path, container) && decode_into(path, container, state, nullptr, "");
}

bool list_container(const std::string& path, int current_year, bool& heading_printed) {
  opened_container container;
  if (!open_container(path, container)) return false;
  if (!heading_printed) std::printf("%s\n", list_heading().c_str());
  heading_printed = true;
  std::printf("%s\n", list_line(container.header, container.file_size, current_year).c_str());
  return true;
}

}  // namespace pelk
