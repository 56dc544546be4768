// SPDX-License-Identifier: MIT
// The lazy parse's search: the result of the plain chain walk
// (walk_hash_chain), found from the few candidates that can change it.
//
// What the walk computes. For a search at s with the held length P, the
// budget N (chain_limit, a quarter once P >= good_enough) and the floor
// F = s - max_distance (or 0), the walk examines the first N entries of s's
// three-byte hash chain, each after the first lying above F (the caller
// checked the first, which may lie at F). It returns the first examined
// entry whose length reaches stop_length; else the first examined one of
// greatest length, if that beats P; else P. Only a record, a candidate
// longer than every one before it (and than P), ever changes what the walk
// holds. So any search that visits every record, in the walk's order, and
// can tell which of the candidates it visits the walk would have examined,
// returns the same.
//
// Ranks tell the walk's order without walking it. The lazy parse inserts
// every position, in order, into the chains, and a chain holds exactly the
// positions of its hash bucket, nearest first, down to the first that left
// the window. While the keyed chains are on, each position takes, when it
// is indexed (in order, as it was inserted), the rank one above its bucket's
// nearest position's (its predecessor's, counting on and wrapping); so
// along a bucket ranks count positions, and a position c of s's bucket is
// entry d = rank(s) - rank(c) of s's chain: the walk examined c exactly
// when 1 <= d <= N and (c > F or d == 1). Fewer than 32768 positions lie
// between s and any c at or above F, so 16-bit ranks give d exactly.
// Where a bucket's oldest position in reach has its predecessor out of
// reach (or never indexed: indexing starts at a floor), its rank counts on
// from whatever that slot holds, and only differences within reach are
// read. Along the chain positions fall and entries rise, so the first
// entry of the bucket past N ends every walk below.
//
// Chains keyed by longer prefixes find the records. A record after a best
// of B agrees with s in its first B + 1 bytes, so it lies on s's chain of
// every key of k <= B + 1 bytes: the chain of all earlier positions whose
// first k bytes hash alike. The search walks the longest such chain, nearest
// first like the walk. What it passes over differs from s within k bytes,
// can be at most B long, and is no record. What it finds on it may still be
// a collision, a position whose hash agrees but whose bytes do not: one
// whose first three bytes differ from s's is in another bucket, its rank
// means nothing, and it is no record either; one whose three agree is in
// s's bucket, and its rank says whether the walk examined it. Below a best
// of key_lengths[0] - 1 no key applies and the search walks s's own chain,
// counting entries as the walk does.
//
// Switching chains after a record at c with the new best B, for the longest
// key k <= B + 1: when k <= B, c itself agrees with s in k bytes and lies on
// s's k-chain, which goes on from c; when k = B + 1, the search starts at
// the k-chain's nearest entry after s and passes over what lies at or above
// c: those nearer positions were visited already with a smaller best,
// which they did not beat (they are on every shorter chain too).
//
// Indexing. A position goes on its keyed chains as it is inserted, and the
// lazy parse inserts a few positions ahead of its scan position (parse.h),
// never more: a position's keys are its first k bytes, which must be read
// and final when it is indexed. So a position inside a long match is
// indexed only once the parse has reached the match's end, when the bytes
// up to its k-th lie inside the look-ahead while input lasts, and are
// fixed once it has ended. A search at s reads only s's own slot, whose
// links were the chains' heads when s was indexed, and positions below s:
// what has been indexed past s changes nothing it finds. A position's rank
// is written with its keyed links, from its predecessor's, which is always
// indexed first.
//
// Where it all lives. A position's rank and its three keyed links share
// its 64-bit chain slot (match_finder.h), whose four successors the plain
// walk needs only while the keyed chains are off: so a step along a keyed
// chain loads one slot, which says where the chain goes next and whether
// the walk would have examined the candidate, and one word of the window.
// Its three-byte link, which a keyed step never reads, moves to
// chain_links. Turning the chains on or off moves every position in reach
// from one layout to the other. A slide lowers the positions that heads,
// slots and links hold, as it does the plain chains' (position 0 is none
// in both), and leaves ranks alone: only their differences are read.
//
// A parallel job's finder starts as a fresh one: its chains, when on, are
// indexed from its own window, and a rank difference reads only positions
// its warm-up inserted.
//
// The keyed chains are kept only over the stretches of input where they
// save more than they cost; keyed_search.cpp makes that choice and moves
// the slots from one layout to the other.
//
// The search is inline in the parse. On text it takes about three steps
// along a keyed chain, so a call's entry and exit, with the registers they
// save and restore, cost about a sixth of its instructions.
#pragma once

#include <cstdint>

#include "engine/keyed_chains.h"
#include "engine/match_bytes.h"
#include "engine/match_finder.h"

