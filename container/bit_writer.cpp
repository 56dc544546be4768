// The bit writer: deflate's bit stream on top of the output buffer.
//
// Deflate packs bits least significant first. Pending bits gather in a
// 64-bit accumulator, the earliest in bit 0, and leave it four bytes at a
// time, low byte first:
//
//     accumulator  [ ... 0000 0000 ...ccbbb ]   count = 5: field bbb went
//                                                first, then cc
//
// A field of up to 32 bits always fits behind fewer than 32 pending bits,
// so emitting is an OR, an add and, once 32 bits are pending, a spill. The
// bits above the pending ones are always zero, so aligning fills with zero
// bits for free. The bytes reach the output buffer later than with a narrower
// accumulator, but in the same order, so the stream is the same.
#include <cstdint>

#include "container/byte_output.h"
#include "container/container.h"
#include "container/container_writer.h"

namespace pelk {

namespace pending_bits {

uint64_t accumulator = 0;
int count = 0;

void spill() {
  // Straight into the buffer when that cannot fill it; near its end byte by
  // byte, so it is written out exactly when it holds 16384 bytes.
  if (out_count + 4 < out_buffer_size) {
    for (int i = 0; i < 4; ++i) out_buffer[out_count + i] = static_cast<uint8_t>(accumulator >> (8 * i));
    out_count += 4;
  } else {
    for (int i = 0; i < 4; ++i) emit_byte(static_cast<uint8_t>(accumulator >> (8 * i)));
  }
  accumulator >>= 32;
  count -= 32;
}

}  // namespace pending_bits

void bit_writer_init(int descriptor) {
  pending_bits::accumulator = 0;
  pending_bits::count = 0;
  if (descriptor != -1) input_hook = read_input_chunk;
}

uint32_t reverse_bits(uint32_t code, int length) {
  uint32_t result = 0;
  do {
    result = (result << 1) | (code & 1);
    code >>= 1;
  } while (--length > 0);
  return result;
}

void align_to_byte() {
  for (; pending_bits::count > 0; pending_bits::count -= 8) {
    emit_byte(static_cast<uint8_t>(pending_bits::accumulator));
    pending_bits::accumulator >>= 8;
  }
  pending_bits::accumulator = 0;
  pending_bits::count = 0;
}

void emit_stored(const uint8_t* buffer, uint32_t length, bool with_header) {
  align_to_byte();
  if (with_header) {
    emit_word(length & 0xFFFF);
    emit_word(~length & 0xFFFF);
  }
  for (uint32_t i = 0; i < length; ++i) emit_byte(buffer[i]);
}

}  // namespace pelk
