// The header's time stamp: see stamp.h.
#include "container/stamp.h"

namespace pelk {

uint32_t pack_local_stamp(const std::tm& local) {
  auto field = [](int value, uint32_t width, uint32_t shift) {
    return (static_cast<uint32_t>(value) & ((1u << width) - 1)) << shift;
  };
  return field(local.tm_sec >> 1, 5, 0) | field(local.tm_min, 6, 5) |
         field(local.tm_hour, 5, 11) | field(local.tm_mday - 1, 5, 16) |
         field(local.tm_mon, 5, 21) | field(local.tm_year + 48, 6, 26);
}

uint32_t stamp_from_time(std::time_t t) {
  std::tm local{};
  // The reentrant form: library callers may convert on several threads.
#ifdef _WIN32
  return ::localtime_s(&local, &t) == 0 ? pack_local_stamp(local) : 0;
#else
  return ::localtime_r(&t, &local) != nullptr ? pack_local_stamp(local) : 0;
#endif
}

}  // namespace pelk
