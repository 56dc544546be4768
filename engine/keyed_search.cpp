// SPDX-License-Identifier: MIT
// Turning the keyed chains on and off, and the choice between the two
// searches; the keyed search itself is in keyed_search.h.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/keyed_search.h"

namespace pelk {
namespace {

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
  // The rows' staggers between them hold 0, which stays 0.
  rebase_positions(keyed.heads, sizeof keyed.heads / sizeof keyed.heads[0]);
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
