// SPDX-License-Identifier: MIT
// The string matcher: a 64 KiB window, hash chains over it, and the search
// for the longest earlier string that the bytes at the scan position repeat.
//
// Algorithm. Every position is hashed on its first three bytes and pushed on
// the front of that hash's chain (chain_heads holds the front, each
// position's chain slot its next ones), so a chain lists earlier
// positions with the same hash, nearest first. A search at s holding a
// match of P walks the chain from the nearest candidate to the farthest,
// examines at most N = chain_limit of them (a quarter when P is already
// good_enough), none after the first at or below the floor s - 32506 (the
// first may lie at it), stops at the first of stop_length, and otherwise
// keeps the first of the greatest length, if it beats P. That result is a
// pure function of the window and the chain, and it is the contract: the
// two searches below return it alike.
//
// Two searches. walk_hash_chain examines every candidate of the budget in
// turn; any parse may use it. The lazy parse, which inserts every position
// in order, uses find_best_match (keyed_search.h), which visits only the
// candidates that can change the result: those that beat the best so far.
// A candidate that beats a best of B agrees with s in B + 1 bytes, so it
// lies on s's chain keyed by any prefix length k <= B + 1 (keyed_chains.h,
// keys of 4, 5 and 7 bytes); what that chain passes over differs from s within
// k bytes, is at most B long and changes nothing. Whether the walk would
// have examined a candidate it finds there is told by ranks: each position
// counts on from its predecessor in its three-byte bucket, so the
// difference of two ranks is how many steps the walk takes from one to the
// other. The keyed chains are kept only where they save more than they
// cost, chosen per stretch of input from the candidates the walk takes;
// the choice changes the speed and never the result.
//
// Invariants.
//  - Positions are 16 bits and 0 means none: position 0, and after a slide
//    the byte moved to position 0, is never a candidate, on any chain.
//  - The hash keeps all eight bits of the third byte, so two positions on one
//    chain whose first two bytes agree also agree in their third. That is
//    why counting a match length starts at the fourth byte, and why a keyed
//    candidate whose first three bytes agree with s's is in s's bucket,
//    where its rank means something.
//  - A position's slot is written when it is inserted, so chains only
//    reach positions inserted for this input and the slots need no
//    clearing. Along a chain positions fall until the first at or below
//    the floor (0, none, is below every floor); what follows it in a slot
//    is leftover, and every walk stops before it. A slot is kept by
//    position modulo 32768: a search reaches fewer than 32768 positions
//    back, so the position that takes a slot over is always one that no
//    search reaching the old one has seen inserted.
//  - All slots are in one layout: four successors while the keyed chains
//    are off, the rank and keyed links while they are on, when each
//    position's next one on the chain is kept in keyed.chain_links.
//  - Ranks and keyed links cover every position inserted since the farthest
//    one a search could reach when the keyed chains were turned on: each is
//    put on them as it is inserted, over bytes that can no longer change.
//  - The lazy parse keeps up to run_ahead positions past the scan position
//    inserted (parse.h). A search at s reads the slots of s and of positions
//    below it only, so what lies past s changes nothing it finds; and a
//    search's reach falls 262 positions short of 32768, more than
//    run_ahead, so a slot taken over ahead of the scan position belonged to
//    a position out of every search's reach.
//
// Sliding. When the scan position nears the window's end, the upper half
// moves down over the lower one, and every stored position, keyed heads
// and links included, drops by 32768; positions that fall out of the
// window become 0 and end their chains. Slots are kept modulo 32768, so a
// slide does not move them, and ranks need no rebasing: only their
// differences are read.
//
// Optimizations. A walk of one link per candidate is bound by loads that
// depend on each other; with four successors per slot it waits for one load
// per four candidates, and it asks for the next slot before examining the
// four it has. That wait is still what bounds a search; the lazy parse
// keeps a few positions past the scan position inserted, so that a search
// does not also wait for its own position's insertion, whose loads land at
// random in the heads and slots (parse.h). A candidate is first tested,
// with one or two word loads, on bytes that a longer match must have; that
// nearly always fails, so the branch is well predicted and the next loads
// start early. Only then is its length counted, eight bytes per step: the
// lowest set bit of the XOR of two words marks the first differing byte.
#include "engine/match_finder.h"

#include <cstring>

#include "engine/match_bytes.h"

