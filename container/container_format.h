// SPDX-License-Identifier: MIT
// The fixed bytes of the container. Layout, little-endian throughout:
//
//   0  1F AB      magic
//   2  08         method: deflate
//   3  flags      08 when a zero-terminated stored name follows the size
//   4  stamp      packed local time of the run (32 bits)
//   8  size       source length, low 32 bits
//  12  [name\0]   last path component of the source
//      deflate    raw RFC 1951 stream, ends on a byte boundary
//      crc        CRC-32 of the source bytes (32 bits), the file's last bytes
#pragma once

#include <cstdint>

namespace pelk {

inline constexpr uint8_t container_magic[2] = {0x1F, 0xAB};
inline constexpr uint8_t method_deflate = 8;
inline constexpr uint8_t flag_name_present = 0x08;
inline constexpr uint32_t fixed_header_bytes = 8;  // magic, method, flags, stamp
inline constexpr uint32_t sized_header_bytes = fixed_header_bytes + 4;  // ... and the size field
inline constexpr uint32_t trailer_bytes = 4;  // the CRC-32

}  // namespace pelk
