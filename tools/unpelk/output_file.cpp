// SPDX-License-Identifier: MIT
// Restored files and their commit: see output_file.h.
//
// Without -f the final name is claimed with link() (MoveFileExW without
// MOVEFILE_REPLACE_EXISTING on Windows), which fails when the name exists,
// instead of a check followed by a rename, which a file created in between
// would lose to.
#include "tools/unpelk/output_file.h"

#include <cerrno>
#include <cstring>

#include "common/file_system.h"
#include "tools/unpelk/stored_name.h"

namespace pelk {

std::string create_output(const std::string& final_path, temporary_file& file) {
  const int error = create_temporary(final_path, program_in_messages, file);
  return error == 0 ? "" : std::strerror(error);
}

std::string commit_output(temporary_file& file, bool overwrite, const file_status* carried) {
  const int given = carried != nullptr ? give_mode_and_time(file.fd, *carried) : give_new_file_permissions(file.fd);
  if (const int error = given) {
    discard_temporary(file);
    return std::strerror(error);
  }
  const int error = overwrite ? commit_temporary(file) : commit_temporary_if_absent(file);
  if (error == 0) return "";
  return !overwrite && error == EEXIST ? already_exists_reason : std::strerror(error);
}

}  // namespace pelk
