// SPDX-License-Identifier: MIT
// Parallel compression with exactly the bytes of the sequential compressor.
//
// Worker threads parse segments of the input at once (segment_job.h tells
// how each finds the point where its parse falls into step with the true
// one); the calling thread reads the input, hands out the jobs in order, and
// writes the stream: it replays the true symbols, job after job, through the
// same block state the sequential compressor uses, so every block ends where
// it would have ended and is coded as it would have been coded.
//
// The writer needs two things the symbols do not say outright:
//   - the input a block covers, which the early-end estimate measures: a
//     lazy parse records a symbol at the top after its first byte, so the
//     span is that position + 1 minus the block's start;
//   - whether a block could be stored, which it can only while its first
//     byte is still in the sequential window: the jobs mark every slide of
//     their windows in their symbol streams, and after the point where a
//     job's parse is true its slides are the sequential ones.
#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "common/bulk_memory.h"
#include "engine/block_flush.h"
#include "engine/engine.h"
#include "engine/parallel_jobs.h"

namespace pelk {
namespace {

// How far into its segment a job records its state. Parses fall into step
// within a few dozen bytes, a few thousand at most on real data; one that
// does not meet the next job's within this span goes on in its place.
constexpr uint32_t record_span = 8192;

// Turns the true symbols back into blocks, exactly as the sequential
// compressor's block sink would have.
class stream_writer {
 public:
  stream_writer(block_state& block, bit_writer& out, input_store& store) : block_(block), out_(out), store_(store) {}

  // Replays the chunk's entries from `first` on.
  void replay(const symbol_chunk& chunk, uint32_t first) {
    const uint8_t* bytes = chunk.bytes;
    uint32_t i = 0, at = 0;
    // Entries before `first` are the job's own parse before it met the true
    // one: skipped.
    for (; i < first && i < chunk.entries; ++i) at += chunk.is_match(i) ? 3 : 1;
    for (; i < chunk.entries; ++i) {
      if (block_due_) end_block(false);
      if (!chunk.is_match(i)) {
        block_due_ = record_symbol(block_, 0, bytes[at], covered());
        position_ += 1;
        at += 1;
        continue;
      }
      const uint32_t length_minus_3 = bytes[at];
      const uint32_t distance = chunk.distance_at(at);
      at += 3;
      if (distance == 0) {  // a slide of the window
        base_ += half_window;
        continue;
      }
      const bool end = record_symbol(block_, distance, length_minus_3, covered());
      position_ += length_minus_3 + min_match;
      if (end) end_block(false);
    }
  }

  // Ends the current block: the last one once the input is through, when
  // it also takes a block the last literal would have ended.
  void end_block(bool last) {
    block_due_ = false;
    const uint64_t length = position_ - block_start_;
    const uint8_t* input = nullptr;
    // Storable only while its first byte is in the window, and as one
    // stored block; then the store still holds it (see oldest_needed).
    if (block_start_ >= base_ && length <= 0xFFFF) {
      store_.copy_out(block_start_, scratch_, static_cast<size_t>(length));
      input = scratch_;
    }
    finish_block(block_, out_, input, static_cast<uint32_t>(length), last);
    block_start_ = position_;
  }

  // The lowest input offset a later block may still need.
  uint64_t oldest_needed() const { return std::max(block_start_, base_); }

 private:
  // The symbol about to be recorded starts at position_; the lazy parse
  // records it at the next top.
  uint32_t covered() const { return static_cast<uint32_t>(position_ + 1 - block_start_); }

