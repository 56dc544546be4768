// The parsing loops: turn the window into literals and matches.
//
// Lazy parsing (levels 4-9) holds each match back by one position: if the
// next position starts a strictly longer match, the held one is given up
// for a literal and the longer one is held instead. Greedy parsing (levels
// 1-3) takes every match at once and, for long ones, does not even index
// the positions inside them.
//
// Both loops record a symbol before they move scan_pos, end a block right
// after the input of the last symbol recorded into it, and read input only
// between steps, while fewer than min_lookahead bytes lie ahead.
#include "engine/block_flush.h"
#include "engine/engine.h"
#include "engine/match_finder.h"

namespace pelk {
namespace {

// The block's raw input, while it is still in the window.
const uint8_t* block_input() {
  return block_origin >= 0 ? window_buf + block_origin : nullptr;
}

uint32_t block_length() { return scan_pos - static_cast<uint32_t>(block_origin); }

void end_block() {
  finish_block(block_input(), block_length(), false);
  block_origin = static_cast<int32_t>(scan_pos);
}

uint32_t end_stream() { return finish_block(block_input(), block_length(), true); }

void keep_window_filled() {
  while (ahead_count < min_lookahead && !input_ended) top_up_window();
}

}  // namespace

uint32_t deflate_lazy() {
  uint32_t found_len = min_match - 1;
  bool literal_pending = false;  // the byte at scan_pos - 1 awaits its symbol

  while (ahead_count != 0) {
    const uint32_t head_pos = insert_position(scan_pos);
    prev_match_len = found_len;
    const uint32_t prev_match_pos = match_pos;
    found_len = min_match - 1;

    if (head_pos != 0 && prev_match_len < lazy_limit && scan_pos - head_pos <= max_distance) {
      found_len = find_best_match(head_pos);
      if (found_len > ahead_count) found_len = ahead_count;
      if (found_len == min_match && scan_pos - match_pos > too_far_for_3) {
        found_len = min_match - 1;
      }
    }

    if (prev_match_len >= min_match && found_len <= prev_match_len) {
      // The held match, starting at scan_pos - 1, is no worse: take it.
      const bool end = record_symbol(scan_pos - 1 - prev_match_pos, prev_match_len - min_match);
      ahead_count -= prev_match_len - 1;
      // Its first two positions are indexed already.
      const uint32_t match_end = scan_pos + prev_match_len - 1;
      for (uint32_t p = scan_pos + 1; p < match_end; ++p) insert_position(p);
      scan_pos = match_end;
      literal_pending = false;
      found_len = min_match - 1;
      if (end) end_block();
    } else if (literal_pending) {
      // The next position did better: the byte before becomes a literal.
      if (record_symbol(0, window_buf[scan_pos - 1])) end_block();
      ++scan_pos;
      --ahead_count;
    } else {
      literal_pending = true;
      ++scan_pos;
      --ahead_count;
    }
    keep_window_filled();
  }

  if (literal_pending) record_symbol(0, window_buf[scan_pos - 1]);
  return end_stream();
}

uint32_t deflate_greedy() {
  prev_match_len = min_match - 1;  // every search reports any match of 3 or more

  while (ahead_count != 0) {
    const uint32_t head_pos = insert_position(scan_pos);
    uint32_t found_len = 0;
    if (head_pos != 0 && scan_pos - head_pos <= max_distance) {
      found_len = find_best_match(head_pos);
      if (found_len > ahead_count) found_len = ahead_count;
    }

    bool end;
    if (found_len >= min_match) {
      end = record_symbol(scan_pos - match_pos, found_len - min_match);
      ahead_count -= found_len;
      if (found_len <= lazy_limit) {
        const uint32_t match_end = scan_pos + found_len;
        for (uint32_t p = scan_pos + 1; p < match_end; ++p) insert_position(p);
        scan_pos = match_end;
      } else {
        // Too long to be worth indexing inside; restart the hash after it.
        scan_pos += found_len;
        prime_hash(scan_pos);
      }
    } else {
      end = record_symbol(0, window_buf[scan_pos]);
      --ahead_count;
      ++scan_pos;
    }
    if (end) end_block();
    keep_window_filled();
  }
  return end_stream();
}

uint32_t compress_input() {
  return active_level <= 3 ? deflate_greedy() : deflate_lazy();
}

}  // namespace pelk
