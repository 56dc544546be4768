// The bit writer: deflate's bit stream on top of the output buffer.
//
// Deflate packs bits least significant first. Pending bits gather in a
// 16-bit accumulator, the earliest in bit 0, and leave it two bytes at a
// time, low byte first:
//
//     accumulator  [ ........ ...ccbbb ]   bit_count = 5: field bbb went
//                                           first, then cc
//
// A field that does not fit completes the accumulator, which goes out as one
// word, and its remaining high bits start the next one. The bits above the
// pending ones are always zero, so aligning fills with zero bits for free.
#include <cstdint>

#include "container/byte_output.h"
#include "container/container.h"
#include "container/container_writer.h"

namespace pelk {
namespace {

uint32_t bit_accumulator = 0;  // 16 significant bits
int bit_count = 0;             // pending bits, 0..16

}  // namespace

void bit_writer_init(int descriptor) {
  bit_accumulator = 0;
  bit_count = 0;
  if (descriptor != -1) input_hook = read_input_chunk;
}

void emit_bits(uint32_t value, int length) {
  // Strictly greater: a field that fills the accumulator to exactly 16
  // bits stays pending until the next field or alignment.
  if (bit_count > 16 - length) {
    bit_accumulator = (bit_accumulator | (value << bit_count)) & 0xFFFF;
    emit_word(bit_accumulator);
    bit_accumulator = (value >> (16 - bit_count)) & 0xFFFF;
    bit_count += length - 16;
  } else {
    bit_accumulator |= value << bit_count;
    bit_count += length;
  }
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
  if (bit_count > 8) {
    emit_word(bit_accumulator);
  } else if (bit_count > 0) {
    emit_byte(static_cast<uint8_t>(bit_accumulator));
  }
  bit_accumulator = 0;
  bit_count = 0;
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
