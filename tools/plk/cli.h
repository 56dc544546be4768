// SPDX-License-Identifier: MIT
// plk's command line: options, inputs, help, and the exit status.
#pragma once

namespace pelk {

// Runs plk on its arguments and returns the exit status.
int plk_main(int argc, char** argv);

}  // namespace pelk
