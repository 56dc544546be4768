// SPDX-License-Identifier: MIT
// One job of a parallel compression: see segment_job.h.
#include "engine/segment_job.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/parallel_jobs.h"
#include "engine/parse.h"

namespace pelk {
namespace {

// The job's input: the shared store, read forward from the window's base.
// A cancelled job reads -1, which the finder takes for the end of input.
struct store_reader {
  parallel_jobs& jobs;
  segment_job& job;
  uint64_t offset;
};

ptrdiff_t read_from_store(void* context, uint8_t* buffer, size_t capacity) {
  store_reader& reader = *static_cast<store_reader*>(context);
  const ptrdiff_t got = reader.jobs.store.read_at(reader.offset, buffer, capacity, reader.job.cancelled);
  if (got > 0) {
    reader.offset += static_cast<uint64_t>(got);
    reader.job.read_offset.store(reader.offset, std::memory_order_relaxed);
  }
  return got;
}

constexpr uint64_t chunk_input_span = window_capacity;

// The state at a top as the records keep it: 26 bits.
uint32_t packed(const lazy_state& state) {
  return uint32_t{state.literal_pending} | state.found_len << 1 | state.distance << 10;
}

// Marks a job that an exact parse has met as exact, and so on down the
// line of jobs that had already met their successors. Lock held.
void make_exact_locked(parallel_jobs& jobs, segment_job* job) {
  while (job != nullptr && !job->exact) {
    job->exact = true;
    jobs.changed.notify_all();
    if (!job->finished || job->reached_end || job->cancelled.load(std::memory_order_relaxed)) break;
    job = jobs.find_locked(job->met_job);
  }
}

// Receives the job's parse: symbols and slides into chunks, its state at
// each top into the records, and the search for the meeting with the next
// job's parse.
class job_sink {
 public:
  job_sink(segment_job& job, parallel_jobs& jobs, uint64_t window_base)
      : job_(job), jobs_(jobs), base_(window_base), chunk_(jobs.pool.take()), chunk_first_top_(job.start) {
    recording_ = job.index != 0;  // the first job's parse is true from its start
    record_end_ = job.start + jobs.record_span;
    next_index_ = job.index + 1;
    next_start_ = jobs.segment_start(next_index_);
  }

  bool record(uint32_t distance, uint32_t lit_len, uint32_t /*covered*/) {
    if (!chunk_->has_room()) close_chunk();
    if (distance == 0) {
      chunk_->add_literal(static_cast<uint8_t>(lit_len));
    } else {
      chunk_->add_match(distance, lit_len);
    }
    ++entries_;
    return false;  // where blocks end is the writer's business
  }

  void end_block(const uint8_t*, uint32_t, bool last) { reached_end_ |= last; }

  void on_slide() {
    base_ += half_window;
    if (!chunk_->has_room()) close_chunk();
    chunk_->add_slide();
    ++entries_;
  }

  // Called at every top of the parse, so all that is rare waits behind one
  // comparison with the next top at which anything is due.
  bool at_top(const lazy_state& state) {
    const uint64_t top = base_ + state.scan_pos;
    return top < next_event_ || at_event(state, top);
  }

  // After the parse: the last chunk, the records if still due, the end.
  void finish() {
    close_chunk();
    jobs_.pool.give_back(chunk_);
    chunk_ = nullptr;
    const std::lock_guard lock(jobs_.mutex);
    if (recording_) {
      publish_records_locked(job_.records.empty() ? 0 : static_cast<uint32_t>(last_recorded_top_ + 1 - job_.start));
    }
    job_.finished = true;
    job_.reached_end = reached_end_ && met_ == nullptr;
    if (met_ != nullptr) {
      job_.met_job = met_->index;
      job_.met_entry = met_entry_;
      if (job_.exact) make_exact_locked(jobs_, met_);
    }
    jobs_.changed.notify_all();
  }

 private:
  // Whatever is due at or before this top: its record, the job's
  // cancellation, the records' publication, closing a chunk, and the
  // meeting with the next job's parse. While the job records, every top
  // is due.
  bool at_event(const lazy_state& state, uint64_t top) {
    if (recording_ && top < record_end_) {
      job_.records.push_back({static_cast<uint32_t>(top - job_.start), packed(state), entries_});
      last_recorded_top_ = top;
    }
    if (job_.cancelled.load(std::memory_order_relaxed)) return false;
    if (recording_ && top >= record_end_) publish_records(jobs_.record_span);
    // A chunk also closes once it spans a window's worth of input, so the
    // writer, and with it the input it lets go, never lags far behind even
    // where symbols are few (runs of one byte cover 258 bytes each); and a
    // cancelled job stops within that much input.
    if (top - chunk_first_top_ >= chunk_input_span) {
      close_chunk();
      chunk_first_top_ = top;
    }
    if (top >= next_start_ && !meet_or_go_on(state, top)) return false;
    next_event_ = recording_ ? 0 : std::min(chunk_first_top_ + chunk_input_span, next_start_);
    return true;
  }

  void close_chunk() {
    if (chunk_->entries == 0) return;
    {
      const std::lock_guard lock(jobs_.mutex);
      job_.chunks.push_back(chunk_);
      if (job_.index == jobs_.replaying) jobs_.changed.notify_all();
    }
    chunk_ = jobs_.pool.take();
  }

  void publish_records(uint32_t extent) {
    const std::lock_guard lock(jobs_.mutex);
    publish_records_locked(extent);
  }

  void publish_records_locked(uint32_t extent) {
    recording_ = false;
    job_.records_extent = extent;
    job_.records_ready = true;
    jobs_.changed.notify_all();
  }

