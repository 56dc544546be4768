// CRC-32 with the reflected polynomial EDB88320, register preset to all ones
// and complemented on the way out: the check value of "123456789" is
// CBF43926.
//
// The register stays uncomplemented between calls, so the input may arrive
// in pieces of any size. The plain rule, one byte at a time, is
//
//     reg = table[(reg ^ byte) & 0xFF] ^ (reg >> 8)
//
// with table[n] the register after eight shifts of n alone.
#include "container/crc32.h"

#include <array>

namespace pelk {
namespace {

constexpr uint32_t crc_polynomial = 0xEDB88320;

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t reg = n;
    for (int bit = 0; bit < 8; ++bit) {
      reg = (reg & 1) ? (reg >> 1) ^ crc_polynomial : reg >> 1;
    }
    table[n] = reg;
  }
  return table;
}

constexpr std::array<uint32_t, 256> crc_table = make_crc_table();
static_assert(crc_table[1] == 0x77073096);
static_assert(crc_table[255] == 0x2D02EF8D);

uint32_t crc_register = 0xFFFFFFFF;

}  // namespace

uint32_t update_checksum(const uint8_t* buffer, uint32_t count) {
  if (buffer == nullptr) {
    crc_register = 0xFFFFFFFF;
    return 0;
  }
  uint32_t reg = crc_register;
  for (uint32_t i = 0; i < count; ++i) {
    reg = crc_table[(reg ^ buffer[i]) & 0xFF] ^ (reg >> 8);
  }
  crc_register = reg;
  return ~reg;
}

}  // namespace pelk
