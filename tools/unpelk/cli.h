// unpelk's command line: options, operands, help, and the exit status.
#pragma once

namespace pelk {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;
inline constexpr int exit_usage = 2;

// Runs unpelk on its arguments and returns the exit status.
int unpelk_main(int argc, char** argv);

}  // namespace pelk
