// The container writer: header, the engine's deflate stream, CRC trailer.
//
// The header's first eight bytes go straight into the empty output buffer at
// fixed positions; everything after them goes through the byte and bit
// emits. Byte-level emits happen only while the bit accumulator is empty:
// before the engine starts and after its final block has been aligned.
#include "container/container_writer.h"

#include <cerrno>
#include <unistd.h>

#include "container/byte_output.h"
#include "container/container.h"
#include "container/container_format.h"
#include "container/crc32.h"
#include "container/error_report.h"
#include "engine/engine.h"

namespace pelk {

std::string input_name;
int store_name = 0;
int input_fd = -1;
uint32_t input_crc = 0;
uint64_t input_bytes_read = 0;
input_function input_hook = nullptr;

namespace {

int compression_method = 0;

void put_le32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void emit_le32(uint32_t value) {
  emit_word(value & 0xFFFF);
  emit_word(value >> 16);
}

}  // namespace

void set_input_name(const char* path) { input_name = path; }

void set_store_name(int flag) { store_name = flag; }

const char* path_tail(const char* path) {
  const char* tail = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':') tail = p + 1;
  }
  return tail;
}

int read_input_chunk(uint8_t* buffer, uint32_t count) {
  uint32_t stored = 0;
  while (stored < count) {
    ssize_t got = ::read(input_fd, buffer + stored, count - stored);
    if (got < 0) {
      if (errno == EINTR) continue;
      report_read_error();
    }
    if (got == 0) break;
    stored += static_cast<uint32_t>(got);
  }
  if (stored > 0) input_crc = update_checksum(buffer, stored);
  input_bytes_read += stored;
  return static_cast<int>(stored);
}

uint64_t write_container(int source_fd, int target_fd, uint64_t source_size,
                         uint32_t time_stamp) {
  out_buffer[0] = container_magic[0];
  out_buffer[1] = container_magic[1];
  input_fd = source_fd;
  output_fd = target_fd;
  compression_method = method_deflate;
  out_buffer[2] = method_deflate;
  out_buffer[3] = store_name ? flag_name_present : 0;
  put_le32(out_buffer + 4, time_stamp);
  out_count = fixed_header_bytes;
  bytes_flushed = 0;
  input_bytes_read = 0;

  input_crc = update_checksum(nullptr, 0);
  bit_writer_init(target_fd);

  const uint16_t attributes = 0;
  build_code_tables(&attributes, &compression_method);
  // Reads the first window of input (and so advances the CRC) but emits
  // nothing, so the header can still be completed below.
  match_init(compression_level);

  emit_le32(static_cast<uint32_t>(source_size));
  if (store_name) {
    const char* name = path_tail(input_name.c_str());
    do {
      emit_byte(static_cast<uint8_t>(*name));
    } while (*name++ != '\0');
  }

  compress_input();  // ends with the final block aligned to a byte

  emit_le32(input_crc);

  // The source changed size while it was read: the size field takes what
  // was read, so the container stays true to itself. Still in the buffer
  // it is set there; otherwise it is written back where it stands, which a
  // pipe or a device cannot take (the caller reports the change either way).
  const bool size_changed = input_bytes_read != source_size;
  const bool header_written = bytes_flushed > 0;
  if (size_changed && !header_written) put_le32(out_buffer + 8, static_cast<uint32_t>(input_bytes_read));
  flush_output();
  if (size_changed && header_written) {
    uint8_t field[4];
    put_le32(field, static_cast<uint32_t>(input_bytes_read));
    static_cast<void>(::pwrite(target_fd, field, sizeof field, 8));
  }
  return input_bytes_read;
}

}  // namespace pelk
