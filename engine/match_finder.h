// SPDX-License-Identifier: MIT
// The sliding window, its hash chains and the longest-match search.
#pragma once

#include <cstdint>

#include "common/stream_io.h"
#include "engine/format.h"
#include "engine/keyed_chains.h"
#include "engine/keyed_index.h"
#include "engine/match_bytes.h"

namespace pelk {

// A search near the end of the window compares up to max_match bytes past
// the scan position, which can be the window's last byte. The margin behind
// the window is zero and never written, so no read leaves the array; what a
// comparison finds there only decides between candidates that all match to
// the end of the input, and matches are cut to the input anyway.
inline constexpr uint32_t window_margin = max_match;

struct level_params {
  uint16_t good_enough;  // a held match this long cuts the search to a quarter
  uint16_t lazy_limit;   // no lazy search past a held match this long
  uint16_t stop_length;  // a match this long ends the search
  uint16_t chain_limit;  // most candidates one search examines
};
extern const level_params level_table[10];

inline constexpr bool valid_level(int level) { return level >= 1 && level <= 9; }

// The rules every search keeps, whichever way it walks: how many chain
// entries it may examine behind a held match of prev_len, and the floor
// every entry after the first must lie above (the first may lie at it).
inline uint32_t search_budget(const level_params& params, uint32_t prev_len) {
  return prev_len >= params.good_enough ? params.chain_limit >> 2 : params.chain_limit;
}
inline uint32_t search_floor_of(uint32_t scan_pos) { return scan_pos > max_distance ? scan_pos - max_distance : 0; }

struct match_finder {
  uint32_t rolling_hash;  // hash of the bytes taken in so far
  bool input_ended;
  level_params params;
  input_source input;

  uint8_t window[window_capacity + window_margin];

  // Heads of the hash chains, by hash value: the position most recently
  // inserted with that hash. A position fits 16 bits and 0 means none, so
  // position 0 is never a candidate.
  uint16_t chain_heads[hash_size];

  // The chains themselves: a 64-bit slot per position, in one of two
  // layouts, the same for every slot at any one time.
  //  - Walked (the keyed chains off): the next four positions on the
  //    position's chain, nearest in the low 16 bits, as they stood when it
  //    was inserted. One load yields four candidates, so a walk waits for
  //    one load per four candidates instead of one per candidate.
  //  - Keyed (the keyed chains on, keyed_chains.h): the position's rank
  //    and its next positions on the keyed chains; its next position on
  //    the chain itself moves to keyed.chain_links.
  // A chain only grows at its head, so a slot stays true for as long as its
  // position is in reach. A search reaches positions fewer than half a window behind it,
  // none of which has been inserted again since, so slots are kept by
  // position modulo half_window (ring_slot): half the memory of one per
  // window position, and a slide leaves them in place. Any lane, even a
  // leftover one, names a slot inside the array, so the next load can be
  // issued before the lane is checked.
  uint64_t chain_slots[half_window];

  // Every position below this one is inserted, and indexed while the
  // keyed chains are on: the lazy parse inserts a few positions ahead of
  // its scan position.
  uint32_t inserted_end;

