// Container input: see container_input.h.
#include "tools/unpelk/container_input.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_io.h"
#include "tools/unpelk/actions.h"
#include "tools/unpelk/options.h"

namespace pelk {
namespace {

ptrdiff_t read_counted(void* context, uint8_t* buffer, size_t capacity) {
  opened_container& container = *static_cast<opened_container*>(context);
  const ptrdiff_t got = read_descriptor(&container.fd, buffer, capacity);
  if (got > 0) {
    container.bytes_read += static_cast<uint64_t>(got);
    if (container.progress != nullptr) container.progress->update(container.bytes_read);
  }
  return got;
}

// Opens a named container, which must be a regular file.
bool open_named(const std::string& path, opened_container& container, struct stat& info) {
  // Without blocking: opening a FIFO would wait for a writer before the
  // check below could refuse it. Reads from a regular file never block.
  container.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (container.fd < 0) {
    report(path, std::strerror(errno));
    return false;
  }
  container.owns_fd = true;
  if (::fstat(container.fd, &info) != 0) {
    report(path, std::strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    report(path, S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file");
    return false;
  }
  container.size = static_cast<uint64_t>(info.st_size);
  return true;
}

// Takes standard input as it is: a pipe, a socket or a redirected file.
bool open_standard_input(opened_container& container, struct stat& info) {
  container.fd = STDIN_FILENO;
  // A container typed in is never meant; waiting for one would look like a hang.
  if (::isatty(STDIN_FILENO) == 1) {
    report(container.name, "is a terminal, not a container");
    return false;
  }
  if (::fstat(STDIN_FILENO, &info) != 0) {
    report(container.name, std::strerror(errno));
    return false;
  }
  if (S_ISREG(info.st_mode)) {
    // A file handed over part-read (a script's own here-document) holds the
    // container from where it stands.
    const off_t offset = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    if (offset >= 0 && offset <= info.st_size) container.size = static_cast<uint64_t>(info.st_size - offset);
  }
  return true;
}

}  // namespace

opened_container::~opened_container() {
  if (owns_fd) ::close(fd);
}

bool open_container(const std::string& operand, opened_container& container) {
  const bool standard_input = operand == standard_input_operand;
  container.name = standard_input ? "standard input" : operand;
  struct stat info;
  const bool opened = standard_input ? open_standard_input(container, info) : open_named(operand, container, info);
  if (!opened) return false;
  container.identity = {info.st_dev, info.st_ino};
  container.source.read = read_counted;
  container.source.context = &container;
  const container_problem problem = read_container_header(container.source, container.header);
  if (problem.fault != container_fault::none) {
    report(container.name, problem.text);
    return false;
  }
  return true;
}

}  // namespace pelk
