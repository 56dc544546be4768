// The streaming inflater: block headers, the two Huffman block loops, stored
// blocks and the sliding window.
//
// Algorithm. Blocks are decoded one after another straight into a window
// buffer that holds the last 32 KiB of output (the farthest a match may
// reach) followed by room for a chunk of new output. When the chunk is full
// it goes to the sink, and its last 32 KiB move to the front to serve as the
// history of the next chunk. Input comes from the byte_source's buffer, which
// is topped up whenever fewer than a few bytes remain in it.
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
//   soon as bit_count drops below eight times their number; the slow path
//   checks this after every symbol, which bounds the work on any input.
//
// Optimizations.
// - A 64-bit bit buffer refilled without branches: one unaligned 8-byte load
//   tops it up to 56-63 bits, which covers three literals and a length code,
//   or a distance code with its extra bits.
// - Tables with an 11-bit (literal/length) and 8-bit (distance) first level
//   decode most symbols in one lookup; up to three literals are decoded per
//   refill.
// - Matches are copied eight bytes at a time, overshooting their end into
//   the margin behind the chunk; a one-byte distance becomes a broadcast.
// - The fast loop works on local copies of the state and runs only while
//   the input holds 16 bytes and the output has a whole match of room, so it
//   checks no bounds per symbol. Everything near the ends of the buffers
//   goes through the slow path, which checks everything.
#include "tools/unpelk/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "tools/unpelk/decode_table.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PELK_X86_BMI2 1
#else
#define PELK_X86_BMI2 0
#endif

