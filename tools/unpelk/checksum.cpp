// CRC-32, eight bytes per step ("slicing by eight").
//
// The plain rule takes one byte per step:
//
//     reg = table[0][(reg ^ byte) & 0xFF] ^ (reg >> 8)
//
// table[k][n] is the register after n has passed through it followed by k
// zero bytes. XOR-ing the register into the next eight bytes and looking up
// each of them in the table for its distance from the end does eight steps
// with eight independent lookups, which the processor runs in parallel.
#include "tools/unpelk/checksum.h"

#include <array>
#include <bit>
#include <cstring>

namespace pelk {
namespace {

constexpr uint32_t crc_polynomial = 0xEDB88320;

using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_tables make_tables() {
  crc_tables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t reg = n;
    for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ crc_polynomial : reg >> 1;
    tables[0][n] = reg;
  }
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t prev = tables[k - 1][n];
      tables[k][n] = tables[0][prev & 0xFF] ^ (prev >> 8);
    }
  }
  return tables;
}

constexpr crc_tables tables = make_tables();
static_assert(tables[0][1] == 0x77073096);

}  // namespace

uint32_t crc32_extend(uint32_t crc, const uint8_t* data, size_t size) {
  uint32_t reg = ~crc;
  if constexpr (std::endian::native == std::endian::little) {
    for (; size >= 8; size -= 8, data += 8) {
      uint64_t word;
      std::memcpy(&word, data, 8);
      word ^= reg;
      reg = tables[7][word & 0xFF] ^ tables[6][(word >> 8) & 0xFF] ^
            tables[5][(word >> 16) & 0xFF] ^ tables[4][(word >> 24) & 0xFF] ^
            tables[3][(word >> 32) & 0xFF] ^ tables[2][(word >> 40) & 0xFF] ^
            tables[1][(word >> 48) & 0xFF] ^ tables[0][word >> 56];
    }
  }
  for (; size > 0; --size) reg = tables[0][(reg ^ *data++) & 0xFF] ^ (reg >> 8);
  return ~reg;
}

}  // namespace pelk
