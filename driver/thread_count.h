// How many threads pelk compresses with: the processors it may run on, or
// what PELK_THREADS says.
#pragma once

#include <optional>

#include "container/container.h"

namespace pelk {

// PELK_THREADS when it is set (a positive whole number, lowered to
// max_threads), else the number of processors in the process's CPU
// affinity. Nothing when PELK_THREADS holds anything else.
std::optional<unsigned> compression_threads();

}  // namespace pelk
