// SPDX-License-Identifier: MIT
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

// The number of processors in the process's CPU affinity, lowered to
// max_threads.
unsigned processors_allowed();

// A whole number written in digits alone (no sign, no spaces, no "2x"),
// lowered to max_threads; nothing for anything else.
std::optional<unsigned> parse_thread_count(const char* text);

}  // namespace pelk
