// SPDX-License-Identifier: MIT
// unpelk's command line: options, operands, help, and the exit status.
#pragma once

namespace pelk {

// Runs unpelk on its arguments and returns the exit status.
int unpelk_main(int argc, char** argv);

}  // namespace pelk