  // At a top at or past the next segment's start: false when this parse
  // stops here, having met the next job's (or being of no further use).
  bool meet_or_go_on(const lazy_state& state, uint64_t top) {
    for (;;) {
      if (next_ == nullptr) {
        std::unique_lock lock(jobs_.mutex);
        if (!jobs_.wait_for_job_locked(lock, next_index_) || job_.cancelled.load(std::memory_order_relaxed)) {
          return false;
        }
        // Null: dropped, which only a cancelled job is.
        segment_job* candidate = jobs_.find_locked(next_index_);
        if (candidate != nullptr) {
          // A job that has not started yet would keep this one waiting for
          // a segment's worth of time: this parse goes on in its place
          // instead. One that has started records its state within a few
          // thousand bytes.
          if (!candidate->records_ready && !candidate->running) jobs_.cancel_locked(*candidate);
          jobs_.changed.wait(lock, [&] {
            return jobs_.stopping || candidate->records_ready ||
                   candidate->cancelled.load(std::memory_order_relaxed) ||
                   job_.cancelled.load(std::memory_order_relaxed);
          });
          if (jobs_.stopping || job_.cancelled.load(std::memory_order_relaxed)) return false;
        }
        if (candidate == nullptr || candidate->cancelled.load(std::memory_order_relaxed)) {
          // Its parse may have stopped anywhere: never the one to meet.
          if (!skip_next(top)) return true;
          continue;
        }
        next_ = candidate;
      }
      const uint64_t offset = top - next_->start;
      if (offset < next_->records_extent) {
        // Both parses go forward, so the records are walked once, in step.
        const std::vector<segment_job::record>& records = next_->records;
        while (next_record_ < records.size() && records[next_record_].offset < offset) ++next_record_;
        if (next_record_ < records.size() && records[next_record_].offset == offset &&
            records[next_record_].state == packed(state)) {
          const std::lock_guard lock(jobs_.mutex);
          if (!next_->cancelled.load(std::memory_order_relaxed)) {
            met_ = next_;
            met_entry_ = records[next_record_].entries;
            jobs_.unmet_in_a_row = 0;
            return false;
          }
        }
        if (!next_->cancelled.load(std::memory_order_relaxed)) return true;
      } else {
        // Past every record of the next job without meeting its parse: that
        // parse is not the true one, and this one goes on in its place.
        const std::lock_guard lock(jobs_.mutex);
        if (job_.cancelled.load(std::memory_order_relaxed)) return false;
        jobs_.cancel_locked(*next_);
        ++jobs_.unmet_in_a_row;
      }
      // Once cancelled and the lock let go, next_ may be dropped at any
      // moment: skip_next forgets it without looking at it.
      if (!skip_next(top)) return true;
    }
  }

  // Moves on to the job after the next; true when this top is already at
  // or past its start.
  bool skip_next(uint64_t top) {
    next_ = nullptr;
    next_record_ = 0;
    ++next_index_;
    next_start_ = jobs_.segment_start(next_index_);
    return top >= next_start_;
  }

  segment_job& job_;
  parallel_jobs& jobs_;
  uint64_t base_;  // input offset of window[0]
  symbol_chunk* chunk_;
  uint32_t entries_ = 0;
  bool recording_;
  uint64_t record_end_;
  uint64_t last_recorded_top_ = 0;
  uint64_t chunk_first_top_ = 0;
  uint64_t next_event_ = 0;  // at_event is due at the first top at or past it
  uint64_t next_index_;
  uint64_t next_start_;
  segment_job* next_ = nullptr;
  size_t next_record_ = 0;  // the first record of next_ not behind this parse
  segment_job* met_ = nullptr;
  uint32_t met_entry_ = 0;
  bool reached_end_ = false;
};

}  // namespace

void run_segment_job(segment_job& job, match_finder& finder, parallel_jobs& jobs) {
  // The sequential window's base at the segment's start: the segment
  // starts at a multiple of 32 KiB, and the slide before it happened at
  // most a match's length after 261 bytes before it.
  const uint64_t base = window_base(job.start);
  store_reader reader{jobs, job, base};

  reset_finder(finder, jobs.level, {read_from_store, &reader});
  const ptrdiff_t got = read_from_store(&reader, finder.window, window_capacity);
  const uint32_t filled = got > 0 ? static_cast<uint32_t>(got) : 0;
  finder.input_ended = got <= 0;
  // Past the end of the input a comparison near the end can read what the
  // sequential window holds there: zeros in its first window, which never
  // slid, and after a slide the bytes 32 KiB earlier. (The margin behind
  // the window is never written, so it stays zero from the finder's
  // allocation on.)
  if (base > 0 && filled >= half_window) {
    std::memcpy(finder.window + filled, finder.window + filled - half_window, window_capacity - filled);
  } else {
    std::memset(finder.window + filled, 0, window_capacity - filled);
  }

  const uint32_t scan_pos = static_cast<uint32_t>(job.start - base);
  uint32_t ahead = filled > scan_pos ? filled - scan_pos : 0;
  while (ahead < min_lookahead && !finder.input_ended) ahead += top_up_window(finder, scan_pos, ahead).added;
  // The 32 KiB before the segment go into the chains, as the sequential
  // parse put them there; window position 0 is never a candidate in
  // either.
  prime_hash(finder, 0);
  insert_up_to(finder, scan_pos);
  // The warm-up makes no searches, so the choice's first stretch starts
  // with the segment.
  start_search_choice(finder.keyed, scan_pos);

  job_sink sink(job, jobs, base);
  if (ahead > 0) deflate_lazy(finder, parse_position{.scan_pos = scan_pos, .ahead = ahead}, sink);
  sink.finish();
}

}  // namespace pelk
