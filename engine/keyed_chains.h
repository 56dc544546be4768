// SPDX-License-Identifier: MIT
// The lazy parse's second index of the window: the heads of chains keyed by
// longer prefixes and, while it is kept, each position's three-byte link;
// the keyed links and the positions' ranks share their chain slots
// (match_finder.h).
// How the search uses them, and why it still finds what the plain walk
// finds, is told in keyed_search.h.
#pragma once

#include <cstdint>

#include "engine/format.h"

namespace pelk {

// The prefix lengths the extra chains are keyed by, shortest first. A
// search whose best match so far is B walks the chain of the longest key
// of at most B + 1 bytes. On text most searches hold a best of 4 to 10,
// and a step along a chain is the cost, so the keys sit close where most
// steps are: a best of 4 walks the 5-byte chain, not the 4-byte one, and
// the 4-byte chain holds about ten times the positions that agree in 5.
// A key costs every position one more random update of its heads; a
// fourth would save fewer steps than that costs. The 4-byte key earns its
// table: walking the three-byte chain itself while the best is 3 (its link
// in the slot in place of the 4-byte key's, no chain_links) left the finder
// 128 KiB smaller but took 14% more instructions and ran dickens in 1.20
// of the time, mr in 1.29.
inline constexpr uint32_t key_lengths[] = {4, 5, 7};
inline constexpr uint32_t key_count = sizeof key_lengths / sizeof key_lengths[0];

// The bits of each key's hash. The four-byte key's are as many as the
// three-byte chains'. The longer keys' chains are the ones walked most,
// and a position that only collides with the scan position's hash costs a
// step that finds nothing, so they take 16: against 15, dickens ran in
// 0.968 of the time, mr in 0.984, the small files in 0.971; 17 ran no
// faster, and 14 for all three ran 5 to 8% slower.
inline constexpr uint32_t key_hash_bits[key_count] = {15, 16, 16};
inline constexpr uint32_t key_hash_size(uint32_t key) { return 1u << key_hash_bits[key]; }

// Where each key's row of heads starts in keyed_chains::heads. Each row is
// longer than its hashes need by a stagger, so that the rows' slots for
// one hash lie at different offsets within 4 KiB, where a processor would
// otherwise take a load from one for a load of what it just stored to
// another.
inline constexpr uint32_t head_row_stagger = 80;
inline constexpr uint32_t key_row_start(uint32_t key) {
  return key == 0 ? 0 : key_row_start(key - 1) + key_hash_size(key - 1) + head_row_stagger;
}

// The lanes of a chain slot in the keyed layout: the position's rank and
// its next positions on the keyed chains, all that a step along a keyed
// chain reads besides the window.
inline constexpr uint32_t rank_lane = 0;
inline constexpr uint32_t keyed_link_lane = 1;
static_assert(keyed_link_lane + key_count <= 4, "a slot has four lanes");

inline uint32_t slot_lane(uint64_t slot, uint32_t lane) { return (slot >> (16 * lane)) & 0xFFFF; }

// Where in a slot the link on the chain of key `key` lies, and the link.
inline constexpr uint32_t link_shift_of(uint32_t key) { return 16 * (keyed_link_lane + key); }
inline uint32_t keyed_link(uint64_t slot, uint32_t key) { return (slot >> link_shift_of(key)) & 0xFFFF; }

struct keyed_chains {
  // Whether the chains below are kept at all: only where they save more
  // than they cost (see keyed_search.cpp). Off, nothing here is read.
  bool active;

  // The choice between the two searches, made anew for every stretch of
  // input from what the plain walk took in the one before. Every walk
  // counts its candidates into walked_candidates; while the keyed chains
  // are on, one search in so many is a walk (searches_to_sample counts
  // down to the next, keyed_search.cpp), and `searches` counts the
  // searches and `walks` the walks among them. The stretch began at window
  // position stretch_start and the next choice is due from next_choice on.
  uint32_t searches_to_sample;
  uint32_t stretch_start;
  uint32_t next_choice;
  uint32_t searches;
  uint32_t walks;
  uint32_t walked_candidates;
  // The choices made so far, counted only by a build that checks the
  // searches (keyed_search.cpp). Kept in every build: the layout of the
  // finder must not depend on how its engine was built.
  uint32_t checked_stretches;

  // Per key: the nearest indexed position with that key's hash, 0 for
  // none. Each position's next one on the key's chain is in its chain slot
  // (match_finder.h): lane keyed_link_lane + key of the keyed layout, whose
  // lane rank_lane holds its rank (keyed_search.h). A row per key, from
  // key_row_start(key).
  uint16_t heads[key_row_start(key_count)];
  static_assert(key_row_start(key_count) % 16 == 0, "the heads rebase as one array");

  // Per position, by ring slot: the next position on its three-byte chain,
  // which the walked layout keeps in its slot's lowest lane. With the keyed
  // chains on, the slot's lanes are all taken by what every keyed step
  // reads; the link is read only before a key applies, by the counted
  // walks and when the chains are turned off.
  uint16_t chain_links[half_window];
};

// What is kept per position for searches alone is kept by position modulo
// half a window: a search reaches fewer than half a window back.
inline constexpr uint32_t ring_slot(uint32_t position) { return position & (half_window - 1); }

}  // namespace pelk
