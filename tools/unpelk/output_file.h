// SPDX-License-Identifier: MIT
// Where decoded (or, for plk, compressed) bytes go when they become a file: a temporary file beside
// the target, which takes the target's name only after the container has
// been verified. So a failed or interrupted run never leaves a half-written
// or unverified file under the final name, and nothing but the temporary
// file and the target is ever created.
#pragma once

#include <string>

#include "container/temporary_file.h"

namespace pelk {

// Why a name that is taken is not replaced without -f.
inline constexpr const char already_exists_reason[] = "already exists (use -f to overwrite)";

// Creates an empty temporary file in the directory of final_path. Returns
// "" or the system's reason.
std::string create_output(const std::string& final_path, temporary_file& file);

// Gives the finished temporary file its final name and the permissions a
// new file gets (0666 less the umask), or the permission bits and the
// modification time of `carried` where that is given. Without `overwrite`
// an existing file is never replaced, even one created while the data was
// being written. Returns "" or the reason; on failure the temporary file is
// removed.
std::string commit_output(temporary_file& file, bool overwrite, const file_status* carried = nullptr);

}  // namespace pelk
