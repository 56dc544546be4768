// SPDX-License-Identifier: MIT
// Target checks: see target_check.h.
//
// path_status follows links, so a link is judged by what it leads to: a
// link to the container or to a device is refused like the thing itself.
// Only when nothing is found there does link_status ask whether a dangling
// link holds the name, since without -f that name is taken too.
#include "tools/unpelk/target_check.h"

#include "common/standard_streams.h"
#include "tools/unpelk/output_file.h"

namespace pelk {
namespace {

const char* kind_of(file_kind kind) {
  switch (kind) {
    case file_kind::character_device: return "is a character device, not a regular file";
    case file_kind::block_device: return "is a block device, not a regular file";
    case file_kind::fifo: return "is a FIFO, not a regular file";
    case file_kind::socket: return "is a socket, not a regular file";
    default: return "is not a regular file";
  }
}

}  // namespace

std::string target_refusal(const std::string& target, file_identity container, bool overwrite) {
  file_status info;
  if (path_status(target, info) != 0) {
    // A final separator asks for a directory; without this the failure
    // would surface later as a temporary file that cannot be made in it.
    if (!target.empty() && file_name_start(target) == target.size()) {
      return "names a directory (it ends in /), not a file";
    }
    file_status link;
    if (!overwrite && link_status(target, link) == 0) return already_exists_reason;
    return "";
  }
  if (same_file(info.identity, container)) return "is the container being restored";
  // Restored as a file, the stream would be replaced under its name (the
  // /dev/stdout link itself) or overwritten from its start; -c is the way
  // to write there.
  switch (standard_stream_of(info)) {
    case standard_output: return "is standard output; use -c to write there";
    case standard_error: return "is standard error; use -c to write to standard output";
    default: break;
  }
  if (info.kind == file_kind::directory) return "is a directory";
  if (info.kind != file_kind::regular) return kind_of(info.kind);
  if (!overwrite) return already_exists_reason;
  return "";
}

}  // namespace pelk
