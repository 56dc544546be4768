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
// Where the plain walk is cheaper. Indexing costs every position three
// random updates of the keyed heads, and every step along a keyed chain
// waits for the slot the step before it loaded, while the plain walk
// takes four candidates per load; where chains are short (random data,
// long matches that leave few searches, short periods) the keyed search
// costs more than the walks it saves. So the choice is made per stretch
// of 16 KiB of input from how many candidates per position a sample of
// counted walks took in the stretch before. Turning the chains on indexes
// every position inserted so far anew from the farthest one the next
// search can reach, so from then on they hold every position a search can
// reach. The choice changes the speed and nothing else.
//
// A parallel job's finder starts as a fresh one: its chains, when on, are
// indexed from its own window, and a rank difference reads only positions
// its warm-up inserted.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/match_bytes.h"
#include "engine/match_finder.h"

namespace pelk {
namespace {

// The key to walk while the best so far is `best`: the longest of at most
// best + 1 bytes, or -1 while none is that short.
inline int key_for(uint32_t best) {
  int key = -1;
  for (uint32_t i = 0; i < key_count; ++i) {
    if (key_lengths[i] <= best + 1) key = static_cast<int>(i);
  }
  return key;
}

// Turns the keyed chains on for searches from scan_pos on: every position
// inserted so far that such a search can reach goes over to the keyed
// layout, in order, its link moving to chain_links and the keyed chains,
// started empty, taking it, rank included.
void start_keyed_chains(match_finder& finder, uint32_t scan_pos) {
  keyed_chains& keyed = finder.keyed;
  keyed.active = true;
  std::memset(keyed.heads, 0, sizeof keyed.heads);
  for (uint32_t p = search_floor_of(scan_pos); p < finder.inserted_end; ++p) {
    const uint32_t predecessor = finder.chain_slots[ring_slot(p)] & 0xFFFF;
    keyed.chain_links[ring_slot(p)] = static_cast<uint16_t>(predecessor);
    index_keyed_position(keyed, finder.chain_slots, finder.window, p, predecessor);
  }
}

// Turns them off: every position inserted so far that a search from
// scan_pos on can reach goes back to the walked layout, each slot from its
// predecessor's, rebuilt before it.
void stop_keyed_chains(match_finder& finder, uint32_t scan_pos) {
  for (uint32_t p = search_floor_of(scan_pos); p < finder.inserted_end; ++p) {
    const uint32_t predecessor = finder.keyed.chain_links[ring_slot(p)];
    finder.chain_slots[ring_slot(p)] = finder.chain_slots[ring_slot(predecessor)] << 16 | predecessor;
  }
  finder.keyed.active = false;
}

// The nearest entry below `limit` on the chain of key `key` after the
// scan position, whose slot is scan_slot: where a search goes on after
// switching to a key one byte longer than its best (see the opening
// essay).
uint32_t nearest_below(const match_finder& finder, int key, uint64_t scan_slot, uint32_t limit) {
  uint32_t candidate = keyed_link(scan_slot, key);
  while (candidate >= limit) candidate = keyed_link(finder.chain_slots[ring_slot(candidate)], key);
  return candidate;
}

}  // namespace

uint32_t keyed_search(const match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                      uint32_t& match_pos) {
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

  int key = key_for(best);
  uint32_t candidate;  // the next one to visit on the key's chain
  // Where the key's link lies in a slot, kept apart: the key changes
  // rarely, and every step along its chain takes the link.
  uint32_t link_shift;
  // Position 0 is none, so the lowest candidate is 1 even where the floor
  // is 0.
  const uint32_t lowest = search_floor > 0 ? search_floor : 1;

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
          key = key_for(best);
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
      candidate = nearest_below(finder, key, scan_slot, best_pos);
    }
  } else {
    candidate = keyed_link(scan_slot, key);
  }
  link_shift = link_shift_of(key);

  // Along a keyed chain. Entries below the floor are out of every walk's
  // reach; the one at the floor only as the walk's first.
  while (candidate >= lowest) {
    const uint8_t* const c = window + candidate;
    const uint64_t slot = finder.chain_slots[ring_slot(candidate)];
    const uint64_t head_differ = load_word(c) ^ scan_head;
    uint64_t differ = head_differ;
    if (test.tail_offset != 0) differ |= load_word(c + test.tail_offset) ^ test.tail;
    if ((head_differ & 0xFFFFFF) == 0) {
      // In s's bucket: its entry on the walk's chain.
      const uint32_t entry = static_cast<uint16_t>(scan_rank - slot_lane(slot, rank_lane));
      if (entry > budget || (candidate == search_floor && entry != 1)) break;
      if ((differ & test.wanted) == 0) {
        const uint32_t length = count_match(c, scan);
        if (length > best) {
          best = length;
          best_pos = candidate;
          if (length >= stop_length) break;
          test.aim_at(scan, best);
          const int longer = key_for(best);
          if (longer != key) {
            key = longer;
            link_shift = link_shift_of(key);
            if (key_lengths[key] > best) {
              candidate = nearest_below(finder, key, scan_slot, best_pos);
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

namespace {

// How the choice between the searches is made; see the opening essay.
// While the keyed chains are off every walk counts its candidates, and the
// first search past the stretch comes here, where the choice is made;
// while they are on, one search in keyed_interval is a counted walk (the
// walk costs much more there). The chains are kept from
// `keep_threshold` walked candidates per input position (in sixteenths: 7)
// and, once on, down to `drop_threshold` (3.5), so that a rate near the
// line does not move the slots between layouts at every stretch: each move
// rewrites every slot in reach. The lines are where the time goes, not the
// instructions, and were found by timing: the corpus's text and medical
// image (about 10 to 11 walked candidates per position, their stretches
// mostly between 5 and 14) run faster keyed, and its XML (about 2.6, its
// stretches below 8) runs slower keyed, where the walk's few candidates
// per search are cheap. Once on, the chains are worth keeping lower than
// they are worth starting: against a drop at 4.5, one at 3.5 ran the
// medical image in 0.974 of the time and the small files in 0.991, the
// XML and the rest alike; one at 2.5 ran the small files in 1.005.
#ifdef PELK_CHECK_SEARCH
// A build that checks the searches wants the keyed search at most
// searches, and its starts and stops, which move the slots from one
// layout to the other, at many places: a choice is made at the first
// search from each multiple of `stretch_length` of the window on (a slide
// keeps those multiples, so a test can aim at them). The chains are on
// from the first search and off for the 2nd, 4th, 8th ... stretch: stops
// and starts come often near the start of an input, and later the keyed
// runs grow long enough to take many slides, as the product's do. Every
// search goes through sampled_search. The search test's own engine makes
// a choice every 1 KiB (PELK_CHECK_SEARCH_RESTARTS); the fuzz build every
// 16 KiB, as the product does, since each start indexes up to a window's
// worth of positions and at 1 KiB that would take most of each input's
// time.
constexpr uint32_t first_stretch = 0;
#ifdef PELK_CHECK_SEARCH_RESTARTS
constexpr uint32_t stretch_length = 1024;
#else
constexpr uint32_t stretch_length = 16384;
#endif
#else
constexpr uint32_t keyed_interval = 256;
constexpr uint64_t keep_threshold = 112;
constexpr uint64_t drop_threshold = 56;
constexpr uint32_t first_stretch = 4096;
constexpr uint32_t stretch_length = 16384;
#endif

void choose_search(match_finder& finder, uint32_t scan_pos) {
  keyed_chains& keyed = finder.keyed;
#ifdef PELK_CHECK_SEARCH
  const uint32_t count = ++keyed.checked_stretches;
  const bool keep = (count & (count - 1)) != 0 || count == 1;
  if (keep && !keyed.active) start_keyed_chains(finder, scan_pos);
  if (!keep && keyed.active) stop_keyed_chains(finder, scan_pos);
  keyed.next_choice = (scan_pos / stretch_length + 1) * stretch_length;
#else
  // Off, every search of the stretch was a counted walk; on, one in
  // keyed_interval was, and a stretch too short for one keeps the chains.
  if (!keyed.active || keyed.walks != 0) {
    const uint64_t positions = scan_pos > keyed.stretch_start ? scan_pos - keyed.stretch_start : 1;
    // The candidates the plain walk would have taken over the stretch.
    const uint64_t candidates =
        keyed.active ? uint64_t{keyed.walked_candidates} * keyed.searches / keyed.walks : keyed.walked_candidates;
    const uint64_t threshold = keyed.active ? drop_threshold : keep_threshold;
    const bool keep = candidates * 16 >= threshold * positions;
    if (keep && !keyed.active) start_keyed_chains(finder, scan_pos);
    if (!keep && keyed.active) stop_keyed_chains(finder, scan_pos);
  }
  keyed.next_choice = scan_pos + stretch_length;
#endif
  keyed.stretch_start = scan_pos;
  keyed.searches = 0;
  keyed.walks = 0;
  keyed.walked_candidates = 0;
}

}  // namespace

namespace {

#ifdef PELK_CHECK_SEARCH
// Stops the process at the first search whose two answers differ.
[[noreturn]] void report_difference(uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len, uint32_t walked,
                                    uint32_t walked_pos, const char* found_search, uint32_t found, uint32_t found_pos) {
  std::fprintf(stderr,
               "search check: at window position %u (head %u, held %u) the walk link by link found %u at %u, the "
               "%s search %u at %u\n",
               scan_pos, head_pos, prev_len, walked, walked_pos, found_search, found, found_pos);
  std::abort();
}
#endif

}  // namespace

void start_search_choice(keyed_chains& keyed, uint32_t parse_start) {
  keyed.active = false;
  keyed.checked_stretches = 0;
  keyed.searches_to_sample = 1;
  keyed.stretch_start = parse_start;
  keyed.next_choice = parse_start + first_stretch;
  keyed.searches = 0;
  keyed.walks = 0;
  keyed.walked_candidates = 0;
}

void slide_keyed_chains(keyed_chains& keyed) {
  keyed.stretch_start = keyed.stretch_start > half_window ? keyed.stretch_start - half_window : 0;
  keyed.next_choice = keyed.next_choice > half_window ? keyed.next_choice - half_window : 0;
  if (!keyed.active) return;
  for (uint32_t i = 0; i < key_count; ++i) rebase_positions(keyed.heads[i], key_hash_size);
  rebase_positions(keyed.chain_links, half_window);
}

uint32_t sampled_search(match_finder& finder, uint32_t scan_pos, uint32_t head_pos, uint32_t prev_len,
                        uint32_t& match_pos) {
  keyed_chains& keyed = finder.keyed;
#ifdef PELK_CHECK_SEARCH
  if (scan_pos >= keyed.next_choice) choose_search(finder, scan_pos);
  keyed.searches_to_sample = 1;
  // Either search against the walk one link at a time: the keyed search,
  // or, where the chains are off, the walk four successors at a time over
  // slots that may have come back from the keyed layout.
  uint32_t walked_pos = match_pos;
  const uint32_t walked = walk_chain_links(finder, scan_pos, head_pos, prev_len, walked_pos);
  const uint32_t found = keyed.active ? keyed_search(finder, scan_pos, head_pos, prev_len, match_pos)
                                      : walk_hash_chain(finder, scan_pos, head_pos, prev_len, match_pos);
  if (found != walked || match_pos != walked_pos) {
    report_difference(scan_pos, head_pos, prev_len, walked, walked_pos, keyed.active ? "keyed" : "four-successor",
                      found, match_pos);
  }
  return found;
#else
  const uint32_t length = walk_and_count(finder, scan_pos, head_pos, prev_len, match_pos, keyed.walked_candidates);
  if (keyed.active) {
    ++keyed.walks;
    keyed.searches += keyed_interval;
  }
  if (scan_pos >= keyed.next_choice) choose_search(finder, scan_pos);
  keyed.searches_to_sample = keyed_interval;
  return length;
#endif
}

}  // namespace pelk
