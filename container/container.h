// SPDX-License-Identifier: MIT
// The container: a header, the engine's raw deflate stream and a CRC-32
// trailer, written in one pass (layout: container_format.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/stream_io.h"
#include "engine/engine.h"

namespace pelk {

// Told the number of source bytes read so far, after every read (a window
// refill, or a segment on several threads, so it costs nothing); a
// program's progress display.
using progress_function = void (*)(void* context, uint64_t bytes_read);

// More compression threads than this are never started, whatever is asked:
// each costs a few MiB, and no machine gains from more.
inline constexpr unsigned max_threads = 256;

struct container_settings {
  uint64_t source_size;     // the header keeps the low 32 bits
  const char* stored_name;  // null: the header stores no name
  uint32_t stamp;
  int level = default_level;
  // Compression threads: no more are used than max_threads or than the
  // source_size has segments, and a source of one segment is compressed
  // sequentially. The container is the same for every count.
  unsigned threads = 1;
  uint32_t segment_size = default_segment_size;
  progress_function progress = nullptr;  // null: nobody is told
  void* progress_context = nullptr;
};

// Where a container goes: a sink, and, where the output can take bytes
// back (a seekable file, memory), a way to overwrite bytes already written
// at an offset from the container's start; null where it cannot.
struct container_output {
  byte_sink sink;
  int (*overwrite)(void* context, uint64_t offset, const uint8_t* data, size_t size);
};

struct container_result {
  uint64_t bytes_read;  // source bytes compressed
  int read_error;       // nonzero: a read failed with this error; the container covers the bytes before it
  // nonzero: the output failed with this error, in a write or in taking
  // back the size field; what it holds is incomplete or wrong
  int write_error;
  // Memory ran out midway through a parallel compression: the container is
  // incomplete.
  bool out_of_memory;
  // bytes_read differs from the settings' source_size, and the size field,
  // which holds what was read wherever the output could take it back, may
  // not; the container is then consistent only when this is true.
  bool size_field_true;
};

// The threads write_container compresses on; below 2, it compresses
// sequentially, with the compressor's own match finder.
unsigned compression_threads(const container_settings& settings);

// A way to begin a container again: puts the source back at its start and
// empties the output, returning 0, or an error where either cannot be
// done (a pipe, a device, a caller's stream).
struct restart_function {
  int (*function)(void* context) = nullptr;  // null: never possible
  void* context = nullptr;
};

// Writes one whole container, compressing everything source yields. The
// source is read until it ends or fails, in reads that fill the room the
// engine asks for unless the input ends, so the output never depends on
// how the source splits its reads. Where memory runs out midway through a
// compression on several threads and `restart` succeeds, the container is
// written again from the start on one thread, the same bytes; only when it
// cannot be is out_of_memory reported.
container_result write_container(deflate_compressor& compressor, input_source source, container_output output,
                                 const container_settings& settings, restart_function restart = {});

// The start of the last component of path: what follows its last slash,
// backslash or colon, or the whole path when it has none.
const char* path_tail(const char* path);

}  // namespace pelk