  block_state& block_;
  bit_writer& out_;
  input_store& store_;
  uint64_t position_ = 0;     // where the next symbol starts
  uint64_t block_start_ = 0;  // where the current block starts
  uint64_t base_ = 0;         // the sequential window's base
  // A literal whose record ended the block ends it only once another entry
  // follows. The sequential parse records its last literal after its last
  // pass, into the last block whatever the block state says, and nothing in
  // a chunk tells that literal from the others; only it can be the input's
  // last symbol, since a literal recorded during a pass is the byte before
  // that pass's position. A match that ends a block ends it at once, as
  // the sequential parse does, even the last: an empty last block follows.
  bool block_due_ = false;
  uint8_t scratch_[0xFFFF];
};

// The segments the input store holds. It reaches from the writer's oldest
// need (a window and a chunk behind the job it replays) past the segments
// of the jobs running beside it, and the records and look-ahead of the
// last. The job the writer waits for needs only the window and chunk
// behind it; the other segments let the jobs beside it read ahead. One more
// segment than this measured no faster, at a segment's memory.
uint32_t store_segments(unsigned threads, uint32_t segment_size) {
  return threads + 1 + (160 * 1024 + segment_size - 1) / segment_size;
}

// The jobs a run holds at once at most: running, queued, or finished and
// waiting for the writer with their chunks (see dispatch).
size_t jobs_held(unsigned threads) { return 2 * (size_t{threads} + 1); }

// The chunks the bulk memory holds: a segment's worth for every job held,
// where every entry is a literal (a chunk holds about 14,500 of them), the
// most symbols a segment can give. The pool allocates more only for a job
// that goes on in the place of others.
size_t bulk_chunks(unsigned threads, uint32_t segment_size) {
  return jobs_held(threads) * (segment_size / (chunk_bytes * 7 / 8) + 1);
}

// What a run takes from the heap as it goes, beyond its bulk memory: the
// records and chunk lists of the jobs it holds, a few chunks past those of
// the bulk, the writer. Every thread started must leave this much address
// space free, and memory running out midway costs the whole run. Twice
// that, and 4 MiB besides: the margin is only looked at, not held, and the
// allocator takes memory from the system in larger pieces than it hands out.
size_t heap_margin(unsigned threads) {
  const size_t job_bytes = size_t{record_span} * sizeof(segment_job::record) + 64 * sizeof(symbol_chunk*) + 1024;
  return 2 * ((jobs_held(threads) + 2) * job_bytes + (size_t{threads} + 1) * 4 * sizeof(symbol_chunk)) + (size_t{4} << 20);
}

void work(parallel_jobs& jobs, match_finder& finder) {
  for (;;) {
    segment_job* job;
    {
      std::unique_lock lock(jobs.mutex);
      jobs.changed.wait(lock, [&] { return jobs.stopping || !jobs.queue.empty(); });
      if (jobs.stopping) return;
      job = jobs.queue.front();
      jobs.queue.pop_front();
      job->running = true;
    }
    bool out_of_memory = false;
    try {
      if (!job->cancelled.load(std::memory_order_relaxed)) run_segment_job(*job, finder, jobs);
    } catch (const std::bad_alloc&) {
      // Its parse stops wherever it was; the writer abandons the stream.
      out_of_memory = true;
    }
    const std::lock_guard lock(jobs.mutex);
    jobs.out_of_memory |= out_of_memory;
    job->running = false;
    job->finished = true;
    jobs.changed.notify_all();
  }
}

// The calling thread's part: reading, handing out jobs in order, and
// replaying the true symbols.
class parallel_run {
 public:
  parallel_run(deflate_compressor& compressor, int level, input_source input, unsigned threads,
               uint32_t segment_size, uint64_t expected_size, uint32_t segments, uint8_t* memory, size_t memory_bytes)
      : input_(input),
        in_flight_(threads + 1),
        jobs_(level, segment_size, std::min<uint32_t>(record_span, segment_size / 2), threads, segments, memory,
              memory_bytes, expected_size),
        writer_(std::make_unique<stream_writer>(compressor.block, compressor.out, jobs_.store)) {}