namespace pelk {

// good_enough: held match that quarters the search; lazy_limit: lazy parse
// stops searching past a held match this long (greedy: longest match whose
// inner positions are still indexed); stop_length: a match that ends the
// search; chain_limit: most candidates per search.
const level_params level_table[10] = {
    // good lazy stop chain
    {0, 0, 0, 0},          // 0: never selected
    {4, 4, 8, 4},          // 1-3: greedy parsing
    {4, 5, 16, 8},
    {4, 6, 32, 32},
    {4, 4, 16, 16},        // 4-9: lazy parsing
    {8, 16, 32, 32},
    {8, 16, 128, 128},     // 6: the program's level
    {8, 32, 128, 256},
    {32, 128, 258, 1024},
    {32, 258, 258, 4096},
};

static_assert(window_capacity - 1 + max_match < sizeof(match_finder::window),
              "a comparison at the last position stays inside the margin");

void reset_finder(match_finder& finder, int level, input_source input) {
  finder.params = level_table[level];
  finder.input = input;
  std::memset(finder.chain_heads, 0, sizeof finder.chain_heads);
  finder.inserted_end = 0;
  start_search_choice(finder.keyed, 0);
}

uint32_t match_init(match_finder& finder, int level, input_source input) {
  reset_finder(finder, level, input);
  std::memset(finder.window, 0, sizeof finder.window);

  const ptrdiff_t got = input.read(input.context, finder.window, window_capacity);
  uint32_t ahead = 0;
  finder.input_ended = got <= 0;
  if (!finder.input_ended) {
    ahead = static_cast<uint32_t>(got);
    while (ahead < min_lookahead && !finder.input_ended) ahead += top_up_window(finder, 0, ahead).added;
  }
  // Covers positions 0 and 1 even when the input is shorter: a missing byte
  // reads as zero, and nothing is matched beyond the input anyway.
  prime_hash(finder, 0);
  return ahead;
}

namespace {

// The plain walk; `counted` also adds how many candidates it took to
// `taken`, so that a caller can hand it its running sum and call it last. It
// takes four candidates per slot in the walked layout; one at a time in
// either, from the slot's lowest lane or, keyed, from keyed.chain_links.
template <bool counted, bool one_link>
uint32_t walk(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
              uint32_t& match_pos, uint32_t& taken) {
  const uint8_t* const window = finder.window;
  const uint64_t* const chain_slots = finder.chain_slots;
  const uint32_t stop_length = finder.params.stop_length;
  const uint32_t budget = search_budget(finder.params, prev_len);
  const uint32_t search_floor = search_floor_of(scan_pos);

  const uint8_t* const scan = window + scan_pos;
  uint32_t best = prev_len;
  uint32_t best_pos = 0;

  // The quick test (match_bytes.h) comes first, with one branch that is
  // nearly always "no", so the next loads start before the bytes arrive.
  const uint64_t scan_head = load_word(scan);
  quick_test test;
  test.aim_at(scan, best);

  // Examines one candidate; true when the search is to end.
  auto examine = [&](uint32_t candidate) {
    const uint8_t* const c = window + candidate;
    uint64_t differ = load_word(c) ^ scan_head;
    if (test.tail_offset != 0) differ |= load_word(c + test.tail_offset) ^ test.tail;
    if ((differ & test.wanted) != 0) return false;
    const uint32_t length = count_match(c, scan);
    if (length <= best) return false;  // strictly longer: the nearer of equals wins
    best_pos = candidate;
    best = length;
    if (length >= stop_length) return true;
    test.aim_at(scan, best);
    return false;
  };

  // The head, then the chain four successors at a time. How many of the
  // four to examine is settled before any of them: up to the first one at
  // or below the floor (the chain only goes farther back from there), and
  // no more than the budget allows.
  uint32_t allowed = budget - 1;  // candidates still to examine after the head
  if (examine(head_pos)) goto done;
  if constexpr (one_link) {
    // One link at a time, each entry above the floor (0, none, lies at or
    // below every floor).
    for (uint32_t candidate = head_pos; allowed != 0;) {
      candidate = chain_link(finder, candidate);
      if (candidate <= search_floor) break;
      --allowed;
      if (examine(candidate)) break;
    }
    goto done;
  }
  for (uint64_t successors = chain_slots[ring_slot(head_pos)];;) {
    const uint64_t next_successors = chain_slots[ring_slot(successors >> 48)];
    const uint32_t c0 = successors & 0xFFFF;
    const uint32_t c1 = (successors >> 16) & 0xFFFF;
    const uint32_t c2 = (successors >> 32) & 0xFFFF;
    const uint32_t c3 = successors >> 48;
    const uint32_t in_reach = c0 <= search_floor   ? 0
                              : c1 <= search_floor ? 1
                              : c2 <= search_floor ? 2
                              : c3 <= search_floor ? 3
                                                   : 4;
    const uint32_t count = in_reach < allowed ? in_reach : allowed;
    if (count == 4) {
      if (examine(c0) || examine(c1) || examine(c2) || examine(c3)) goto done;
      allowed -= 4;
      successors = next_successors;
      continue;
    }
    if ((count > 0 && examine(c0)) || (count > 1 && examine(c1)) || (count > 2 && examine(c2))) goto done;
    break;
  }
done:
  if constexpr (counted) taken += budget - allowed;
  if (best_pos != 0) match_pos = best_pos;
  return best;
}

}  // namespace

uint32_t walk_chain_links(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                          uint32_t& match_pos) {
  uint32_t unused;
  return walk<false, true>(finder, scan_pos, head_pos, prev_len, match_pos, unused);
}

uint32_t walk_hash_chain(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                         uint32_t& match_pos) {
  uint32_t unused;
  if (finder.keyed.active) return walk<false, true>(finder, scan_pos, head_pos, prev_len, match_pos, unused);
  return walk<false, false>(finder, scan_pos, head_pos, prev_len, match_pos, unused);
}

uint32_t walk_and_count(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                        uint32_t& match_pos, uint32_t& walked_candidates) {
  return finder.keyed.active ? walk<true, true>(finder, scan_pos, head_pos, prev_len, match_pos, walked_candidates)
                             : walk<true, false>(finder, scan_pos, head_pos, prev_len, match_pos, walked_candidates);
}

namespace {

// After a slide every stored position drops by 32768; one that falls below
// the window becomes 0, none. Applied to the lanes of a slot that hold
// positions (`positions`: 0xFFFF in each) at once: such a lane keeps its
// low 15 bits exactly when its top bit is set. With t the top bits,
// t - (t >> 15) turns each set top bit into 0x7FFF within its own lane; no
// borrow crosses lanes, and the loop vectorizes. Other lanes stay.
inline uint64_t rebase_lanes(uint64_t lanes, uint64_t positions) {
  constexpr uint64_t top_bits = 0x8000800080008000;
  const uint64_t tops = lanes & positions & top_bits;
  return (lanes & (tops - (tops >> 15))) | (lanes & ~positions);
}

inline void rebase_slots_plainly(uint64_t* slots, uint32_t count, uint64_t positions) {
  for (uint32_t p = 0; p < count; ++p) slots[p] = rebase_lanes(slots[p], positions);
}

// The same rule one lane at a time, in groups of 16 so that the compiler
// vectorizes them without a remainder: the top bit, spread over the lane,
// keeps the low 15 bits or none.
inline void rebase_positions_plainly(uint16_t* positions, uint32_t count) {
  for (uint32_t group = 0; group < count / 16; ++group) {
    uint16_t* const lanes = positions + 16 * group;
    for (uint32_t i = 0; i < 16; ++i) {
      const uint16_t p = lanes[i];
      lanes[i] = static_cast<uint16_t>(p & static_cast<uint16_t>(0 - (p >> 15)) & 0x7FFF);
    }
  }
}

// A slide rebases up to some 300,000 lanes, which SSE2, all that every x86-64
// has, takes eight at a time; where the processor has AVX2 the same loops
// take sixteen.
#if defined(__x86_64__) && defined(__GNUC__)
#define PELK_X86_AVX2 1
[[gnu::target("avx2")]] void rebase_slots_avx2(uint64_t* slots, uint32_t count, uint64_t positions) {
  rebase_slots_plainly(slots, count, positions);
}
[[gnu::target("avx2")]] void rebase_positions_avx2(uint16_t* positions, uint32_t count) {
  rebase_positions_plainly(positions, count);
}
bool has_avx2() {
  static const bool present = __builtin_cpu_supports("avx2");
  return present;
}
#endif

// Rebases the lanes of `count` slots that hold positions (see rebase_lanes).
void rebase_slots(uint64_t* slots, uint32_t count, uint64_t positions) {
#if PELK_X86_AVX2
  if (has_avx2()) return rebase_slots_avx2(slots, count, positions);
#endif
  rebase_slots_plainly(slots, count, positions);
}

}  // namespace

void rebase_positions(uint16_t* positions, uint32_t count) {
#if PELK_X86_AVX2
  if (has_avx2()) return rebase_positions_avx2(positions, count);
#endif
  rebase_positions_plainly(positions, count);
}

window_fill top_up_window(match_finder& finder, uint32_t scan_pos, uint32_t ahead) {
  window_fill fill{0, 0};
  uint32_t room = window_capacity - scan_pos - ahead;

  if (scan_pos >= slide_threshold) {
    std::memcpy(finder.window, finder.window + half_window, half_window);
    fill.slid = half_window;
    scan_pos -= half_window;
    // Every lane of the walked layout is a position; the keyed layout's
    // rank is not.
    const uint64_t positions = finder.keyed.active ? ~(uint64_t{0xFFFF} << (16 * rank_lane)) : ~uint64_t{0};
    rebase_slots(finder.chain_slots, half_window, positions);
    rebase_positions(finder.chain_heads, hash_size);
    slide_keyed_chains(finder.keyed);
    finder.inserted_end = finder.inserted_end > half_window ? finder.inserted_end - half_window : 0;
    room += half_window;
  }
  if (finder.input_ended) return fill;

  const ptrdiff_t got = finder.input.read(finder.input.context, finder.window + scan_pos + ahead, room);
  if (got <= 0) {
    finder.input_ended = true;
  } else {
    fill.added = static_cast<uint32_t>(got);
  }
  return fill;
}

}  // namespace pelk
