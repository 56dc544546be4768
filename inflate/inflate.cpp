// SPDX-License-Identifier: MIT
// The streaming inflater: block headers, code-length decoding, stored
// blocks, the careful symbol path and the sliding window. The hot loop that
// decodes most symbols lives in fast_loop.cpp.
//
// Algorithm. Blocks are decoded one after another straight into a window
// buffer that holds the last 32 KiB of output (the farthest a match may
// reach) followed by room for a chunk of new output. When the chunk is full
// it goes to the sink, and its last 32 KiB move to the front to serve as the
// history of the next chunk. Input comes from the byte_source's buffer, which
// is topped up whenever fewer than 16 bytes remain in it. So memory stays at
// the window, the tables and the input buffer whatever the stream's length.
//
// Invariants.
// - The bit buffer holds `bit_count` valid bits, least significant first;
//   bits above them are either zero or the true next bits of the input, so
//   OR-ing a byte in at bit_count never corrupts anything.
// - Every byte in the bit buffer was read from the current input buffer
//   after the last top-up, so whole bytes not yet used can be handed back by
//   moving `in` backwards (a stored block and the stream's end need this).
// - Once the input has ended, missing bytes are fed as zeros ("phantom"
//   bytes). They sit on top of the bit buffer, so the stream is truncated as
//   soon as bit_count drops below eight times their number; the careful
//   path checks this after every symbol, which bounds the work on any input.
//   A fault found in bits that reach into them (a code-length code built
//   from zeros, a block type read from them) is the input's end too: a
//   stream cut short is truncated wherever the cut falls.
//
// Division of work. The hot loop runs while the input holds 16 bytes and
// the output has room for a whole step behind the chunk, so it checks no
// bounds per symbol. Near the end of the input every symbol goes through
// the careful path, which refills byte by byte and checks everything.
#include "inflate/inflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "inflate/decode_table.h"
#include "inflate/fast_loop.h"
#include "inflate/inflate_inline.h"

namespace pelk {

namespace {

constexpr size_t history_size = 32768;    // farthest distance deflate allows
constexpr size_t chunk_size = 256 * 1024;  // output handed to the sink at once
// Room behind the chunk for what a step may write once the chunk is full.
constexpr size_t window_size = history_size + chunk_size + fast_out_margin;
constexpr size_t in_margin = fast_in_margin;

static_assert(fast_out_margin >= max_match + copy_overshoot, "the careful path writes one match past the chunk");
static_assert(chunk_size >= history_size, "a flush must leave whole history behind it");

}  // namespace

struct inflater {
  uint32_t litlen[litlen_table_size];
  uint32_t dist[dist_table_size];
  uint32_t clen[clen_table_size];
  bool tables_hold_fixed = false;  // the fixed code survives from an earlier block
  fast_loop_function fast_loop = choose_fast_loop(false);
  uint8_t window[window_size];
};

void inflater_deleter::operator()(inflater* state) const { delete state; }

inflater_ptr make_inflater() { return inflater_ptr(new (std::nothrow) inflater); }

void use_portable_fast_loop(inflater& state, bool portable) { state.fast_loop = choose_fast_loop(portable); }

namespace {

enum class step : uint8_t { more, block_end, failed };

struct decoder {
  inflater& state;
  byte_source& source;
  byte_sink sink;
  uint64_t bits = 0;
  uint32_t bit_count = 0;
  uint32_t phantom = 0;  // zero bytes fed after the input ended
  const uint8_t* in = nullptr;
  const uint8_t* in_end = nullptr;
  uint8_t* out = nullptr;
  uint8_t* unflushed = nullptr;  // first output byte not yet in the sink
  uint64_t flushed_total = 0;
  inflate_status status = inflate_status::ok;
  const char* detail = "";
  int write_error = 0;

  uint8_t* window() { return state.window; }
  uint8_t* out_limit() { return state.window + history_size + chunk_size; }

  step fail(inflate_status why, const char* what = "") {
    status = why;
    detail = what;
    return step::failed;
  }
  // A fault in bits that reach past the end of the input is that end, not
  // damage: a stream cut short anywhere decodes its phantom zeros into
  // whatever they happen to spell. bits_examined counts the bits a table
  // lookup indexed with beyond those consumed; a fault found in real bits
  // alone stays a fault, so a whole stream is never called truncated.
  step corrupt(const char* what, uint32_t bits_examined = 0) {
    if (bit_count < phantom * 8 + bits_examined) return ran_out();
    return fail(inflate_status::corrupt, what);
  }
  step ran_out() {
    return fail(source.read_errno != 0 ? inflate_status::read_failed : inflate_status::truncated);
  }
  bool overran() const { return bit_count < phantom * 8; }

  void drop(uint32_t count) {
    bits >>= count;
    bit_count -= count;
  }

  // --- Input ---------------------------------------------------------------

  // Hands the whole unused bytes of the bit buffer back to the input.
  // Returns false when some of them were phantom bytes.
  bool give_back_bytes() {
    const uint32_t whole = bit_count / 8;
    if (whole < phantom) return false;
    in -= whole - phantom;
    phantom = 0;
    bit_count %= 8;
    bits = low_bits(bits, bit_count);
    source.pos = static_cast<size_t>(in - source.buffer.get());
    return true;
  }

