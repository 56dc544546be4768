// SPDX-License-Identifier: MIT
// The bit writer and its output buffer: see bit_writer.h.
#include "engine/bit_writer.h"

#include <cstring>

namespace pelk {

void start_output(bit_writer& out, byte_sink sink) {
  out.accumulator = 0;
  out.bit_count = 0;
  out.count = 0;
  out.bytes_flushed = 0;
  out.error = 0;
  out.sink = sink;
}

void flush_output(bit_writer& out) {
  if (out.count == 0) return;
  if (out.error == 0) out.error = out.sink.write(out.sink.context, out.buffer, out.count);
  out.bytes_flushed += out.count;
  out.count = 0;
}

void pass_full_buffer(bit_writer& out) {
  const uint32_t past = out.count - out_buffer_size;
  out.count = out_buffer_size;
  flush_output(out);
  std::memmove(out.buffer, out.buffer + out_buffer_size, past);
  out.count = past;
}

void emit_byte(bit_writer& out, uint8_t b) {
  out.buffer[out.count++] = b;
  if (out.count == out_buffer_size) flush_output(out);
}

void emit_word(bit_writer& out, uint32_t w) {
  // Both bytes go in directly while at least three bytes of room remain, so
  // this path can never fill the buffer; near the end, byte by byte.
  if (out.count < out_buffer_size - 2) {
    out.buffer[out.count] = static_cast<uint8_t>(w);
    out.buffer[out.count + 1] = static_cast<uint8_t>(w >> 8);
    out.count += 2;
  } else {
    emit_byte(out, static_cast<uint8_t>(w));
    emit_byte(out, static_cast<uint8_t>(w >> 8));
  }
}

void emit_le32(bit_writer& out, uint32_t value) {
  emit_word(out, value & 0xFFFF);
  emit_word(out, value >> 16);
}

void spill(bit_writer& out) {
  // Straight into the buffer when that cannot fill it; near its end byte by
  // byte, so it is handed on exactly when it holds 16384 bytes.
  if (out.count + 4 < out_buffer_size) {
    for (int i = 0; i < 4; ++i) out.buffer[out.count + i] = static_cast<uint8_t>(out.accumulator >> (8 * i));
    out.count += 4;
  } else {
    for (int i = 0; i < 4; ++i) emit_byte(out, static_cast<uint8_t>(out.accumulator >> (8 * i)));
  }
  out.accumulator >>= 32;
  out.bit_count -= 32;
}

void align_to_byte(bit_writer& out) {
  for (; out.bit_count > 0; out.bit_count -= 8) {
    emit_byte(out, static_cast<uint8_t>(out.accumulator));
    out.accumulator >>= 8;
  }
  out.accumulator = 0;
  out.bit_count = 0;
}

void emit_stored(bit_writer& out, const uint8_t* bytes, uint32_t length, bool with_header) {
  align_to_byte(out);
  if (with_header) {
    emit_word(out, length & 0xFFFF);
    emit_word(out, ~length & 0xFFFF);
  }
  // In pieces that fill the buffer exactly, so it is handed on at 16384.
  while (length > 0) {
    const uint32_t piece = length < out_buffer_size - out.count ? length : out_buffer_size - out.count;
    std::memcpy(out.buffer + out.count, bytes, piece);
    out.count += piece;
    bytes += piece;
    length -= piece;
    if (out.count == out_buffer_size) flush_output(out);
  }
}

}  // namespace pelk
