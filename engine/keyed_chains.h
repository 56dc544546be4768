// SPDX-License-Identifier: MIT
// The lazy parse's second index of the window: chains keyed by longer
// prefixes, and every position's rank in its three-byte hash chain. How the
// search uses them, and why it still finds what the plain walk finds, is
// told in keyed_search.cpp.
#pragma once

#include <cstdint>

#include "engine/format.h"

namespace pelk {

// The prefix lengths the extra chains are keyed by, shortest first. A
// search whose best match so far is B walks the chain of the longest key
// of at most B + 1 bytes.
inline constexpr uint32_t key_lengths[] = {4, 6};
inline constexpr uint32_t key_count = sizeof key_lengths / sizeof key_lengths[0];

struct keyed_chains {
  // Whether the chains below are kept at all: only where they save more
  // than they cost (see keyed_search.cpp). Off, nothing here is read.
  bool active;
  // Every position from the first one indexed up to this one (excluded)
  // is ranked and on its keyed chains; later positions are indexed just
  // before the next search needs them.
  uint32_t indexed_end;

  // The choice between the two searches, made anew for every stretch of
  // input from what the plain walk took in the one before. One search in
  // so many is the walk's and counts its candidates (searches_to_sample
  // counts down to it); the stretch began at window position stretch_start
  // and the next choice is due from next_choice on; so far it has had
  // `searches` searches, of which `walks` counted walked_candidates.
  uint32_t searches_to_sample;
  uint32_t stretch_start;
  uint32_t next_choice;
  uint32_t searches;
  uint32_t walks;
  uint32_t walked_candidates;

  // Per key: the nearest indexed position with that key's hash, and each
  // position's next one, 0 ending a chain as in the three-byte chains.
  // Each row is longer than it needs by a stagger, and so are the arrays
  // below: slots of one position in different arrays then lie at different
  // offsets within 4 KiB, where a processor would otherwise take a load
  // from one for a load of what it just stored to another.
  static constexpr uint32_t stagger = 80;
  uint16_t heads[key_count][hash_size + stagger];

  // Each position's rank: how many positions of its three-byte bucket were
  // indexed before it, counted on from its predecessor in the bucket (the
  // first candidate the plain chain recorded for it, whose rank plus one it
  // takes). The difference of two ranks in one bucket is how many steps
  // apart the chain holds them; 16 bits suffice, as fewer than 32768
  // positions lie between a search and any candidate it can reach. Where
  // the predecessor lies out of reach (or is none) the count starts from
  // whatever its slot holds: only differences within reach are read.
  uint16_t ranks[half_window + 3 * stagger];

  // Ranks and links are read only for positions a search can reach, which
  // lie fewer than half a window behind it: so they are kept by position
  // modulo half_window (ring_slot), and a newer position takes the slot of
  // one that no search can reach any more. A slide leaves them in place.
  uint16_t links[key_count][half_window + stagger];
};

inline constexpr uint32_t ring_slot(uint32_t position) { return position & (half_window - 1); }

}  // namespace pelk
