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

  // Insertions so far into each three-byte hash chain, and each position's
  // count at its insertion: the difference of two ranks in one chain is how
  // many steps apart the chain holds them. 16 bits suffice: fewer than
  // 32768 insertions lie between a search and any candidate it can reach.
  uint16_t bucket_counts[hash_size];
  uint16_t ranks[window_capacity];

  // Per key: the nearest indexed position with that key's hash, and each
  // position's next one, 0 ending a chain as in the three-byte chains.
  uint16_t heads[key_count][hash_size];
  uint16_t links[key_count][window_capacity];
};

}  // namespace pelk