namespace pelk {

namespace {

constexpr size_t history_size = 32768;    // farthest distance deflate allows
constexpr size_t chunk_size = 256 * 1024;  // output handed to the sink at once
// Room behind the chunk the fast loop may need: two literals and a longest
// match, with the up to 15 bytes its word copy overshoots.
constexpr size_t out_margin = 320;
constexpr size_t window_size = history_size + chunk_size + out_margin;
constexpr size_t in_margin = 16;  // two 8-byte refills per fast iteration

static_assert(2 + max_match + 31 <= out_margin);
static_assert(chunk_size >= history_size, "a flush must leave whole history behind it");

constexpr uint8_t code_length_order[clen_symbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace

struct inflater {
  uint32_t litlen[litlen_table_size];
  uint32_t dist[dist_table_size];
  uint32_t clen[clen_table_size];
  bool tables_hold_fixed = false;  // the fixed code survives from an earlier block
  uint8_t window[window_size];
};

void inflater_deleter::operator()(inflater* state) const { delete state; }

inflater_ptr make_inflater() { return inflater_ptr(new inflater); }

namespace {

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

inline void copy8(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

inline uint64_t low_bits(uint64_t value, uint32_t count) {
  return value & ((uint64_t{1} << count) - 1);
}

// A length's or distance's value: its base plus the extra bits that follow
// the code, taken from the buffer as it was before the entry was dropped.
// With BMI2 the low bits are cut off in one instruction (bzhi), which the
// compiler does not find by itself; written as assembly because the
// intrinsic may only be inlined into code compiled for BMI2 as a whole.
template <bool bmi2 = false>
inline uint32_t entry_value(uint32_t entry, uint64_t bits_before) {
  uint64_t code_and_extra;
#if PELK_X86_BMI2
  if constexpr (bmi2) {
    asm("bzhi %2, %1, %0" : "=r"(code_and_extra) : "r"(bits_before), "r"(uint64_t{entry}));
  } else
#endif
  {
    code_and_extra = low_bits(bits_before, entry & drop_mask);
  }
  return (entry >> 16) + static_cast<uint32_t>(code_and_extra >> ((entry >> 8) & 63));
}

inline const uint32_t& subtable_entry(const uint32_t* table, uint32_t link, uint64_t bits) {
  return table[(link >> 16) + low_bits(bits, (link >> 8) & 0xF)];
}

// Copies a match of `length` bytes from `distance` bytes back. May write up
// to 31 bytes past the match's end.
inline void copy_match(uint8_t* out, uint32_t distance, uint32_t length) {
  uint8_t* const end = out + length;
  const uint8_t* from = out - distance;
  if (distance >= 16) [[likely]] {
    // The first 16 bytes alone first: most matches are shorter, and a second
    // load right away would, for distances below 32, read bytes still in
    // flight from the first store, which stalls the processor.
    std::memcpy(out, from, 16);
    for (out += 16, from += 16; out < end; out += 32, from += 32) {
      std::memcpy(out, from, 16);
      std::memcpy(out + 16, from + 16, 16);
    }
  } else if (distance >= 8) {
    // Each 8-byte read lies wholly behind the write before it, so overlap
    // repeats the pattern as deflate requires.
    for (; out < end; out += 8, from += 8) copy8(out, from);
  } else if (distance == 1) {
    const uint64_t run = uint64_t{*from} * 0x0101010101010101u;
    for (; out < end; out += 8) std::memcpy(out, &run, 8);
  } else {
    do *out++ = *from++;
    while (out < end);
  }
}

// --- The fast loop ----------------------------------------------------------

struct fast_state {
  uint64_t bits;
  uint32_t bit_count;  // only its low six bits count (see below)
  const uint8_t* in;
  uint8_t* out;
};

enum class fast_exit : uint8_t { limit, block_end, bad_litlen, bad_distance, bad_reach };

// Decodes symbols until the block ends, `in` passes in_limit or `out`
// reaches out_limit (checked once per match or three literals).
//
// Bit counting: an entry is subtracted from the count whole, value and
// flags included, and shifts use the count modulo 64. The low six bits stay
// exact (the true count never drops below zero), and the masking this
// saves is one instruction per symbol.
//
// The next literal/length entry is looked up as soon as a distance has been
// decoded, before the match is copied, so the table load overlaps the copy;
// at least 28 bits are left then, more than the 11 the lookup reads, and
// the refill that follows only adds bits above them.
template <bool bmi2>
[[gnu::always_inline]] inline fast_exit fast_loop_body(fast_state& state, const uint8_t* in_limit,
                                                      uint8_t* out_limit, const uint8_t* out_start,
                                                      const uint32_t* litlen, const uint32_t* dist) {
  uint64_t b = state.bits;
  uint32_t n = state.bit_count;
  const uint8_t* in = state.in;
  uint8_t* out = state.out;
  constexpr uint64_t litlen_mask = (1u << litlen_main_bits) - 1;
  constexpr uint64_t dist_mask = (1u << dist_main_bits) - 1;
  fast_exit result = fast_exit::limit;

  auto refill = [&] {
    b |= load_le64(in) << (n & 63);
    in += 7 - ((n >> 3) & 7);
    n |= 56;
  };
  auto consume = [&](uint32_t entry) {
    b >>= entry & 63;
    n -= entry;
  };

  if (in > in_limit || out >= out_limit) return result;
  refill();
  uint32_t entry = litlen[b & litlen_mask];
  for (;;) {
    if (entry & literal_flag) {
      consume(entry);
      *out++ = static_cast<uint8_t>(entry >> 16);
      entry = litlen[b & litlen_mask];
      if (entry & literal_flag) {
        consume(entry);
        *out++ = static_cast<uint8_t>(entry >> 16);
        entry = litlen[b & litlen_mask];
        if (entry & literal_flag) {
          consume(entry);
          *out++ = static_cast<uint8_t>(entry >> 16);
          entry = litlen[b & litlen_mask];
          goto next;
        }
      }
    }
    if (entry & (link_flag | end_of_block_flag | invalid_flag)) [[unlikely]] {
      if (entry & link_flag) {
        consume(entry);
        entry = subtable_entry(litlen, entry, b);
        if (entry & literal_flag) {
          consume(entry);
          *out++ = static_cast<uint8_t>(entry >> 16);
          entry = litlen[b & litlen_mask];
          goto next;
        }
      }
      if (entry & end_of_block_flag) {
        consume(entry);
        result = fast_exit::block_end;
        break;
      }
      if (entry & invalid_flag) {
        result = fast_exit::bad_litlen;
        break;
      }
    }
    {
      uint64_t before = b;
      consume(entry);
      const uint32_t length = entry_value<bmi2>(entry, before);

      // At least 14 bits are left (the refill above covered two literals
      // and this code), enough to index the distance table before the
      // refill instead of after it.
      entry = dist[b & dist_mask];
      refill();
      if (entry & (link_flag | invalid_flag)) [[unlikely]] {
        if (entry & link_flag) {
          consume(entry);
          entry = subtable_entry(dist, entry, b);
        }
        if (entry & invalid_flag) {
          result = fast_exit::bad_distance;
          break;
        }
      }
      before = b;
      consume(entry);
      const uint32_t distance = entry_value<bmi2>(entry, before);
      if (distance > static_cast<size_t>(out - out_start)) [[unlikely]] {
        result = fast_exit::bad_reach;
        break;
      }
      entry = litlen[b & litlen_mask];
      copy_match(out, distance, length);
      out += length;
    }
  next:
    if (in > in_limit || out >= out_limit) break;
    refill();
  }
  state = {b, n, in, out};
  return result;
}

fast_exit fast_loop_plain(fast_state& state, const uint8_t* in_limit, uint8_t* out_limit,
                          const uint8_t* out_start, const uint32_t* litlen, const uint32_t* dist) {
  return fast_loop_body<false>(state, in_limit, out_limit, out_start, litlen, dist);
}

// The same loop compiled for processors with BMI2, whose shifts take their
// count from any register and whose bit-field extraction is one
// instruction: about a sixth fewer instructions per byte. Chosen at run time.
#if PELK_X86_BMI2
[[gnu::target("bmi2")]] fast_exit fast_loop_bmi2(fast_state& state, const uint8_t* in_limit,
                                                 uint8_t* out_limit, const uint8_t* out_start,
                                                 const uint32_t* litlen, const uint32_t* dist) {
  return fast_loop_body<true>(state, in_limit, out_limit, out_start, litlen, dist);
}
#endif

using fast_loop_function = decltype(&fast_loop_plain);

fast_loop_function choose_fast_loop() {
#if PELK_X86_BMI2
  if (__builtin_cpu_supports("bmi2")) return fast_loop_bmi2;
#endif
  return fast_loop_plain;
}

const fast_loop_function run_fast_loop = choose_fast_loop();

enum class step : uint8_t { more, block_end, failed };

struct decoder {
  inflater& state;
  byte_source& source;
  output_sink sink;
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

  uint8_t* window() { return state.window; }
  uint8_t* out_limit() { return state.window + history_size + chunk_size; }

  step fail(inflate_status why, const char* what = "") {
    status = why;
    detail = what;
    return step::failed;
  }
  step corrupt(const char* what) { return fail(inflate_status::corrupt, what); }
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

  // Fills the bit buffer to more than 56 bits one byte at a time, with
  // phantom zeros once the input has ended.
  void refill_slow() {
    while (bit_count <= 56) {
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
    return sink.write(sink.context, out - size, size);
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
      lengths[code_length_order[i]] = static_cast<uint8_t>(bits & 7);
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
      if (entry & invalid_flag) return corrupt("invalid code-length symbol");
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
    const fast_exit exit = run_fast_loop(fast, in_end - in_margin, out_limit(), window(), state.litlen, state.dist);
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
    if (entry & link_flag) {
      drop(entry & drop_mask);
      entry = subtable_entry(state.litlen, entry, bits);
    }
    if (entry & invalid_flag) return overran() ? ran_out() : corrupt("invalid literal/length code");
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
      if (entry & link_flag) {
        drop(entry & drop_mask);
        entry = subtable_entry(state.dist, entry, bits);
      }
      if (entry & invalid_flag) return overran() ? ran_out() : corrupt("invalid distance code");
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
    return {status, detail, flushed_total};
  }
};

}  // namespace

inflate_result inflate_stream(inflater& state, byte_source& source, output_sink sink) {
  decoder d{state, source, sink};
  return d.run();
}

}  // namespace pelk