  void sync_input() {
    in = source.buffer.get() + source.pos;
    in_end = source.buffer.get() + source.end;
  }

  // Reads more input once it runs low, unless it has ended.
  void top_up() {
    if (in_end - in >= static_cast<ptrdiff_t>(in_margin) || source.at_end || source.read_errno) return;
    give_back_bytes();
    refill(source);
    sync_input();
  }

  void refill_fast() {
    bits |= load_le64(in) << bit_count;
    in += (63 - bit_count) >> 3;
    bit_count |= 56;
  }

  // Fills the bit buffer to 56-63 bits one byte at a time, with phantom
  // zeros once the input has ended. Never 64: the branchless refill, which
  // may follow, shifts by the count and must see at most 63.
  void refill_slow() {
    while (bit_count < 56) {
      if (in == in_end) {
        top_up();
        if (in == in_end) {
          ++phantom;
          bit_count += 8;
          continue;
        }
      }
      bits |= uint64_t{*in++} << bit_count;
      bit_count += 8;
    }
  }

  void need_bits() {
    if (in_end - in >= 8) {
      refill_fast();
    } else {
      refill_slow();
    }
  }

  // --- Output --------------------------------------------------------------

  bool flush_all() {
    const size_t size = static_cast<size_t>(out - unflushed);
    if (size == 0) return true;
    flushed_total += size;
    unflushed = out;
    write_error = sink.write(sink.context, out - size, size);
    return write_error == 0;
  }

  // Sends the chunk to the sink and keeps its last 32 KiB as history.
  bool flush_chunk() {
    if (!flush_all()) return false;
    std::memmove(window(), out - history_size, history_size);
    out = window() + history_size;
    unflushed = out;
    return true;
  }

  // --- Blocks --------------------------------------------------------------

  step stored_block() {
    bit_count -= bit_count % 8;
    bits = low_bits(bits, bit_count);
    if (!give_back_bytes()) return ran_out();
    int header[4];
    for (int& byte : header) {
      byte = next_byte(source);
      if (byte < 0) return ran_out();
    }
    const uint32_t length = static_cast<uint32_t>(header[0] | header[1] << 8);
    const uint32_t check = static_cast<uint32_t>(header[2] | header[3] << 8);
    if ((length ^ check) != 0xFFFF) return corrupt("stored block length does not match its complement");
    for (uint32_t left = length; left > 0;) {
      if (out >= out_limit() && !flush_chunk()) return fail(inflate_status::write_failed);
      if (source.pos == source.end && !refill(source)) return ran_out();
      const size_t count = std::min({size_t{left}, source.end - source.pos,
                                     static_cast<size_t>(out_limit() - out)});
      std::memcpy(out, source.buffer.get() + source.pos, count);
      out += count;
      source.pos += count;
      left -= static_cast<uint32_t>(count);
    }
    sync_input();
    return step::block_end;
  }

  void load_fixed_tables() {
    if (state.tables_hold_fixed) return;
    uint8_t lengths[litlen_table_symbols];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    build_decode_table(state.litlen, litlen_main_bits, lengths, litlen_table_symbols,
                       litlen_symbol_info.data());
    std::fill(lengths, lengths + dist_table_symbols, 5);
    build_decode_table(state.dist, dist_main_bits, lengths, dist_table_symbols, dist_symbol_info.data());
    state.tables_hold_fixed = true;
  }

  step dynamic_tables() {
    state.tables_hold_fixed = false;
    need_bits();
    const int litlen_count = 257 + static_cast<int>(bits & 0x1F);
    const int dist_count = 1 + static_cast<int>((bits >> 5) & 0x1F);
    const int clen_count = 4 + static_cast<int>((bits >> 10) & 0xF);
    drop(14);
    if (litlen_count > lit_symbols) return corrupt("too many literal/length codes");

    uint8_t lengths[litlen_table_symbols + dist_table_symbols] = {};
    for (int i = 0; i < clen_count; ++i) {
      if (bit_count < 3) need_bits();
      lengths[clen_order[i]] = static_cast<uint8_t>(bits & 7);
      drop(3);
    }
    if (!build_decode_table(state.clen, clen_main_bits, lengths, clen_symbols, clen_symbol_info.data())) {
      return corrupt("invalid code-length code");
    }

    const int total = litlen_count + dist_count;
    std::fill(lengths, lengths + clen_symbols, 0);
    for (int i = 0; i < total;) {
      if (overran()) return ran_out();
      need_bits();  // a 7-bit code and at most 7 extra bits
      const uint32_t entry = state.clen[low_bits(bits, clen_main_bits)];
      if (entry & invalid_flag) return corrupt("invalid code-length symbol", clen_main_bits);
      drop(entry & drop_mask);
      const uint32_t sym = entry >> 16;
      if (sym < 16) {
        lengths[i++] = static_cast<uint8_t>(sym);
        continue;
      }
      uint8_t value = 0;
      uint32_t repeat;
      if (sym == repeat_previous) {
        if (i == 0) return corrupt("length repeat with no previous length");
        value = lengths[i - 1];
        repeat = 3 + static_cast<uint32_t>(bits & 3);
        drop(2);
      } else if (sym == repeat_zero_short) {
        repeat = 3 + static_cast<uint32_t>(bits & 7);
        drop(3);
      } else {
        repeat = 11 + static_cast<uint32_t>(bits & 0x7F);
        drop(7);
      }
      if (repeat > static_cast<uint32_t>(total - i)) return corrupt("code lengths overflow the alphabets");
      std::fill(lengths + i, lengths + i + repeat, value);
      i += static_cast<int>(repeat);
    }
    if (overran()) return ran_out();
    if (lengths[end_of_block] == 0) return corrupt("no end-of-block code");
    if (!build_decode_table(state.litlen, litlen_main_bits, lengths, litlen_count,
                            litlen_symbol_info.data())) {
      return corrupt("invalid literal/length code");
    }
    if (!build_decode_table(state.dist, dist_main_bits, lengths + litlen_count, dist_count,
                            dist_symbol_info.data())) {
      return corrupt("invalid distance code");
    }
    return step::more;
  }

