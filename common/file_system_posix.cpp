// SPDX-License-Identifier: MIT
// The file-system vocabulary over POSIX: see file_system.h.
#include "common/file_system.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelk {
namespace {

constexpr uint64_t default_name_max = 255;

file_kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return file_kind::regular;
  if (S_ISDIR(mode)) return file_kind::directory;
  if (S_ISCHR(mode)) return file_kind::character_device;
  if (S_ISBLK(mode)) return file_kind::block_device;
  if (S_ISFIFO(mode)) return file_kind::fifo;
  if (S_ISSOCK(mode)) return file_kind::socket;
  if (S_ISLNK(mode)) return file_kind::symbolic_link;
  return file_kind::other;
}

int fill(int result, const struct stat& info, file_status& status) {
  if (result != 0) return errno;
  status.kind = kind_of(info.st_mode);
  status.identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), true};
  status.size = static_cast<uint64_t>(info.st_size);
  status.mode = static_cast<uint32_t>(info.st_mode & 07777);
  status.owner = static_cast<uint32_t>(info.st_uid);
  status.group = static_cast<uint32_t>(info.st_gid);
  status.modified = {static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<uint32_t>(info.st_mtim.tv_nsec)};
  return 0;
}

}  // namespace

int path_status(const std::string& path, file_status& status) {
  struct stat info;
  return fill(::stat(path.c_str(), &info), info, status);
}

int link_status(const std::string& path, file_status& status) {
  struct stat info;
  return fill(::lstat(path.c_str(), &info), info, status);
}

int descriptor_status(int fd, file_status& status) {
  struct stat info;
  return fill(::fstat(fd, &info), info, status);
}

int open_for_reading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int open_for_writing_in_place(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void make_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

int close_file(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int64_t descriptor_offset(int fd) { return ::lseek(fd, 0, SEEK_CUR); }

int rewind_file(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : errno; }

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

unsigned terminal_columns(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void copy_permissions(int fd, const file_status& replaced) {
  static_cast<void>(::fchown(fd, replaced.owner, replaced.group));
  static_cast<void>(::fchmod(fd, replaced.mode));
}

int give_new_file_permissions(int fd) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
}

int give_mode_and_time(int fd, const file_status& from) {
  if (::fchmod(fd, static_cast<mode_t>(from.mode & 0777)) != 0) return errno;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;  // read now, as far as anyone can tell
  times[1].tv_sec = static_cast<time_t>(from.modified.seconds);
  times[1].tv_nsec = static_cast<long>(from.modified.nanoseconds);
  return ::futimens(fd, times) == 0 ? 0 : errno;
}

int open_scratch_file(int& fd, std::string& directory) {
  const char* chosen = std::getenv("TMPDIR");
  directory = chosen != nullptr && *chosen != '\0' ? chosen : "/tmp";
  std::string pattern = directory + "/.pelk-scratch-XXXXXX";
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  ::unlink(pattern.c_str());
  return 0;
}

int remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

size_t file_name_start(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

uint64_t longest_file_name(const std::string& directory) {
  const long name_max = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  return name_max > 0 ? static_cast<uint64_t>(name_max) : default_name_max;
}

uint64_t file_name_units(std::string_view name) { return name.size(); }

}  // namespace pelk
