// SPDX-License-Identifier: MIT
// Whether a restore may put its file at the target path: the checks made on
// the target before a byte is decoded. A target is only ever a regular file
// (or a link to one) or a free name; anything else is refused with what it
// is, with or without -f, because replacing it is never what was meant:
// the container itself would lose its data, the program's own standard
// output or error under another name (/dev/stdout) is what -c is for, and
// a device node, a FIFO or a directory is not a file a restore could stand
// in for.
#pragma once

#include <string>

#include "common/file_system.h"

namespace pelk {

// The container being restored is told apart from its target by identity
// (file_identity), not by name: "h.plk", "./h.plk", a link to it, "H.PLK"
// where case does not count, and a stored name that happens to be its own
// file name all reach the same file.

// "" when target may receive the restored file, else the reason to refuse
// it. An existing regular file is refused only without `overwrite`. Faults
// that creating the file will meet anyway (a missing directory, no
// permission) are left to that step, which reports them.
std::string target_refusal(const std::string& target, file_identity container, bool overwrite);

}  // namespace pelk
