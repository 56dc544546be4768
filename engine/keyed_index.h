// SPDX-License-Identifier: MIT
// How a position goes on the keyed chains (keyed_chains.h): its keys'
// hashes, its rank and its links, all written in one store to its slot.
#pragma once

#include <cstdint>
#include <utility>

#include "engine/keyed_chains.h"
#include "engine/match_bytes.h"

namespace pelk {

// The keys' hashes of a position whose first bytes are `word` come from one
// product. Each key's hash is the top bits of its bytes times an odd
// constant, modulo 2^64: a multiplicative hash, whose high bits depend on
// every byte kept. The bytes of a shorter key are the longest key's
// shifted further up, and a shift commutes with the product, so its
// product is the longest key's shifted up the same way.
inline constexpr uint32_t longest_key = key_lengths[key_count - 1];
static_assert(longest_key <= 8, "a key fits in a word");

inline uint64_t keys_product(uint64_t word) { return (word << (64 - 8 * longest_key)) * 0x9E3779B97F4A7C15; }

template <uint32_t key>
inline uint32_t key_hash(uint64_t product) {
  return static_cast<uint32_t>((product << (8 * (longest_key - key_lengths[key]))) >> (64 - key_hash_bits[key]));
}

// Makes p, whose keys' product is `product`, the head of its chain of key
// `key`, and returns the old head in the lane of p's slot that keeps it.
template <uint32_t key>
inline uint64_t push_keyed_head(keyed_chains& keyed, uint64_t product, uint32_t p) {
  // Named constant, so that no build leaves the sum to run time: the fuzz
  // build, instrumented, spent a seventh of its time computing it.
  constexpr uint32_t row = key_row_start(key);
  uint16_t& head = keyed.heads[row + key_hash<key>(product)];
  const uint64_t link = uint64_t{head} << link_shift_of(key);
  head = static_cast<uint16_t>(p);
  return link;
}

// Puts p, whose three-byte predecessor (the nearest earlier position of
// its bucket, 0 for none) is `predecessor`, on its keyed chains: its rank
// and its links go into its slot. The predecessor is put on them before
// it, or lies out of reach, where its rank is never compared. p's first
// longest_key bytes must be final: in the look-ahead, or past the end of
// an input that has ended.
//
// The predecessor's rank is read from its slot, which a recent insertion
// wrote and which is nearly always still in the second-level cache (on
// dickens 6% of these reads miss it). A count kept per bucket instead, in
// a table of its own, ran dickens in 1.06 of the time; kept beside the
// three-byte heads, which then take twice the room, it ran no faster.
inline void index_keyed_position(keyed_chains& keyed, uint64_t* chain_slots, const uint8_t* window, uint32_t p,
                                 uint32_t predecessor) {
  const uint64_t product = keys_product(load_word(window + p));
  const uint32_t rank = slot_lane(chain_slots[ring_slot(predecessor)], rank_lane) + 1;
  // One key after another, unrolled, so that each key's shift is a
  // constant: as a loop it took a third more instructions.
  const uint64_t links = [&]<uint32_t... key>(std::integer_sequence<uint32_t, key...>) {
    return (push_keyed_head<key>(keyed, product, p) | ...);
  }(std::make_integer_sequence<uint32_t, key_count>{});
  chain_slots[ring_slot(p)] = uint64_t{rank & 0xFFFF} << (16 * rank_lane) | links;
}

}  // namespace pelk
