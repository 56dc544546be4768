// SPDX-License-Identifier: MIT
// What the threads of one parallel compression share: the input, the chunk
// pool, the jobs by segment number, and the one lock and condition that
// guard the jobs' hand-offs.
//
// The calling thread reads the input, creates a job for every segment the
// input reaches and queues them in order for the worker threads, and writes
// the stream from the true jobs' symbols. Workers take queued jobs and run
// them. Every change a waiter may care about (a job created, records ready,
// a chunk or a job finished, a job made exact or cancelled, the end)
// notifies `changed`.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "engine/format.h"
#include "engine/input_store.h"
#include "engine/segment_job.h"
#include "engine/symbol_chunks.h"

namespace pelk {

class parallel_jobs {
 public:
  // `memory` holds memory_bytes: max_segments segments for the input store,
  // and what is left for the first chunks. expected_size is the input's
  // size as far as known (0: unknown); it only shapes the segments.
  parallel_jobs(int level_, uint32_t segment_size_, uint32_t record_span_, unsigned threads_, uint32_t max_segments,
                uint8_t* memory, size_t memory_bytes, uint64_t expected_size)
      : level(level_),
        segment_size(segment_size_),
        record_span(record_span_),
        threads(threads_),
        store(segment_size_, max_segments, memory),
        pool(memory + size_t{max_segments} * segment_size_, memory_bytes - size_t{max_segments} * segment_size_),
        tail_size_(std::max(segment_size_ / 4 / half_window * half_window, half_window)),
        tail_first_(first_tail_segment(expected_size)) {}

  // Where segment `index` starts. The first `threads` segments grow from
  // 1/threads of a segment to a whole one, so that the first jobs, which
  // all start at once, end one after another, and every job that ends finds
  // the job after it long started: had they all been whole, each wave of
  // jobs would end together, and the last of it would wait for the records
  // of a job only just begun. The segments in the last `threads` whole
  // segments' worth of the expected input are a quarter of one, so that the
  // threads run out of work within a short job of each other rather than
  // one parsing a whole segment alone at the end. Every start is a multiple
  // of 32 KiB.
  uint64_t segment_start(uint64_t index) const {
    if (index > tail_first_) return head_start(tail_first_) + (index - tail_first_) * tail_size_;
    return head_start(index);
  }

  const int level;
  const uint32_t segment_size;
  const uint32_t record_span;  // bytes over which each job records its state
  const unsigned threads;
  input_store store;
  chunk_pool pool;

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;       // under mutex
  bool out_of_memory = false;  // a worker ran out; under mutex

  // Jobs in segment order; under mutex. A job stays from its creation
  // until the writer has passed it and no thread is in it; a cancelled job
  // just past the one being replayed may go sooner (see the writer's
  // release), leaving a gap in the numbers.
  std::deque<std::unique_ptr<segment_job>> table;
  uint64_t created = 0;  // jobs created, one per segment the input reaches; under mutex
  std::deque<segment_job*> queue;  // waiting for a worker
  // Jobs in a row whose parses the one before went past without meeting;
  // under mutex. Where that happens (runs, short periods), parses tend
  // never to meet, and the jobs ahead are parsed in vain.
  unsigned unmet_in_a_row = 0;
  // The job whose symbols the writer replays; under mutex. Only its chunks
  // are worth waking the writer for.
  uint64_t replaying = 0;

  // The job for segment `index`, or null when it is not in the table (not
  // created yet, or already dropped: a dropped job had been cancelled or
  // passed). Call with the lock held.
  segment_job* find_locked(uint64_t index) {
    const auto at = std::lower_bound(table.begin(), table.end(), index,
                                     [](const std::unique_ptr<segment_job>& job, uint64_t i) { return job->index < i; });
    return at != table.end() && (*at)->index == index ? at->get() : nullptr;
  }

  // Waits until the job for segment `index` has been created; false once
  // stopping. Call with the lock held.
  bool wait_for_job_locked(std::unique_lock<std::mutex>& lock, uint64_t index) {
    changed.wait(lock, [&] { return stopping || index < created; });
    return !stopping;
  }

 private:
  uint64_t staggered_size(uint64_t k) const {
    const uint64_t size = uint64_t{segment_size} * (k + 1) / threads / half_window * half_window;
    return size > half_window ? size : half_window;
  }

  // Where segment `index` starts when none is a tail segment.
  uint64_t head_start(uint64_t index) const {
    uint64_t start = 0;
    const uint64_t staggered = index < threads ? index : threads;
    for (uint64_t k = 0; k < staggered; ++k) start += staggered_size(k);
    return start + (index - staggered) * segment_size;
  }

  // The first segment the tail's shorter ones follow: the first after the
  // staggered ones that starts within `threads` segments of the end.
  uint64_t first_tail_segment(uint64_t expected_size) const {
    if (expected_size == 0) return UINT64_MAX;
    const uint64_t tail = uint64_t{threads} * segment_size;
    const uint64_t after_stagger = head_start(threads);
    if (expected_size <= after_stagger + tail) return threads;
    return threads + (expected_size - tail - after_stagger + segment_size - 1) / segment_size;
  }

  const uint32_t tail_size_;
  const uint64_t tail_first_;

 public:
  // Cancels a job and wakes it wherever it waits. Call with the lock held.
  void cancel_locked(segment_job& job) {
    job.cancelled.store(true, std::memory_order_relaxed);
    changed.notify_all();
    store.wake_all();
  }
};

}  // namespace pelk