  // not_started, having read and written nothing, when not one worker
  // thread could be started.
  parallel_outcome run(std::vector<match_finder*>& finders) {
    std::vector<std::thread> workers;
    workers.reserve(finders.size());
    const size_t margin = heap_margin(static_cast<unsigned>(finders.size()));
    for (match_finder* finder : finders) {
      // The system may refuse threads (a limit on processes or address
      // space): those it gave do the work. Any number of workers gives the
      // same bytes. A thread's stack comes out of the address space the
      // run's heap still needs, so one that would leave too little for it
      // is not started at all: once started, its stack stays mapped.
      if (!address_space_available(margin + thread_stack_bytes())) break;
      try {
        workers.emplace_back(work, std::ref(jobs_), std::ref(*finder));
      } catch (const std::system_error&) {
        break;
      } catch (const std::bad_alloc&) {
        break;
      }
    }
    if (workers.empty()) return parallel_outcome::not_started;
    bool out_of_memory = false;
    try {
      while (!done_) {
        bool progressed = read_one();
        dispatch();
        progressed |= replay_fresh();
        progressed |= follow_current();
        release();
        if (!done_ && !progressed) wait();
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
    {
      const std::lock_guard lock(jobs_.mutex);
      out_of_memory |= jobs_.out_of_memory;
    }
    // A stream cut short gets no last block: nothing may pass it off as whole.
    if (!out_of_memory) writer_->end_block(true);
    stop();
    for (std::thread& worker : workers) worker.join();
    return out_of_memory ? parallel_outcome::out_of_memory : parallel_outcome::finished;
  }

 private:
  segment_job* job_locked(uint64_t index) { return jobs_.find_locked(index); }

  // Reads one more segment if there is room, and creates the jobs of the
  // segments the input now reaches.
  bool read_one() {
    if (!jobs_.store.wants_to_read()) return false;
    jobs_.store.read_segment(input_);
    const uint64_t size_read = jobs_.store.size_read();
    const std::lock_guard lock(jobs_.mutex);
    for (; jobs_.segment_start(jobs_.created) < size_read; ++jobs_.created) {
      auto job = std::make_unique<segment_job>();
      job->index = jobs_.created;
      job->start = jobs_.segment_start(jobs_.created);
      job->read_offset = window_base(job->start);
      job->exact = jobs_.created == 0;
      // Here rather than on the job's thread: memory a worker thread
      // allocates stays in that thread's own arena once freed.
      if (jobs_.created != 0) job->records.reserve(jobs_.record_span);
      job->chunks.reserve(64);
      jobs_.table.push_back(std::move(job));
    }
    jobs_.changed.notify_all();
    return true;
  }

  // Queues jobs in order while fewer than the limit are queued or running,
  // and while not too many finished ones wait for the writer with their
  // symbols. Cancelled jobs do not count: a parse that goes on in the place
  // of others still needs the jobs after them.
  void dispatch() {
    const std::lock_guard lock(jobs_.mutex);
    while (dispatched_ < jobs_.created && may_dispatch_locked()) {
      // Every job not yet queued is still in the table: only finished ones
      // are dropped ahead, and release() skips those it passed.
      jobs_.queue.push_back(job_locked(dispatched_++));
      jobs_.changed.notify_all();
    }
  }

  bool may_dispatch_locked() {
    uint64_t unfinished = 0, held = 0;
    for (const auto& job : jobs_.table) {
      if (job->index < jobs_.replaying || job->index >= dispatched_) continue;
      if (job->cancelled.load(std::memory_order_relaxed)) continue;
      ++held;
      unfinished += !job->finished;
    }
    // Where parses keep failing to meet, one job beside the parse that goes
    // on in their place is enough to find where they meet again; more
    // would only take processors from that parse (and the writer) to parse
    // in vain.
    const uint64_t most_unfinished = jobs_.unmet_in_a_row >= 2 ? 2 : in_flight_;
    return unfinished < most_unfinished && held < 2 * in_flight_;
  }

  // Replays the current job's chunks that have come since the last look.
  bool replay_fresh() {
    std::vector<symbol_chunk*> fresh;
    {
      const std::lock_guard lock(jobs_.mutex);
      segment_job* job = job_locked(jobs_.replaying);
      if (job == nullptr) return false;
      for (; next_chunk_ < job->chunks.size(); ++next_chunk_) {
        fresh.push_back(job->chunks[next_chunk_]);
        job->chunks[next_chunk_] = nullptr;
      }
    }
    for (symbol_chunk* chunk : fresh) {
      writer_->replay(*chunk, first_entry_ > entries_seen_ ? first_entry_ - entries_seen_ : 0);
      entries_seen_ += chunk->entries;
      jobs_.pool.give_back(chunk);
    }
    return !fresh.empty();
  }

  // Once the current job has finished and been replayed: the end, or the
  // job whose parse it met, from the entry where they fell into step.
  bool follow_current() {
    const std::lock_guard lock(jobs_.mutex);
    segment_job* job = job_locked(jobs_.replaying);
    if (job == nullptr) {
      // No job at all: the input is empty.
      done_ = jobs_.created == 0 && jobs_.store.ended();
      return done_;
    }
    if (jobs_.out_of_memory) {
      done_ = true;
      return true;
    }
    if (!job->finished || next_chunk_ < job->chunks.size()) return false;
    if (job->reached_end || job->met_job <= jobs_.replaying) {
      // The end of the input; or, for a job stopped without either (the
      // compression is being abandoned), the end of what can be written.
      done_ = true;
      return true;
    }
    for (uint64_t skipped = jobs_.replaying + 1; skipped < job->met_job; ++skipped) {
      if (segment_job* passed = job_locked(skipped)) jobs_.cancel_locked(*passed);
    }
    jobs_.replaying = job->met_job;
    first_entry_ = job->met_entry;
    entries_seen_ = 0;
    next_chunk_ = 0;
    return true;
  }

  // Drops the jobs the writer has passed, and the cancelled ones just ahead
  // of the current job, once no thread is in them; and gives back the
  // input no one needs any more.
  void release() {
    uint64_t oldest = writer_->oldest_needed();
    {
      const std::lock_guard lock(jobs_.mutex);
      while (!jobs_.table.empty() && jobs_.table.front()->index < jobs_.replaying) {
        segment_job& passed = *jobs_.table.front();
        const bool queued = passed.index < dispatched_;
        if (passed.running || (queued && !passed.finished)) break;
        give_back_chunks(passed);
        // One never queued never will be.
        dispatched_ = std::max(dispatched_, passed.index + 1);
        jobs_.table.pop_front();
      }
      // The current job's records have served once every job behind it has
      // gone: the one that met it, and any cancelled one that was still
      // comparing its parse with them when it was cancelled. No job reads
      // the records of one behind it.
      if (!jobs_.table.empty() && jobs_.table.front()->index == jobs_.replaying) {
        std::vector<segment_job::record>& records = jobs_.table.front()->records;
        if (records.capacity() != 0) std::vector<segment_job::record>().swap(records);
        drop_cancelled_ahead();
      }
      for (const auto& live : jobs_.table) {
        if (!live->finished && !live->cancelled.load(std::memory_order_relaxed)) {
          oldest = std::min(oldest, live->read_offset.load(std::memory_order_relaxed));
        }
      }
    }
    jobs_.store.release_below(oldest);
  }

  // Where parses never meet (runs, short periods), the current job goes
  // on in the place of every job after it, cancelling each: kept until
  // the writer passed them, they and their chunks would pile up with the
  // input's length. So cancelled jobs just past the current one go as
  // soon as no thread is in them, in order, stopping at the first that
  // may still be in use. Nothing else can reach them then: no job is
  // behind the current one; those between are gone; and the current job,
  // the only one left that may hold one as the next to meet, holds only
  // a job that was not cancelled when it took it, and once it cancels
  // that job itself it lets go of it without looking at it again (no
  // other thread cancels a job the current one holds). A job it finds
  // cancelled, or gone, it skips under the lock it looked it up with.
  // Lock held, and no job behind the current one.
  void drop_cancelled_ahead() {
    while (jobs_.table.size() > 1) {
      segment_job& job = *jobs_.table[1];
      if (!job.cancelled.load(std::memory_order_relaxed) || job.running || !job.finished) break;
      give_back_chunks(job);
      jobs_.table.erase(jobs_.table.begin() + 1);
    }
  }

  void give_back_chunks(segment_job& job) {
    for (symbol_chunk* chunk : job.chunks) {
      if (chunk != nullptr) jobs_.pool.give_back(chunk);
    }
  }

  // Until the current job has more to replay or has finished, or a job
  // can be queued (a cancelled one frees its place). Room to read only ever
  // comes from release(), on this thread.
  void wait() {
    if (jobs_.store.wants_to_read()) return;
    std::unique_lock lock(jobs_.mutex);
    jobs_.changed.wait(lock, [&] {
      const segment_job* job = job_locked(jobs_.replaying);
      return job == nullptr || job->chunks.size() > next_chunk_ || job->finished || jobs_.out_of_memory ||
             (dispatched_ < jobs_.created && may_dispatch_locked());
    });
  }

  void stop() {
    {
      const std::lock_guard lock(jobs_.mutex);
      jobs_.stopping = true;
      for (const auto& live : jobs_.table) live->cancelled.store(true, std::memory_order_relaxed);
      jobs_.changed.notify_all();
    }
    jobs_.store.abort();
  }

  const input_source input_;
  const uint64_t in_flight_;  // jobs queued or running at once
  parallel_jobs jobs_;
  std::unique_ptr<stream_writer> writer_;
  bool done_ = false;
  uint64_t dispatched_ = 0;   // jobs queued for the workers
  uint32_t first_entry_ = 0;  // its entries before this one are not true
  uint32_t entries_seen_ = 0;
  size_t next_chunk_ = 0;
};

}  // namespace

parallel_outcome deflate_stream_parallel(deflate_compressor& compressor, int level, input_source input,
                                         unsigned threads, uint32_t segment_size, uint64_t expected_size) {
  // Where the memory for so many threads cannot be had, half as many, and
  // so on down to two; then the sequential compressor does the work.
  for (; threads >= 2; threads /= 2) {
    uint32_t size = segment_size;
    // An input of fewer than two segments per thread is cut into about
    // that many: whole segments would leave threads idle while the last
    // ones are parsed.
    if (expected_size != 0) {
      const uint64_t even =
          std::max<uint64_t>(expected_size / (2 * threads) / half_window * half_window, 2 * half_window);
      if (even < size) size = static_cast<uint32_t>(even);
    }
    // Every worker's finder, the input store and the first chunks, in one
    // piece up front, with room left for what the run allocates as it
    // goes. A finder that has never run is all zeros.
    constexpr size_t finder_bytes = (sizeof(match_finder) + 63) / 64 * 64;
    const uint32_t segments = store_segments(threads, size);
    const bulk_memory memory(threads * finder_bytes + size_t{segments} * size +
                             bulk_chunks(threads, size) * sizeof(symbol_chunk));
    if (memory.data() == nullptr || !address_space_available(heap_margin(threads))) continue;
    // The chunks past the store's last huge page stay in small pages: a run
    // uses a few of them, and a huge page each would cost it megabytes.
    const size_t store_end = threads * finder_bytes + size_t{segments} * size;
    const size_t small_from = (store_end + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
    if (small_from < memory.size()) decline_huge_pages(memory.data() + small_from, memory.size() - small_from);
    try {
      std::vector<match_finder*> finders;
      for (unsigned t = 0; t < threads; ++t) {
        finders.push_back(reinterpret_cast<match_finder*>(memory.data() + t * finder_bytes));
      }
      start_blocks(compressor.block, ends_blocks_early(level));
      return parallel_run(compressor, level, input, threads, size, expected_size, segments,
                          memory.data() + threads * finder_bytes, memory.size() - threads * finder_bytes)
          .run(finders);
    } catch (const std::bad_alloc&) {
      // Only the setting up lets one out of run(), before anything is read:
      // fewer threads may still fit.
    }
  }
  return parallel_outcome::not_started;
}

}  // namespace pelk
