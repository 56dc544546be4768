// SPDX-License-Identifier: MIT
// --rm: letting go of an input once its output is complete, whether a
// compressed file or a restored container.
#pragma once

#include <string>

#include "common/file_system.h"

namespace pelk {

// Removes path, but only while it still names `read`, the file that was
// compressed or restored. An editor's save or a log's rotation can put
// another file under the name while the run reads the old one, and that
// file is not the run's to delete: it is kept, reported, and the input
// counts as failed. Returns whether the input was removed.
bool remove_input(const std::string& path, const file_identity& read);

}  // namespace pelk
