// SPDX-License-Identifier: MIT
// CRC-32 of the source bytes, as the container's trailer carries it, for the
// compressor and for unpelk alike: carry-less multiplication where the
// processor has it (x86-64), eight bytes per table step elsewhere and for
// the ends.
// Reflected polynomial EDB88320, register preset to all ones, complemented
// on the way out: the check value of "123456789" is CBF43926.
//
// The plain rule takes one byte per step:
//
//     reg = table[0][(reg ^ byte) & 0xFF] ^ (reg >> 8)
//
// Slicing by eight: table[k][n] is the register after n has passed through
// it followed by k zero bytes. XOR-ing the register into the next eight bytes
// and looking up each of them in the table for its distance from the end
// does eight steps with eight independent lookups.
//
// Folding (PCLMULQDQ). In the bit order of this CRC, a 128-bit value holds
// a polynomial with bit k the coefficient of x^(127-k). Read the message that
// way 16 bytes at a time (the first four XOR-ed with the register): if X is
// the message so far, reduced to 128 bits, the message with the next block B
// is X x^128 + B. With X = H x^64 + L (H in the low half),
//
//     X x^128 + B  =  H x^192 + L x^128 + B
//                  =  H (x^192 mod P) + L (x^128 mod P) + B    (mod P),
//
// two 64 x 32-bit carry-less products and two XORs, all congruent modulo
// the CRC polynomial P. Four such values fold four blocks at once (x^576 and
// x^512 then); at the end they fold into one, and since the table rule,
// started from a zero register, computes exactly (X x^32 mod P), the last 16
// bytes of state and the message's tail go through the table.
//
// The product of two bit-reversed 64-bit values comes out one place short
// (bit k is the coefficient of x^(126-k)), so each constant is x^(n-1) mod P.
#include "common/crc32.h"

#include <array>

#include "common/byte_order.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PELK_X86_PCLMUL 1
#include <immintrin.h>
#else
#define PELK_X86_PCLMUL 0
#endif

namespace pelk {
namespace {

constexpr uint32_t crc_polynomial = 0xEDB88320;  // x^32 + ... + 1, reflected

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

// Runs the (uncomplemented) register over the bytes. The word is read
// little-endian whatever the processor, so the first byte meets the
// register's low byte, as the byte rule has it.
uint32_t table_update(uint32_t reg, const uint8_t* data, size_t size) {
  for (; size >= 8; size -= 8, data += 8) {
    const uint64_t word = load_le64(data) ^ reg;
    reg = tables[7][word & 0xFF] ^ tables[6][(word >> 8) & 0xFF] ^
          tables[5][(word >> 16) & 0xFF] ^ tables[4][(word >> 24) & 0xFF] ^
          tables[3][(word >> 32) & 0xFF] ^ tables[2][(word >> 40) & 0xFF] ^
          tables[1][(word >> 48) & 0xFF] ^ tables[0][word >> 56];
  }
  for (; size > 0; --size) reg = tables[0][(reg ^ *data++) & 0xFF] ^ (reg >> 8);
  return reg;
}

#if PELK_X86_PCLMUL

// x^n mod P, as a 64-bit operand in the folding's bit order: the
// coefficient of x^j at bit 63 - j.
constexpr uint64_t folding_constant(int n) {
  uint64_t remainder = 1;
  for (int i = 0; i < n; ++i) {
    remainder <<= 1;
    if (remainder >> 32) remainder ^= 0x104C11DB7;
  }
  uint64_t reflected = 0;
  for (int j = 0; j < 32; ++j) {
    if ((remainder >> j) & 1) reflected |= uint64_t{1} << (63 - j);
  }
  return reflected;
}

constexpr uint64_t fold_128_low = folding_constant(192 - 1);   // for H, the low half
constexpr uint64_t fold_128_high = folding_constant(128 - 1);  // for L, the high half
constexpr uint64_t fold_512_low = folding_constant(576 - 1);
constexpr uint64_t fold_512_high = folding_constant(512 - 1);

[[gnu::target("pclmul,sse2")]] inline __m128i fold(__m128i state, __m128i constants, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(state, constants, 0x00),
                                     _mm_clmulepi64_si128(state, constants, 0x11)),
                       next);
}

[[gnu::target("pclmul,sse2")]] inline __m128i load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// For at least 64 bytes.
[[gnu::target("pclmul,sse2")]] uint32_t folding_update(uint32_t reg, const uint8_t* data, size_t size) {
  const __m128i by_512 = _mm_set_epi64x(static_cast<int64_t>(fold_512_high), static_cast<int64_t>(fold_512_low));
  const __m128i by_128 = _mm_set_epi64x(static_cast<int64_t>(fold_128_high), static_cast<int64_t>(fold_128_low));
  __m128i x0 = _mm_xor_si128(load128(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = load128(data + 16);
  __m128i x2 = load128(data + 32);
  __m128i x3 = load128(data + 48);
  data += 64;
  size -= 64;
  for (; size >= 64; data += 64, size -= 64) {
    x0 = fold(x0, by_512, load128(data));
    x1 = fold(x1, by_512, load128(data + 16));
    x2 = fold(x2, by_512, load128(data + 32));
    x3 = fold(x3, by_512, load128(data + 48));
  }
  __m128i x = fold(fold(fold(x0, by_128, x1), by_128, x2), by_128, x3);
  for (; size >= 16; data += 16, size -= 16) x = fold(x, by_128, load128(data));
  uint8_t state[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), x);
  return table_update(table_update(0, state, sizeof state), data, size);
}

bool has_pclmul() {
  static const bool present = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return present;
}

#endif

}  // namespace

uint32_t crc32_extend(uint32_t crc, const uint8_t* data, size_t size) {
#if PELK_X86_PCLMUL
  if (size >= 64 && has_pclmul()) return ~folding_update(~crc, data, size);
#endif
  return ~table_update(~crc, data, size);
}

uint32_t crc32_extend_portable(uint32_t crc, const uint8_t* data, size_t size) {
  return ~table_update(~crc, data, size);
}

}  // namespace pelk
