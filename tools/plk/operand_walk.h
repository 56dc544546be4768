// SPDX-License-Identifier: MIT
// The inputs a command line names: each operand as it stands, and with -r
// the files in each directory operand and below it. Links found in the
// walk are not followed, neither to files nor to directories, so a walk
// never leaves the tree it was given nor meets a file twice; a link named
// on the command line is followed, as it was asked for.
#pragma once

#include <string>
#include <vector>

#include "tools/plk/options.h"

namespace pelk {

// The inputs in command-line order, each directory's files sorted by name.
// In a walk, compressing takes the files without the suffix, the other
// modes those with it. A directory that cannot be read is reported, and
// all_ok cleared, without stopping the rest.
std::vector<std::string> expand_operands(const plk_options& options, bool& all_ok);

}  // namespace pelk
