// CRC-32 with the reflected polynomial EDB88320, register preset to all ones
// and complemented on the way out: the check value of "123456789" is
// CBF43926.
//
// The register stays uncomplemented between calls, so the input may arrive
// in pieces of any size. The plain rule, one byte at a time, is
//
//     reg = table[0][(reg ^ byte) & 0xFF] ^ (reg >> 8)
//
// with table[0][n] the register after eight shifts of n alone. Eight bytes
// at a time ("slicing by 8"): table[k][n] is table[0][n] pushed through k
// more zero bytes, so each of the eight bytes of (reg ^ next eight bytes)
// contributes its own look-up, independent of the others, and the eight
// look-ups run in parallel instead of one after another.
#include "container/crc32.h"

#include <array>
#include <bit>
#include <cstring>

namespace pelk {
namespace {

constexpr uint32_t crc_polynomial = 0xEDB88320;

using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_tables make_crc_tables() {
  crc_tables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t reg = n;
    for (int bit = 0; bit < 8; ++bit) {
      reg = (reg & 1) ? (reg >> 1) ^ crc_polynomial : reg >> 1;
    }
    tables[0][n] = reg;
  }
  for (size_t k = 1; k < tables.size(); ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t previous = tables[k - 1][n];
      tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr crc_tables crc_table = make_crc_tables();
static_assert(crc_table[0][1] == 0x77073096);
static_assert(crc_table[0][255] == 0x2D02EF8D);

uint32_t crc_register = 0xFFFFFFFF;

uint32_t crc_bytes(uint32_t reg, const uint8_t* p, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) reg = crc_table[0][(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t crc_words(uint32_t reg, const uint8_t* p, uint32_t count) {
  for (; count >= 8; count -= 8, p += 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    word ^= reg;
    reg = crc_table[7][word & 0xFF] ^ crc_table[6][(word >> 8) & 0xFF] ^
          crc_table[5][(word >> 16) & 0xFF] ^ crc_table[4][(word >> 24) & 0xFF] ^
          crc_table[3][(word >> 32) & 0xFF] ^ crc_table[2][(word >> 40) & 0xFF] ^
          crc_table[1][(word >> 48) & 0xFF] ^ crc_table[0][word >> 56];
  }
  return crc_bytes(reg, p, count);
}

}  // namespace

uint32_t update_checksum(const uint8_t* buffer, uint32_t count) {
  if (buffer == nullptr) {
    crc_register = 0xFFFFFFFF;
    return 0;
  }
  // The word form reads the first input byte from the low end of the word.
  crc_register = std::endian::native == std::endian::little
                     ? crc_words(crc_register, buffer, count)
                     : crc_bytes(crc_register, buffer, count);
  return ~crc_register;
}

}  // namespace pelk