namespace pelk {
namespace keyed_detail {

// The key to walk while the best so far is `best`: the longest of at most
// best + 1 bytes, or -1 while none is that short.
inline int key_for(uint32_t best) {
  int key = -1;
  for (uint32_t i = 0; i < key_count; ++i) {
    if (key_lengths[i] <= best + 1) key = static_cast<int>(i);
  }
  return key;
}

// The nearest entry below `limit` on the chain of key `key` after the
// scan position, whose slot is scan_slot: where a search goes on after
// switching to a key one byte longer than its best (see the opening
// essay).
inline uint32_t nearest_below(const match_finder& finder, int key, uint64_t scan_slot, uint32_t limit) {
  uint32_t candidate = keyed_link(scan_slot, key);
  while (candidate >= limit) candidate = keyed_link(finder.chain_slots[ring_slot(candidate)], key);
  return candidate;
}

}  // namespace keyed_detail

// The keyed search proper: what walk_hash_chain returns (match_finder.h),
// for a parse whose keyed chains are on.
[[gnu::always_inline]] inline uint32_t keyed_search(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos,
                                                   uint32_t prev_len, uint32_t& match_pos) {
  const keyed_chains& keyed = finder.keyed;
  const uint8_t* const window = finder.window;
  const uint32_t stop_length = finder.params.stop_length;
  const uint32_t budget = search_budget(finder.params, prev_len);
  const uint32_t search_floor = search_floor_of(scan_pos);

  const uint8_t* const scan = window + scan_pos;
  const uint64_t scan_head = load_word(scan);
  // scan_pos's slot, written when it was indexed: its rank (the walk's
  // entry d is the position of s's bucket of rank scan_rank - d) and the
  // first candidate on each keyed chain.
  const uint64_t scan_slot = finder.chain_slots[ring_slot(scan_pos)];
  const uint16_t scan_rank = static_cast<uint16_t>(slot_lane(scan_slot, rank_lane));
  uint32_t best = prev_len;
  uint32_t best_pos = 0;

  // The walk's quick test (match_bytes.h): bytes 0..best, all of which a
  // record has.
  quick_test test;
  test.aim_at(scan, best);

  int key = keyed_detail::key_for(best);
  uint32_t candidate;  // the next one to visit on the key's chain
  // Where the key's link lies in a slot, kept apart: the key changes
  // rarely, and every step along its chain takes the link.
  uint32_t link_shift;
  // The lowest candidate a keyed chain may still yield. The walk examines
  // nothing at or below the floor but its first entry, the head: so the
  // floor itself stays in only when the head lies at it (and then only the
  // head can be there). Position 0 is none, and the head never is.
  const uint32_t lowest = head_pos == search_floor ? search_floor : search_floor + 1;

  if (key < 0) {
    // No key yet: s's own chain, entry by entry, as the walk takes it,
    // until a record makes a key apply.
    candidate = head_pos;
    for (uint32_t left = budget;;) {
      const uint8_t* const c = window + candidate;
      if (((load_word(c) ^ scan_head) & test.wanted) == 0) {
        const uint32_t length = count_match(c, scan);
        if (length > best) {
          best = length;
          best_pos = candidate;
          if (length >= stop_length) goto done;
          test.aim_at(scan, best);
          key = keyed_detail::key_for(best);
          if (key >= 0) break;
        }
      }
      if (--left == 0) goto done;
      candidate = keyed.chain_links[ring_slot(candidate)];
      if (candidate <= search_floor) goto done;
    }
    // best_pos agrees with s in best bytes: see the opening essay.
    if (key_lengths[key] <= best) {
      candidate = keyed_link(finder.chain_slots[ring_slot(best_pos)], key);
    } else {
      candidate = keyed_detail::nearest_below(finder, key, scan_slot, best_pos);
    }
  } else {
    candidate = keyed_link(scan_slot, key);
  }
  link_shift = link_shift_of(key);

  // Along a keyed chain, down to the lowest candidate in the walk's reach.
  while (candidate >= lowest) {
    const uint8_t* const c = window + candidate;
    const uint64_t slot = finder.chain_slots[ring_slot(candidate)];
    const uint64_t head_differ = load_word(c) ^ scan_head;
    // While the best is under eight the tail is the first word again: a
    // load of the line just read, in place of a test and a branch.
    const uint64_t differ = head_differ | (load_word(c + test.tail_offset) ^ test.tail);
    if ((head_differ & 0xFFFFFF) == 0) {
      // In s's bucket: its entry on the walk's chain.
      const uint32_t entry = static_cast<uint16_t>(scan_rank - slot_lane(slot, rank_lane));
      if (entry > budget) break;
      if ((differ & test.wanted) == 0) {
        const uint32_t length = count_match(c, scan);
        if (length > best) {
          best = length;
          best_pos = candidate;
          if (length >= stop_length) break;
          test.aim_at(scan, best);
          const int longer = keyed_detail::key_for(best);
          if (longer != key) {
            key = longer;
            link_shift = link_shift_of(key);
            if (key_lengths[key] > best) {
              candidate = keyed_detail::nearest_below(finder, key, scan_slot, best_pos);
              continue;
            }
          }
        }
      }
    }
    candidate = (slot >> link_shift) & 0xFFFF;
  }
done:
  if (best_pos != 0) match_pos = best_pos;
  return best;
}

// The lazy parse's search, the walk's result either way: the walk, counting
// its candidates, where the keyed chains are off; the keyed search where
// they are on; and, every so many searches, the counted walk among the
// keyed ones and the choice between the two once a stretch of input is
// through (sampled_search). A build that checks the searches takes every
// search through sampled_search.
[[gnu::always_inline]] inline uint32_t find_best_match(match_finder& finder, uint32_t scan_pos, uint32_t head_pos,
                                                      uint32_t prev_len, uint32_t& match_pos) {
#ifndef PELK_CHECK_SEARCH
  keyed_chains& keyed = finder.keyed;
  if (!keyed.active && scan_pos < keyed.next_choice) {
    return walk_and_count(finder, scan_pos, head_pos, prev_len, match_pos, keyed.walked_candidates);
  }
  if (keyed.active && --keyed.searches_to_sample != 0) {
    return keyed_search(finder, scan_pos, head_pos, prev_len, match_pos);
  }
#endif
  return sampled_search(finder, scan_pos, head_pos, prev_len, match_pos);
}

}  // namespace pelk
