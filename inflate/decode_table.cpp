// SPDX-License-Identifier: MIT
// Building the decoding tables: see decode_table.h for the entry layout.
//
// The codes are assigned in canonical order (by length, then by symbol),
// which RFC 1951 prescribes. Each length's codes are placed as they are
// assigned: a short code is written at every index that ends in its reversed
// bits, a long code into the subtable of its prefix. A subtable is sized when
// its first code arrives, from the counts of codes still to be placed: with
// s index bits it offers 2^s slots of length main_bits + s, and it grows until
// the remaining codes of lengths up to main_bits + s fill it. Codes are only
// ever as long as 15 bits, so s stops there.
#include "inflate/decode_table.h"

#include <algorithm>

namespace pelk {
namespace {

uint32_t reversed(uint32_t code, int length) {
  uint32_t result = 0;
  for (int i = 0; i < length; ++i, code >>= 1) result = (result << 1) | (code & 1);
  return result;
}

// Index bits of a subtable whose first code has `length` bits, given how
// many codes of each length are still unplaced.
int subtable_bits(int length, int main_bits, const uint16_t* unplaced) {
  int bits = length - main_bits;
  int32_t room = (1 << bits) - unplaced[length];
  while (room > 0 && main_bits + bits < max_code_bits) {
    ++bits;
    room = room * 2 - unplaced[main_bits + bits];
  }
  return bits;
}

}  // namespace

bool build_decode_table(uint32_t* table, int main_bits, const uint8_t* lengths, int count,
                        const uint32_t* info) {
  uint16_t unplaced[max_code_bits + 1] = {};
  for (int sym = 0; sym < count; ++sym) ++unplaced[lengths[sym]];
  unplaced[0] = 0;

  int32_t room = 1;  // unassigned code space, in units of the current length
  int used = 0;
  for (int length = 1; length <= max_code_bits; ++length) {
    room = room * 2 - unplaced[length];
    used += unplaced[length];
    if (room < 0) return false;
  }
  const bool incomplete = room > 0;
  // RFC 1951 allows one code of one bit (a block with a single distance)
  // and no code at all (a block of literals only); any other gap in the
  // code space is a malformed stream.
  if (incomplete && used != 0 && !(used == 1 && unplaced[1] == 1)) return false;

  // Symbols sorted by code length, ties by symbol: the canonical order.
  uint16_t start[max_code_bits + 2] = {};
  for (int length = 1; length <= max_code_bits; ++length) {
    start[length + 1] = start[length] + unplaced[length];
  }
  uint16_t sorted[litlen_table_symbols];
  for (int sym = 0; sym < count; ++sym) {
    if (lengths[sym] != 0) sorted[start[lengths[sym]]++] = static_cast<uint16_t>(sym);
  }

  const uint32_t main_size = 1u << main_bits;
  if (incomplete) std::fill(table, table + main_size, invalid_flag);

  uint32_t next_free = main_size;  // where the next subtable goes
  uint32_t open_prefix = main_size;  // prefix of the current subtable, none yet
  uint32_t sub_start = 0;
  int sub_bits = 0;
  uint32_t code = 0;
  int placed = 0;
  for (int length = 1; length <= max_code_bits; ++length, code <<= 1) {
    for (; unplaced[length] > 0; --unplaced[length], ++code) {
      const uint16_t sym = sorted[placed++];
      const uint32_t rev = reversed(code, length);
      if (length <= main_bits) {
        const uint32_t entry = info[sym] + static_cast<uint32_t>(length) + (static_cast<uint32_t>(length) << 8);
        for (uint32_t i = rev; i < main_size; i += 1u << length) table[i] = entry;
        continue;
      }
      const uint32_t prefix = rev & (main_size - 1);
      if (prefix != open_prefix) {
        open_prefix = prefix;
        sub_bits = subtable_bits(length, main_bits, unplaced);
        sub_start = next_free;
        next_free += 1u << sub_bits;
        table[prefix] = symbol_info(sub_start, link_flag, static_cast<uint32_t>(main_bits)) |
                        static_cast<uint32_t>(sub_bits) << 8;
        if (incomplete) std::fill(table + sub_start, table + next_free, invalid_flag);
      }
      const uint32_t rest = static_cast<uint32_t>(length - main_bits);
      const uint32_t entry = info[sym] + rest + (rest << 8);
      for (uint32_t i = rev >> main_bits; i < (1u << sub_bits); i += 1u << rest) {
        table[sub_start + i] = entry;
      }
    }
  }
  return true;
}

}  // namespace pelk
