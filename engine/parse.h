// SPDX-License-Identifier: MIT
// The parsing loops: turn the window into literals and matches.
//
// Lazy parsing (levels 4-9) holds each match back by one position: if the
// next position starts a strictly longer match, the held one is given up
// for a literal and the longer one is held instead. Greedy parsing (levels
// 1-3) takes every match at once and, for long ones, does not even index
// the positions inside them.
//
// Both loops hand every symbol to a sink before they move the scan position,
// end a block right after the input of the last symbol recorded into it,
// and read input only between steps, while fewer than min_lookahead bytes
// lie ahead. The sink decides where blocks end and what becomes of the
// symbols; the parse itself never depends on it.
//
// A sink has these operations:
//   bool record(distance, lit_len, covered)  one symbol: distance 0 and the
//       byte for a literal, else the distance and the length minus 3;
//       covered is the input the block spans, as the early-end estimate
//       measures it. Returns true when the block is to end after it.
//   void end_block(input, length, last)      the block's input (null once a
//       slide has discarded its start) and length.
//   bool at_top(state)                       the lazy loop's state at the top
//       of each pass, before it does anything; false stops the parse there.
//   void on_slide()                          the window has just slid.
// The last two let a parse of part of the input find the point where it
// falls into step with another; the sequential compressor ignores them.
//
// The loops keep their positions in locals and write nothing back: a store
// through the sink may touch any byte, and locals are the only state the
// compiler can then keep in registers.
#pragma once

#include <cstdint>

#include "engine/keyed_search.h"
#include "engine/match_finder.h"

namespace pelk {

// The parser's view of the window while it runs: the scan position, the
// valid bytes from it, the last match found and where the current block's
// input starts (negative once a slide has passed it). A slide lowers them
// all alike.
struct parse_position {
  uint32_t scan_pos = 0;
  uint32_t ahead;
  uint32_t match_pos = 0;
  int32_t block_origin = 0;

  const uint8_t* block_input(const match_finder& finder) const {
    return block_origin >= 0 ? finder.window + block_origin : nullptr;
  }
  uint32_t block_length() const { return scan_pos - static_cast<uint32_t>(block_origin); }

  template <class Sink>
  void keep_window_filled(match_finder& finder, Sink& sink) {
    while (ahead < min_lookahead && !finder.input_ended) {
      const window_fill fill = top_up_window(finder, scan_pos, ahead);
      if (fill.slid != 0) {
        scan_pos -= fill.slid;
        match_pos -= fill.slid;  // only its distance to scan_pos is ever used
        block_origin -= static_cast<int32_t>(fill.slid);
        sink.on_slide();
      }
      ahead += fill.added;
    }
  }

  template <class Sink>
  void end_block(const match_finder& finder, Sink& sink) {
    sink.end_block(block_input(finder), block_length(), false);
    block_origin = static_cast<int32_t>(scan_pos);
  }
};

// Everything the lazy loop carries from one pass to the next: where it
// stands, whether the byte before awaits its symbol, and the match found
// there (its length, and its distance when it is a match). Two parses that
// stand at the top of a pass in the same state, over the same window and
// chains, go on identically.
struct lazy_state {
  uint32_t scan_pos;
  bool literal_pending;
  uint32_t found_len;
  uint32_t distance;  // of the match found, when found_len >= min_match