  // The hot loop, on local copies of the state.
  step fast_symbols() {
    fast_state fast{bits, bit_count, in, out};
    const fast_exit exit = state.fast_loop(fast, in_end - in_margin, out_limit(), window(), state.litlen, state.dist);
    bits = fast.bits;
    bit_count = fast.bit_count & 63;
    in = fast.in;
    out = fast.out;
    switch (exit) {
      case fast_exit::limit: return step::more;
      case fast_exit::block_end: return step::block_end;
      case fast_exit::bad_litlen: return corrupt("invalid literal/length code");
      case fast_exit::bad_distance: return corrupt("invalid distance code");
      case fast_exit::bad_reach: break;
    }
    return corrupt("match distance reaches before the start of the output");
  }

  // One symbol near the end of the input, with every check.
  step slow_symbol() {
    refill_slow();
    uint32_t entry = state.litlen[low_bits(bits, litlen_main_bits)];
    uint32_t examined = litlen_main_bits;  // the bits its invalidity rests on
    if (entry & link_flag) {
      drop(entry & drop_mask);
      examined = (entry >> 8) & 0xF;
      entry = subtable_entry(state.litlen, entry, bits);
    }
    if (entry & invalid_flag) return corrupt("invalid literal/length code", examined);
    if (entry & literal_flag) {
      drop(entry & drop_mask);
      *out++ = static_cast<uint8_t>(entry >> 16);
    } else if (entry & end_of_block_flag) {
      drop(entry & drop_mask);
      return overran() ? ran_out() : step::block_end;
    } else {
      uint64_t before = bits;
      drop(entry & drop_mask);
      const uint32_t length = entry_value(entry, before);
      refill_slow();
      entry = state.dist[low_bits(bits, dist_main_bits)];
      examined = dist_main_bits;
      if (entry & link_flag) {
        drop(entry & drop_mask);
        examined = (entry >> 8) & 0xF;
        entry = subtable_entry(state.dist, entry, bits);
      }
      if (entry & invalid_flag) return corrupt("invalid distance code", examined);
      before = bits;
      drop(entry & drop_mask);
      const uint32_t distance = entry_value(entry, before);
      if (overran()) return ran_out();
      if (distance > static_cast<size_t>(out - window())) {
        return corrupt("match distance reaches before the start of the output");
      }
      copy_match(out, distance, length);
      out += length;
    }
    return overran() ? ran_out() : step::more;
  }

  step huffman_block() {
    for (;;) {
      if (out >= out_limit() && !flush_chunk()) return fail(inflate_status::write_failed);
      top_up();
      const step result = in_end - in >= static_cast<ptrdiff_t>(in_margin) ? fast_symbols() : slow_symbol();
      if (result != step::more) return result;
    }
  }

  inflate_result run() {
    sync_input();
    out = window();
    unflushed = out;
    bool final_block = false;
    while (!final_block) {
      top_up();
      need_bits();
      if (overran()) {
        ran_out();
        break;
      }
      final_block = bits & 1;
      const uint32_t type = (bits >> 1) & 3;
      drop(3);
      step result;
      if (type == block_stored) {
        result = stored_block();
      } else if (type == block_fixed) {
        load_fixed_tables();
        result = huffman_block();
      } else if (type == block_dynamic) {
        result = dynamic_tables();
        if (result == step::more) result = huffman_block();
      } else {
        result = corrupt("reserved block type");
      }
      if (result == step::failed) break;
    }
    if (status == inflate_status::ok) {
      bit_count -= bit_count % 8;
      if (!give_back_bytes()) ran_out();
    }
    // A damaged stream's last chunk is not worth delivering: it is known bad.
    if (status == inflate_status::ok && !flush_all()) fail(inflate_status::write_failed);
    return {status, detail, flushed_total, write_error};
  }
};

}  // namespace

inflate_result inflate_stream(inflater& state, byte_source& source, byte_sink sink) {
  decoder d{state, source, sink};
  return d.run();
}

}  // namespace pelk
