// SPDX-License-Identifier: MIT
// Removing an input: see input_removal.h.
#include "tools/plk/input_removal.h"

#include <cstring>

#include "tools/unpelk/stored_name.h"

namespace pelk {

bool remove_input(const std::string& path, const file_identity& read) {
  // Links followed, as when the input was opened: the file it leads to is
  // the one compared. The name itself goes, as it always did, so a link
  // given as the input is removed and what it leads to stays.
  file_status now;
  if (const int error = path_status(path, now)) {
    report(path, std::string("cannot remove it: ") + std::strerror(error));
    return false;
  }
  // Where the system cannot tell files apart, the name is trusted as
  // before.
  if (read.known && now.identity.known && !same_file(now.identity, read)) {
    report(path, "not removed: another file has taken its name since it was read");
    return false;
  }
  if (const int error = remove_file(path)) {
    report(path, std::string("cannot remove it: ") + std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace pelk
