// SPDX-License-Identifier: MIT
// The hot loop of the inflater; see fast_loop.h for its contract.
//
// Each step refills the 64-bit bit buffer without a branch (one unaligned
// 8-byte load tops it up to 56-63 bits) and then decodes up to three
// literals, or a length and a distance and copies the match. 56 bits cover
// two literals and a length code with its extra bits (42), and after a
// second refill a distance code with its extra bits (28).
//
// The loop exists twice: portable, and compiled for BMI2, whose shifts take
// their count from any register and whose bzhi cuts low bits in one
// instruction. That saves about a sixth of the instructions per byte; on
// the AMD processor it was measured on, which runs the extra instructions
// side by side, it is only 3-5% faster, but on processors where a shift by
// a register costs several micro-operations it saves more. Each inflater
// chooses when it is made (choose_fast_loop), by asking the processor.
#include "inflate/fast_loop.h"

#include "inflate/inflate_inline.h"

namespace pelk {
namespace {

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

#if PELK_X86_BMI2
[[gnu::target("bmi2")]] fast_exit fast_loop_bmi2(fast_state& state, const uint8_t* in_limit,
                                                 uint8_t* out_limit, const uint8_t* out_start,
                                                 const uint32_t* litlen, const uint32_t* dist) {
  return fast_loop_body<true>(state, in_limit, out_limit, out_start, litlen, dist);
}
#endif

}  // namespace

fast_loop_function choose_fast_loop(bool portable) {
#if PELK_X86_BMI2
  if (!portable && __builtin_cpu_supports("bmi2")) return fast_loop_bmi2;
#endif
  (void)portable;
  return fast_loop_plain;
}

}  // namespace pelk
