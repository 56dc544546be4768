// SPDX-License-Identifier: MIT
// One job of a parallel compression: the lazy parse of one segment of the
// input, and what it tells the others.
//
// A job starts at its segment's start P with a fresh parser, over a match
// finder set up exactly as the sequential one stands at P: the window and
// chains hold the 32 KiB before P (segments start at multiples of 32 KiB, so
// the sequential window's base there is P - 32 KiB). Its parse soon falls
// into step with the true one: once both stand at the top of a pass at the
// same position in the same state, they go on identically. So:
//   - every job records its state at each top over its first
//     `record_span` bytes;
//   - a job that reaches the next segment's start compares its state at
//     each top with the next job's record there, and stops at the first
//     match: from that top on, the next job's symbols are the true ones;
//   - if it passes the records without a match, the next job's parse is of
//     no use: this job cancels it and goes on in its place, to meet the one
//     after.
// A parse that never falls into step (runs, short periods) is thus simply
// continued by the job before it: slower, never wrong.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/match_finder.h"
#include "engine/symbol_chunks.h"

namespace pelk {

class parallel_jobs;

// The base of a job's window: the sequential window's base at the start of
// its segment, which starts at a multiple of 32 KiB.
inline uint64_t window_base(uint64_t segment_start) {
  return segment_start >= half_window ? segment_start - half_window : 0;
}

struct segment_job {
  uint64_t index = 0;   // segment number
  uint64_t start = 0;   // first position of the segment

  // Set by other threads; read by the job's parse at every top.
  std::atomic<bool> cancelled{false};
  // The lowest input offset the job may still read, so the store keeps it.
  std::atomic<uint64_t> read_offset{0};

  // The rest is guarded by the jobs' mutex, except `records`, which only the
  // job writes, and only before records_ready is set. Jobs behind it read
  // them, a cancelled one possibly until it notices, so the writer frees
  // them only once no job behind this one is left.

  // The state at each top over the first record_span bytes, in order.
  struct record {
    uint32_t offset;   // of the top from the segment's start
    uint32_t state;    // the lazy loop's state there, packed
    uint32_t entries;  // entries of the job's stream before it
  };
  std::vector<record> records;
  uint32_t records_extent = 0;  // positions covered
  bool records_ready = false;

  // Known to be the true parse from some entry on: the first job, or one
  // that an earlier true parse has met.
  bool exact = false;
  bool running = false;  // a thread is in it

  std::vector<symbol_chunk*> chunks;  // complete chunks, in order
  bool finished = false;
  bool reached_end = false;  // the parse ran to the end of the input
  uint64_t met_job = 0;      // else: the job whose parse it met
  uint32_t met_entry = 0;    // the entry from which that job's symbols are true
};

// Runs one job to its end on the calling thread, with the finder it owns.
void run_segment_job(segment_job& job, match_finder& finder, parallel_jobs& jobs);

}  // namespace pelk
