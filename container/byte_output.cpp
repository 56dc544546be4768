// The output buffer and the byte-level emits.
//
// Everything the target receives passes through one 16 KiB buffer, written
// out whenever it fills: the target sees writes of exactly 16384 bytes, and
// one shorter write at the very end.
#include "container/byte_output.h"

#include <cerrno>
#include <unistd.h>

#include "container/error_report.h"

namespace pelk {

uint8_t out_buffer[out_buffer_size];
uint32_t out_count = 0;
int output_fd = -1;
uint64_t bytes_flushed = 0;

void emit_byte(uint8_t b) {
  out_buffer[out_count++] = b;
  if (out_count == out_buffer_size) flush_output();
}

void emit_word(uint32_t w) {
  // Both bytes go in directly while at least three bytes of room remain, so
  // this path can never fill the buffer; near the end, byte by byte.
  if (out_count < out_buffer_size - 2) {
    out_buffer[out_count] = static_cast<uint8_t>(w);
    out_buffer[out_count + 1] = static_cast<uint8_t>(w >> 8);
    out_count += 2;
  } else {
    emit_byte(static_cast<uint8_t>(w));
    emit_byte(static_cast<uint8_t>(w >> 8));
  }
}

void flush_output() {
  if (out_count == 0) return;
  write_all(output_fd, out_buffer, out_count);
  bytes_flushed += out_count;
  out_count = 0;
}

void write_all(int descriptor, const uint8_t* buffer, uint32_t count) {
  while (count > 0) {
    ssize_t written = ::write(descriptor, buffer, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      report_write_error();
    }
    if (written == 0) {
      // No error, yet no progress: retrying could spin forever.
      errno = EIO;
      report_write_error();
    }
    buffer += written;
    count -= static_cast<uint32_t>(written);
  }
}

}  // namespace pelk
