// SPDX-License-Identifier: MIT
// The deflate bit stream and the 16 KiB output buffer it fills.
//
// Deflate packs bits least significant first. Pending bits gather in a
// 64-bit accumulator, the earliest in bit 0, and leave it four bytes at a
// time, low byte first:
//
//     accumulator  [ ... 0000 0000 ...ccbbb ]   bit_count = 5: field bbb
//                                               went first, then cc
//
// A field of up to 32 bits always fits behind fewer than 32 pending bits, so
// emitting is an OR, an add and, once 32 bits are pending, a spill. The bits
// above the pending ones are always zero, so aligning fills with zero bits
// for free. A block's symbols, nearly all the bits, take a faster way
// (gathered_bits): whole bytes leave after every symbol, without a test.
//
// Everything the output receives passes through one 16 KiB buffer, handed
// to the sink whenever it fills: the sink sees pieces of exactly 16384
// bytes, and one shorter piece at the very end. A failed write is kept, not
// acted on: later output is dropped, and whoever runs the compression reads
// the error once the stream is done.
#pragma once

#include <cstdint>

#include "common/byte_order.h"
#include "common/stream_io.h"

namespace pelk {

inline constexpr uint32_t out_buffer_size = 16384;

struct bit_writer {
  uint64_t accumulator;    // pending bits, the earliest in bit 0
  int bit_count;           // pending bits: 0..31 between calls
  uint32_t count;          // bytes waiting in buffer; below its size between calls
  uint64_t bytes_flushed;  // bytes handed to the sink so far
  int error;               // 0, or the sink's error number; output is then dropped
  byte_sink sink;
  // A word of room past the buffer's size, for gathered_bits' stores.
  uint8_t buffer[out_buffer_size + 8];
};

// Empties the writer and points it at sink.
void start_output(bit_writer& out, byte_sink sink);

// Hands the waiting bytes to the sink.
void flush_output(bit_writer& out);

// Sends the low 32 pending bits to the buffer.
void spill(bit_writer& out);

// Appends the low `length` bits of value (1..32 bits), least significant
// bit first. The value must fit in `length` bits.
inline void emit_bits(bit_writer& out, uint32_t value, int length) {
  out.accumulator |= uint64_t{value} << out.bit_count;
  out.bit_count += length;
  if (out.bit_count >= 32) spill(out);
}

// Hands the sink the buffer's first out_buffer_size bytes, which are
// waiting, and moves what lies past them to its start.
void pass_full_buffer(bit_writer& out);

// The bits of a block's symbols, gathered in registers. A symbol's fields
// (at most 48 bits) go in behind fewer than eight pending bits; after each
// symbol its whole bytes leave in one unaligned eight-byte store, however
// many there are, and the pending bits drop by as many bytes, so no test of
// the count decides anything but when the buffer is full. The writer's
// state is copied in and back, because a store into its buffer could, as
// far as the compiler knows, change that state, which it would then reload
// after every store.
class gathered_bits {
 public:
  explicit gathered_bits(bit_writer& out)
      : out_(out), pending_(out.accumulator), pending_count_(out.bit_count), count_(out.count) {
    send_whole_bytes();
  }
  gathered_bits(const gathered_bits&) = delete;
  gathered_bits& operator=(const gathered_bits&) = delete;

  // Appends the low `length` bits of field, which fit with the pending
  // ones in 64.
  void add(uint64_t field, int length) {
    pending_ |= field << pending_count_;
    pending_count_ += length;
  }

  void send_whole_bytes() {
    store_le64(out_.buffer + count_, pending_);
    const int bytes = pending_count_ >> 3;
    count_ += static_cast<uint32_t>(bytes);
    pending_ >>= 8 * bytes;
    pending_count_ &= 7;
    if (count_ >= out_buffer_size) {
      out_.count = count_;
      pass_full_buffer(out_);
      count_ = out_.count;
    }
  }

  // Sends the whole bytes, and leaves the pending bits (fewer than eight)
  // with the writer again.
  void finish() {
    send_whole_bytes();
    out_.accumulator = pending_;
    out_.bit_count = pending_count_;
    out_.count = count_;
  }

 private:
  bit_writer& out_;
  uint64_t pending_;
  int pending_count_;
  uint32_t count_;
};

// Byte-level output; only while no bits are pending.
void emit_byte(bit_writer& out, uint8_t b);
void emit_word(bit_writer& out, uint32_t w);  // low 16 bits, low byte first
void emit_le32(bit_writer& out, uint32_t value);

// The low `length` bits of code in reverse order (length >= 1). Huffman
// codes are stored reversed so that emit_bits sends them most significant
// bit first, as deflate requires.
constexpr uint32_t reverse_bits(uint32_t code, int length) {
  uint32_t result = 0;
  do {
    result = (result << 1) | (code & 1);
    code >>= 1;
  } while (--length > 0);
  return result;
}

// Completes the last partial byte with zero bits.
void align_to_byte(bit_writer& out);

// Aligns to a byte, optionally writes the LEN/NLEN pair of a stored block,
// then copies the bytes unchanged.
void emit_stored(bit_writer& out, const uint8_t* bytes, uint32_t length, bool with_header);

}  // namespace pelk