  // The lazy parse's faster index of the same chains (keyed_search.h).
  keyed_chains keyed;
};

// Points the finder at a new input for a valid level, with empty chains
// and no keyed chains; the window is left as it is. The chain slots need
// no clearing: a chain only reaches positions inserted for this input.
void reset_finder(match_finder& finder, int level, input_source input);

// Puts the finder in the state of a fresh process for a valid level (the
// window's leftovers, which a comparison at the end of the input can read,
// included) and fills the window with the first input. Returns the number
// of input bytes in the window.
uint32_t match_init(match_finder& finder, int level, input_source input);

// Adds byte b to the rolling hash. Three shifts of 5 push a byte out of the
// 15 bits, so after three bytes the hash depends on those three alone.
inline uint32_t hash_take(uint32_t hash, uint8_t b) {
  return ((hash << hash_shift) ^ b) & hash_mask;
}

// The hash of the three bytes at p, taken afresh rather than rolled.
inline uint32_t hash_at(const uint8_t* window, uint32_t p) {
  return hash_take(hash_take(window[p], window[p + 1]), window[p + 2]);
}

// Inserts position p into its hash chain and returns the chain's previous
// head, the first candidate for a search at p (0: none). The rolling hash
// must already cover the bytes at p and p + 1. `keyed` is the layout of the
// slots, finder.keyed.active, which a caller inserting many positions tests
// once for them all.
template <bool keyed>
inline uint32_t insert_in_layout(match_finder& finder, uint32_t p) {
  finder.rolling_hash = hash_take(finder.rolling_hash, finder.window[p + 2]);
  const uint16_t head_pos = finder.chain_heads[finder.rolling_hash];
  if constexpr (keyed) {
    // Keyed: head_pos as p's link; the rest of p's slot is written when
    // p is indexed.
    finder.keyed.chain_links[ring_slot(p)] = head_pos;
  } else {
    // Walked: p's successors are head_pos and head_pos's first three. When
    // head_pos is 0 or out of reach the rest is noise: every search stops
    // at the first successor it cannot use, before any of the rest.
    finder.chain_slots[ring_slot(p)] = finder.chain_slots[ring_slot(head_pos)] << 16 | head_pos;
  }
  finder.chain_heads[finder.rolling_hash] = static_cast<uint16_t>(p);
  return head_pos;
}

// Inserts every position from inserted_end up to `end` (excluded), in
// order, and while the keyed chains are on puts each on them as well: the
// lazy parse's way in, a few positions ahead of its scan position. Always
// inline: the parse calls it once per pass, and a parallel job's parse,
// the larger one, was otherwise left making a call of it every time.
[[gnu::always_inline]] inline void insert_up_to(match_finder& finder, uint32_t end) {
  uint32_t p = finder.inserted_end;
  if (p >= end) return;
  if (finder.keyed.active) {
    for (; p < end; ++p) {
      const uint32_t predecessor = insert_in_layout<true>(finder, p);
      index_keyed_position(finder.keyed, finder.chain_slots, finder.window, p, predecessor);
    }
  } else {
    for (; p < end; ++p) insert_in_layout<false>(finder, p);
  }
  finder.inserted_end = end;
}

// The next position on p's chain (0: none), an inserted position's, in
// whichever layout the slots are: for a search at p, its first candidate.
inline uint32_t chain_link(const match_finder& finder, uint32_t p) {
  return finder.keyed.active ? finder.keyed.chain_links[ring_slot(p)] : finder.chain_slots[ring_slot(p)] & 0xFFFF;
}

// One position at a time, as they are passed, for the greedy parse, which
// leaves the positions inside long matches out. It never searches the keyed
// way, so its slots stay in the walked layout.
inline uint32_t insert_position(match_finder& finder, uint32_t p) { return insert_in_layout<false>(finder, p); }

// Inserts the positions from `first` up to `end` (excluded), in order, for
// the greedy parse: the positions inside a match, which no search is made
// at.
inline void insert_positions(match_finder& finder, uint32_t first, uint32_t end) {
  for (uint32_t p = first; p < end; ++p) insert_in_layout<false>(finder, p);
}

// Starts the rolling hash over at p, covering the bytes at p and p + 1.
inline void prime_hash(match_finder& finder, uint32_t p) {
  finder.rolling_hash = hash_take(finder.window[p], finder.window[p + 1]);
}

// The longest match for scan_pos that beats prev_len, starting with the
// candidate head_pos (nonzero, at most max_distance back). Returns its
// length and sets match_pos, or returns prev_len (match_pos untouched)
// when nothing beats it. The length may run past the input; callers cut it.
//
// walk_hash_chain examines the candidates one by one along the chain; any
// parse may use it. find_best_match returns the same, from fewer of them
// where the keyed chains are on, but only for a parse that inserts every
// position, in order, through insert_up_to (the lazy one), which also puts
// them on the keyed chains.
uint32_t walk_hash_chain(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                         uint32_t& match_pos);
// The same walk one link at a time, following the next position on the
// chain wherever the layout keeps it: what a build that checks the
// searches checks them by.
uint32_t walk_chain_links(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                          uint32_t& match_pos);
// The same walk, which also adds how many candidates it took (about: the
// group of four it ended in counts whole) to walked_candidates.
uint32_t walk_and_count(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                        uint32_t& match_pos, uint32_t& walked_candidates);

// The parts of find_best_match (keyed_search.h) that are not inline in the
// parse: what is due every so many searches, a walk that counts its
// candidates, so that the choice between the searches sees what the walk
// costs, and the choice itself, once a stretch of input is through.
uint32_t sampled_search(match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                        uint32_t& match_pos);

// After a slide every stored position drops by half_window; one that falls
// below the window becomes 0, none. count must be a multiple of 16.
void rebase_positions(uint16_t* positions, uint32_t count);

// Moves the keyed chains along with a slide of the window.
void slide_keyed_chains(keyed_chains& keyed);

// Starts a parse from window position parse_start with the keyed chains
// off. The first choice is made a short stretch into it, from the walks
// there: a parallel job, which starts past 32 KiB of warm-up, chooses as
// soon into its segment as the sequential parse does into its input.
void start_search_choice(keyed_chains& keyed, uint32_t parse_start);

// What a top-up did: how far the window slid (0 or half_window; every
// position the caller holds drops by that much) and how many input bytes
// it added.
struct window_fill {
  uint32_t slid;
  uint32_t added;
};

// Slides the window when the scan position has reached the threshold, then
// reads more input into the room above the `ahead` valid bytes at scan_pos.
window_fill top_up_window(match_finder& finder, uint32_t scan_pos, uint32_t ahead);

}  // namespace pelk
