// Temporary output and its commit: see output_file.h.
//
// The temporary file is made by mkstemp in the target's own directory (a
// rename across file systems would not be atomic), as ".unpelk-XXXXXX" so
// it is hidden from plain listings. Without -f the final name is claimed
// with link(), which fails when the name exists, instead of a check followed
// by rename(), which a file created in between would lose to.
#include "tools/unpelk/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/unpelk/cleanup_signals.h"

namespace pelk {
namespace {

std::string system_reason() { return std::strerror(errno); }

}  // namespace

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string create_output(const std::string& final_path, output_file& file) {
  std::string pattern = directory_of(final_path) + ".unpelk-XXXXXX";
  // A signal between mkstemp() and set_cleanup_path() would leave the
  // file behind, so none is taken until the file is named for removal.
  const cleanup_signals_held hold;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return system_reason();
  file.fd = fd;
  file.temp_path = pattern;
  file.final_path = final_path;
  set_cleanup_path(pattern);
  return "";
}

std::string commit_output(output_file& file, bool overwrite) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::string failure;
  bool renamed = false;
  if (::fchmod(file.fd, 0666 & ~mask) != 0 || ::close(file.fd) != 0) failure = system_reason();
  file.fd = -1;
  if (failure.empty()) {
    if (overwrite) {
      renamed = ::rename(file.temp_path.c_str(), file.final_path.c_str()) == 0;
      if (!renamed) failure = system_reason();
    } else if (::link(file.temp_path.c_str(), file.final_path.c_str()) != 0) {
      struct stat existing;
      if (errno == EEXIST || ::lstat(file.final_path.c_str(), &existing) == 0) {
        failure = already_exists_reason;
      } else {
        // A file system without hard links, and the name is free: rename.
        renamed = ::rename(file.temp_path.c_str(), file.final_path.c_str()) == 0;
        if (!renamed) failure = system_reason();
      }
    }
  }
  if (!renamed) ::unlink(file.temp_path.c_str());
  clear_cleanup_path();
  return failure;
}

void discard_output(output_file& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  if (!file.temp_path.empty()) ::unlink(file.temp_path.c_str());
  clear_cleanup_path();
}

bool write_to_descriptor(void* descriptor_writer_pointer, const uint8_t* data, size_t size) {
  descriptor_writer& writer = *static_cast<descriptor_writer*>(descriptor_writer_pointer);
  while (size > 0) {
    const ssize_t written = ::write(writer.fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      writer.write_errno = errno;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace pelk
