// SPDX-License-Identifier: MIT
// Little-endian loads of unaligned bytes, the one byte order every hot path
// of Pelk reads in: deflate's bit stream, the CRC's slicing tables and the
// match finder's eight-byte comparisons all want the first byte in the low
// bits. A memcpy is the only load that is defined for any alignment; on a
// little-endian processor it is one load, on a big-endian one a load and a
// byte swap (s390x has a single byte-reversed load for it).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace pelk {

constexpr uint64_t byte_swap64(uint64_t value) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(value);
#else
  uint64_t swapped = 0;
  for (int i = 0; i < 8; ++i, value >>= 8) swapped = swapped << 8 | (value & 0xFF);
  return swapped;
#endif
}

static_assert(byte_swap64(0x0102030405060708) == 0x0807060504030201);

// The eight bytes at p, p[0] in the low byte.
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = byte_swap64(value);
  return value;
}

// Stores value's eight bytes at p, the low byte first.
inline void store_le64(uint8_t* p, uint64_t value) {
  if constexpr (std::endian::native == std::endian::big) value = byte_swap64(value);
  std::memcpy(p, &value, sizeof value);
}

// The four bytes at p, p[0] lowest: the container's header and trailer fields.
inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void store_le32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace pelk
