// Target checks: see target_check.h.
//
// stat() follows links, so a link is judged by what it leads to: a link to
// the container or to a device is refused like the thing itself. Only when
// nothing is found there does lstat() ask whether a dangling link holds the
// name, since without -f that name is taken too.
#include "tools/unpelk/target_check.h"

#include <sys/stat.h>

#include "tools/unpelk/output_file.h"

namespace pelk {
namespace {

const char* kind_of(mode_t mode) {
  if (S_ISCHR(mode)) return "is a character device, not a regular file";
  if (S_ISBLK(mode)) return "is a block device, not a regular file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "is not a regular file";
}

}  // namespace

std::string target_refusal(const std::string& target, file_identity container, bool overwrite) {
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) {
    // A final slash asks for a directory; without this the failure would
    // surface later as a temporary file that cannot be made in it.
    if (!target.empty() && target.back() == '/') return "names a directory (it ends in /), not a file";
    struct stat link;
    if (!overwrite && ::lstat(target.c_str(), &link) == 0) return already_exists_reason;
    return "";
  }
  if (info.st_dev == container.device && info.st_ino == container.inode) {
    return "is the container being restored";
  }
  if (S_ISDIR(info.st_mode)) return "is a directory";
  if (!S_ISREG(info.st_mode)) return kind_of(info.st_mode);
  if (!overwrite) return already_exists_reason;
  return "";
}

}  // namespace pelk
