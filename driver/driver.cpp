// The per-file step: name checks, measuring and opening both files, and
// handing them to the container writer.
//
// Every refusal comes after the banner and the input line and is one line
// on standard error with exit status 1; nothing is created or changed
// before the last refusal has been passed. The target is truncated only
// once it is known not to be the source under another name (a link, ./x
// against x, another letter case on a case-insensitive file system), since
// truncating the source would destroy it.
#include "driver/driver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "container/container.h"

namespace pelk {

std::optional<std::string> derive_target_name(const char* source) {
  std::string target = source;
  const size_t suffix_length = sizeof derived_suffix - 1;
  if (target.size() < suffix_length) return std::nullopt;
  target.replace(target.size() - suffix_length, suffix_length, derived_suffix);
  return target;
}

uint32_t pack_local_stamp(const std::tm& local) {
  auto field = [](int value, uint32_t width, uint32_t shift) {
    return (static_cast<uint32_t>(value) & ((1u << width) - 1)) << shift;
  };
  return field(local.tm_sec >> 1, 5, 0) | field(local.tm_min, 6, 5) |
         field(local.tm_hour, 5, 11) | field(local.tm_mday - 1, 5, 16) |
         field(local.tm_mon, 5, 21) | field(local.tm_year + 48, 6, 26);
}

int64_t measure_file_size(std::FILE* stream) {
  fseeko(stream, 0, SEEK_END);
  const int64_t size = ftello(stream);
  fseeko(stream, 0, SEEK_SET);
  return size;
}

void announce(const char* source) {
  std::printf("%s", banner);
  std::printf("in file = %s\n", source);
  std::fflush(stdout);  // before any report on standard error
}

void show_usage() {
  std::printf("%s", usage_text);
  std::exit(0);
}

namespace {

[[noreturn]] void refuse(const char* file, const char* reason) {
  report_file_error(file, reason);
}

[[noreturn]] void refuse_with_errno(const char* file) {
  refuse(file, std::strerror(errno));
}

uint32_t stamp_of_now() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? pack_local_stamp(*local) : 0;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int compress_file(const char* source, const char* target) {
  const uint32_t time_stamp = stamp_of_now();
  announce(source);

  if (std::strcmp(source, target) == 0) refuse(target, "source and target are the same file");

  // Checked before anything is opened: opening a FIFO would block, and a
  // directory or device has no length to measure.
  struct stat source_info;
  if (::stat(source, &source_info) != 0) refuse_with_errno(source);
  if (!S_ISREG(source_info.st_mode)) refuse(source, "not a regular file");

  std::FILE* stream = std::fopen(source, "rb");
  if (stream == nullptr) refuse_with_errno(source);
  const int64_t source_size = measure_file_size(stream);
  std::fclose(stream);

  const int source_fd = ::open(source, O_RDONLY | O_CLOEXEC);
  if (source_fd < 0) refuse_with_errno(source);

  // Opened without truncation and without blocking (a FIFO with no reader),
  // so a refusal below leaves the target as it was.
  const int target_fd = ::open(target, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
  if (target_fd < 0) refuse_with_errno(target);
  struct stat target_info;
  if (::fstat(target_fd, &target_info) != 0) refuse_with_errno(target);
  if (same_file(source_info, target_info)) refuse(target, "source and target are the same file");
  if (S_ISREG(target_info.st_mode) && ::ftruncate(target_fd, 0) != 0) refuse_with_errno(target);
  ::fcntl(target_fd, F_SETFL, ::fcntl(target_fd, F_GETFL) & ~O_NONBLOCK);

  set_store_name(1);
  set_input_name(source);
  const int result = write_container(source_fd, target_fd, static_cast<uint64_t>(source_size),
                                     time_stamp);
  ::close(source_fd);
  ::close(target_fd);
  return result;
}

}  // namespace pelk
