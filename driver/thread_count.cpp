// SPDX-License-Identifier: MIT
// The thread count: see thread_count.h.
//
// The default is the affinity, not the machine's processor count: a
// process confined to two processors (taskset, a container's cpuset) gains
// nothing from more threads, and each costs memory.
#include "driver/thread_count.h"

#ifdef _WIN32
#include <windows.h>

#include <bit>
#else
#include <sched.h>
#endif

#include <cstdint>
#include <cstdlib>

namespace pelk {

unsigned processors_allowed() {
#ifdef _WIN32
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) return 1;
  const int count = std::popcount(static_cast<uint64_t>(process_mask));
#else
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  const int count = CPU_COUNT(&allowed);
#endif
  if (count <= 0) return 1;
  return static_cast<unsigned>(count) < max_threads ? static_cast<unsigned>(count) : max_threads;
}

std::optional<unsigned> parse_thread_count(const char* text) {
  unsigned value = 0;
  if (*text == '\0') return std::nullopt;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(*c - '0');
    if (value > max_threads) value = max_threads;  // any longer number stays lowered
  }
  return value;
}

std::optional<unsigned> compression_threads() {
  const char* setting = std::getenv("PELK_THREADS");
  if (setting == nullptr) return processors_allowed();
  const std::optional<unsigned> value = parse_thread_count(setting);
  if (value == 0) return std::nullopt;  // at least one digit nonzero
  return value;
}

}  // namespace pelk
