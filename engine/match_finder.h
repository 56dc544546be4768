// The sliding window, its hash chains and the longest-match search.
#pragma once

#include <cstdint>

#include "engine/format.h"

namespace pelk {

// A search near the end of the window compares up to max_match bytes past
// the scan position, which can be the window's last byte. The margin behind
// the window is zero and never written, so no read leaves the array; what a
// comparison finds there only decides between candidates that all match to
// the end of the input, and matches are cut to the input anyway.
inline constexpr uint32_t window_margin = max_match;

extern uint8_t window_buf[window_capacity + window_margin];

// Heads of the hash chains, by hash value: the position most recently
// inserted with that hash. A position fits 16 bits and 0 means none, so
// position 0 is never a candidate.
extern uint16_t chain_heads[hash_size];

// The chains themselves, by position: the next four positions on the
// position's chain, nearest in the low 16 bits, as they stood when it was
// inserted. A chain only grows at its head, so these stay true for as long
// as the position is in the window; one load yields four candidates, and a
// search waits for one load per four candidates instead of one per
// candidate. Indexed by the whole 16-bit position, so any lane, even a
// leftover one, names a slot inside the array and the next load can be
// issued before the lane is checked.
extern uint64_t chain_successors[window_capacity];

extern uint32_t scan_pos;        // current position in window_buf
extern uint32_t ahead_count;     // valid input bytes at and after scan_pos
extern uint32_t match_pos;       // start of the match last reported
extern uint32_t prev_match_len;  // the length a search has to beat
extern int32_t block_origin;     // where the current block's input starts;
                                 // negative once a slide has passed it
extern uint32_t rolling_hash;    // hash of the bytes taken in so far
extern bool input_ended;
extern int active_level;

// The current level's parameters.
extern uint32_t good_enough;  // a held match this long cuts the search to a quarter
extern uint32_t lazy_limit;   // no lazy search past a held match this long
extern uint32_t stop_length;  // a match this long ends the search
extern uint32_t chain_limit;  // most candidates one search examines

struct level_params {
  uint16_t good_enough;
  uint16_t lazy_limit;
  uint16_t stop_length;
  uint16_t chain_limit;
};
extern const level_params level_table[10];

// Adds byte b to the rolling hash. Three shifts of 5 push a byte out of the
// 15 bits, so after three bytes the hash depends on those three alone.
inline uint32_t hash_take(uint32_t hash, uint8_t b) {
  return ((hash << hash_shift) ^ b) & hash_mask;
}

// Inserts position p into its hash chain and returns the chain's previous
// head, the first candidate for a search at p (0: none). The rolling hash
// must already cover the bytes at p and p + 1.
inline uint32_t insert_position(uint32_t p) {
  rolling_hash = hash_take(rolling_hash, window_buf[p + 2]);
  const uint16_t head_pos = chain_heads[rolling_hash];
  // p's successors are head_pos and head_pos's first three. When head_pos
  // is 0 the rest is noise: every search stops at the first successor it
  // cannot use, before any of the rest.
  chain_successors[p] = chain_successors[head_pos] << 16 | head_pos;
  chain_heads[rolling_hash] = static_cast<uint16_t>(p);
  return head_pos;
}

// Starts the rolling hash over at p, covering the bytes at p and p + 1.
inline void prime_hash(uint32_t p) {
  rolling_hash = hash_take(window_buf[p], window_buf[p + 1]);
}

// The longest match for scan_pos that beats prev_match_len, starting with
// the candidate head_pos (nonzero, at most max_distance back). Returns its
// length and sets match_pos, or returns prev_match_len when nothing beats
// it. The length may run past ahead_count; callers cut it.
uint32_t find_best_match(uint32_t head_pos);

// Slides the window when the scan position has reached the threshold, then
// reads more input into the room above the valid data.
void top_up_window();

}  // namespace pelk