  friend bool operator==(const lazy_state&, const lazy_state&) = default;
};

// How many positions past the scan position the lazy parse keeps
// inserted. Inserting a position, and putting it on the keyed chains,
// updates heads at random places in tables larger than the nearest cache,
// and a search used to wait for its own position's. Done a few positions
// ahead, those loads overlap the searches before, which never read
// positions past their own. Far fewer than min_lookahead: the bytes of
// every key are read already while input lasts, and a slot taken over by
// a position inserted ahead belonged to one out of every search's reach.
inline constexpr uint32_t run_ahead = 8;
static_assert(run_ahead + longest_key <= min_lookahead);

// A parse from a fresh state at the window position `at` describes: the
// sequential compressor starts one at position 0, a parallel job at the
// start of its segment.
template <class Sink>
void deflate_lazy(match_finder& finder, parse_position at, Sink& sink) {
  const uint32_t lazy_limit = finder.params.lazy_limit;
  uint32_t found_len = min_match - 1;
  bool literal_pending = false;  // the byte at scan_pos - 1 awaits its symbol

  while (at.ahead != 0) {
    const uint32_t scan_pos = at.scan_pos;
    const uint32_t distance = found_len >= min_match ? scan_pos - at.match_pos : 0;
    if (!sink.at_top(lazy_state{scan_pos, literal_pending, found_len, distance})) return;
    // Up to run_ahead positions past scan_pos, none past the input's end.
    insert_up_to(finder, scan_pos + 1 + (at.ahead - 1 < run_ahead ? at.ahead - 1 : run_ahead));
    const uint32_t head_pos = chain_link(finder, scan_pos);
    const uint32_t prev_len = found_len;
    const uint32_t prev_match_pos = at.match_pos;
    found_len = min_match - 1;

    if (head_pos != 0 && prev_len < lazy_limit && scan_pos - head_pos <= max_distance) {
      found_len = find_best_match(finder, scan_pos, head_pos, prev_len, at.match_pos);
      if (found_len > at.ahead) found_len = at.ahead;
      if (found_len == min_match && scan_pos - at.match_pos > too_far_for_3) found_len = min_match - 1;
    }

    if (prev_len >= min_match && found_len <= prev_len) {
      // The held match, starting at scan_pos - 1, is no worse: take it.
      const bool end = sink.record(scan_pos - 1 - prev_match_pos, prev_len - min_match, at.block_length());
      at.ahead -= prev_len - 1;
      // The positions inside it are inserted on the way to the next search.
      at.scan_pos = scan_pos + prev_len - 1;
      literal_pending = false;
      found_len = min_match - 1;
      if (end) at.end_block(finder, sink);
    } else if (literal_pending) {
      // The next position did better: the byte before becomes a literal.
      if (sink.record(0, finder.window[scan_pos - 1], at.block_length())) at.end_block(finder, sink);
      ++at.scan_pos;
      --at.ahead;
    } else {
      literal_pending = true;
      ++at.scan_pos;
      --at.ahead;
    }
    at.keep_window_filled(finder, sink);
  }

  // The last literal goes into the last block, whatever the sink would say.
  if (literal_pending) sink.record(0, finder.window[at.scan_pos - 1], at.block_length());
  sink.end_block(at.block_input(finder), at.block_length(), true);
}

template <class Sink>
void deflate_greedy(match_finder& finder, parse_position at, Sink& sink) {
  const uint32_t lazy_limit = finder.params.lazy_limit;

  while (at.ahead != 0) {
    const uint32_t scan_pos = at.scan_pos;
    const uint32_t head_pos = insert_position(finder, scan_pos);
    uint32_t found_len = 0;
    if (head_pos != 0 && scan_pos - head_pos <= max_distance) {
      // Every search reports any match of 3 or more. The positions inside
      // long matches stay out of the chains, which the keyed search cannot
      // allow: this parse walks them.
      found_len = walk_hash_chain(finder, scan_pos, head_pos, min_match - 1, at.match_pos);
      if (found_len > at.ahead) found_len = at.ahead;
    }

    bool end;
    if (found_len >= min_match) {
      end = sink.record(scan_pos - at.match_pos, found_len - min_match, at.block_length());
      at.ahead -= found_len;
      if (found_len <= lazy_limit) {
        const uint32_t match_end = scan_pos + found_len;
        insert_positions(finder, scan_pos + 1, match_end);
        at.scan_pos = match_end;
      } else {
        // Too long to be worth indexing inside; restart the hash after it.
        at.scan_pos += found_len;
        prime_hash(finder, at.scan_pos);
      }
    } else {
      end = sink.record(0, finder.window[scan_pos], at.block_length());
      --at.ahead;
      ++at.scan_pos;
    }
    if (end) at.end_block(finder, sink);
    at.keep_window_filled(finder, sink);
  }
  sink.end_block(at.block_input(finder), at.block_length(), true);
}

}  // namespace pelk
