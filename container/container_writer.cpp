// SPDX-License-Identifier: MIT
// The container writer: header, the engine's deflate stream, CRC trailer.
//
// Everything goes through the engine's output buffer: the header before the
// engine starts and the trailer after its final block has been aligned, so
// byte-level emits happen only while no bits are pending.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "container/container.h"
#include "container/container_format.h"
#include "common/byte_order.h"
#include "common/crc32.h"

namespace pelk {
namespace {

// The engine's view of the source: whole reads, counted and checksummed.
// Once the output has failed nothing more is read, so a failed run ends
// within a window's worth of work.
struct counted_input {
  input_source source;
  const int* output_error;
  progress_function progress;
  void* progress_context;
  uint64_t bytes_read = 0;
  uint32_t crc = 0;
  int read_error = 0;
};

ptrdiff_t read_counted(void* context, uint8_t* buffer, size_t capacity) {
  counted_input& input = *static_cast<counted_input*>(context);
  size_t stored = 0;
  while (stored < capacity && input.read_error == 0 && *input.output_error == 0) {
    errno = 0;
    const ptrdiff_t got = input.source.read(input.source.context, buffer + stored, capacity - stored);
    if (got < 0) input.read_error = errno != 0 ? errno : EIO;
    if (got <= 0) break;
    stored += static_cast<size_t>(got);
  }
  input.crc = crc32_extend(input.crc, buffer, stored);
  input.bytes_read += stored;
  if (input.progress != nullptr) input.progress(input.progress_context, input.bytes_read);
  return static_cast<ptrdiff_t>(stored);
}

}  // namespace

const char* path_tail(const char* path) {
  const char* tail = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':') tail = p + 1;
  }
  return tail;
}

unsigned compression_threads(const container_settings& settings) {
  if (!parses_lazily(settings.level)) return 1;
  const uint64_t segments = (settings.source_size + settings.segment_size - 1) / settings.segment_size;
  return static_cast<unsigned>(std::min<uint64_t>({settings.threads, max_threads, segments}));
}

namespace {

container_result write_once(deflate_compressor& compressor, input_source source, container_output output,
                            const container_settings& settings, unsigned threads) {
  bit_writer& out = compressor.out;
  start_output(out, output.sink);
  emit_byte(out, container_magic[0]);
  emit_byte(out, container_magic[1]);
  emit_byte(out, method_deflate);
  emit_byte(out, settings.stored_name != nullptr ? flag_name_present : 0);
  emit_le32(out, settings.stamp);
  emit_le32(out, static_cast<uint32_t>(settings.source_size));
  if (settings.stored_name != nullptr) {
    const char* name = settings.stored_name;
    do {
      emit_byte(out, static_cast<uint8_t>(*name));
    } while (*name++ != '\0');
  }

  counted_input input{source, &out.error, settings.progress, settings.progress_context};
  const input_source engine_input{read_counted, &input};
  const parallel_outcome outcome =
      threads < 2 ? parallel_outcome::not_started
                  : deflate_stream_parallel(compressor, settings.level, engine_input, threads,
                                            settings.segment_size, settings.source_size);
  if (outcome == parallel_outcome::not_started) deflate_stream(compressor, settings.level, engine_input);
  emit_le32(out, input.crc);

  // The source changed size while it was read: the size field takes what
  // was read, so the container stays true to itself. Still in the buffer it
  // is set there; otherwise it is written back where it stands, which a
  // pipe or a device cannot take (no overwrite). An output that can take
  // it back and then fails to is a failed output like any other: the
  // container it holds would claim a size it does not have.
  container_result result{input.bytes_read, input.read_error, 0, outcome == parallel_outcome::out_of_memory, true};
  const bool size_changed = input.bytes_read != settings.source_size;
  const bool header_written = out.bytes_flushed > 0;
  uint8_t field[4];
  store_le32(field, static_cast<uint32_t>(input.bytes_read));
  if (size_changed && !header_written) std::memcpy(out.buffer + fixed_header_bytes, field, sizeof field);
  flush_output(out);
  result.write_error = out.error;
  if (size_changed && header_written) {
    result.size_field_true = false;
    if (output.overwrite != nullptr && result.write_error == 0) {
      result.write_error = output.overwrite(output.sink.context, fixed_header_bytes, field, sizeof field);
      result.size_field_true = result.write_error == 0;
    }
  }
  return result;
}

}  // namespace

container_result write_container(deflate_compressor& compressor, input_source source, container_output output,
                                 const container_settings& settings, restart_function restart) {
  const container_result result = write_once(compressor, source, output, settings, compression_threads(settings));
  // What ran out is the threads' working memory; one thread needs none of
  // it, and gives the same bytes.
  if (result.out_of_memory && restart.function != nullptr && restart.function(restart.context) == 0) {
    return write_once(compressor, source, output, settings, 1);
  }
  return result;
}

}  // namespace pelk
