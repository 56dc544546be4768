// SPDX-License-Identifier: MIT
// The deflate engine as the rest of Pelk sees it: one object holding all of
// a compression's state, and the call that runs a whole stream through it.
//
// The object is large (about 1.1 MiB, nearly all of it the window and its
// hash chains) and needs no construction: a zero-filled one, static or
// allocated, is ready, and every compression puts it back into that state
// where it matters, so each stream comes out as it would from a fresh
// process whatever the object compressed before. One object serves one
// compression at a time; any number of objects may run side by side on
// different threads.
#pragma once

#include <cstdint>

#include "common/stream_io.h"
#include "engine/bit_writer.h"
#include "engine/block_state.h"
#include "engine/match_finder.h"

namespace pelk {

// The level the program compresses at.
inline constexpr int default_level = 6;

// Levels 1-3 parse greedily, 4-9 lazily; only a lazy parse runs on several
// threads.
inline constexpr bool parses_lazily(int level) { return level >= 4; }

// The two fastest levels never end a block early.
inline constexpr bool ends_blocks_early(int level) { return level > 2; }

struct deflate_compressor {
  match_finder finder;
  block_state block;
  bit_writer out;
};

// Compresses everything input yields into a complete raw deflate stream,
// appended to what compressor.out already holds, and leaves it aligned to a
// byte (not flushed). The level must be valid. Input ends at the first read
// that returns 0 or less.
void deflate_stream(deflate_compressor& compressor, int level, input_source input);

// The input segment each thread of a parallel compression parses at a time.
inline constexpr uint32_t default_segment_size = 512 * 1024;

// The same stream, byte for byte, from `threads` worker threads each
// parsing a segment at a time (a multiple of 32 KiB, at least 64 KiB),
// while the calling thread reads the input and writes the stream through
// compressor.out; compressor.finder stays untouched. Levels 4-9 only.
// expected_size, the input's size where known (0: unknown), shapes the
// segments (shorter ones for a small input, and near its end) and nothing
// else.
enum class parallel_outcome {
  finished,
  // Nothing read or written: the memory of a run on two threads or more,
  // or every one of their threads, could not be had (a run takes fewer
  // threads than asked where the memory of more is missing). The caller
  // compresses sequentially instead.
  not_started,
  // Memory ran out midway (a symbol chunk, a job): the stream is cut
  // short, without a last block, and must be reported as a failure.
  out_of_memory,
};
parallel_outcome deflate_stream_parallel(deflate_compressor& compressor, int level, input_source input,
                                         unsigned threads, uint32_t segment_size = default_segment_size,
                                         uint64_t expected_size = 0);

}  // namespace pelk
