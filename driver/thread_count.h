// How many threads pelk compresses with: the processors it may run on, or
// what PELK_THREADS says.
#pragma once

#include <optional>

namespace pelk {

// More than this many threads is never asked of the engine: each costs a
// few MiB, and no machine pelk runs on gains from more.
inline constexpr unsigned max_threads = 256;

// PELK_THREADS when it is set (a positive whole number, lowered to
// max_threads), else the number of processors in the process's CPU
// affinity. Nothing when PELK_THREADS holds anything else.
std::optional<unsigned> compression_threads();

}  // namespace pelk
