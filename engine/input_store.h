// SPDX-License-Identifier: MIT
// The input of a parallel compression, read once and shared.
//
// One thread reads the source, in segments, exactly as the sequential
// compressor would (so the checksum, the byte count and every read error
// are the same); the parsing jobs copy what they need out of the segments
// by absolute offset, waiting where the reader has not got yet. Since every
// job sees the same bytes, a source that changes while it is read still
// gives one consistent container.
//
// Memory stays bounded: the store holds a fixed number of segment slots in
// memory its owner provides, and whole segments below the lowest offset
// anyone still needs give their slots back for reuse.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "common/stream_io.h"

namespace pelk {

class input_store {
 public:
  // `memory` holds max_segments slots of segment_size bytes and outlives
  // the store.
  input_store(uint32_t segment_size, uint32_t max_segments, uint8_t* memory);

  // --- The reading thread --------------------------------------------------

  // Whether there is room for another segment and the input has not ended.
  bool wants_to_read() const;

  // Reads the next segment from source: until it is full or the source
  // ends (a read of 0 or less ends it).
  void read_segment(input_source source);

  // Gives back the segments that end at or below offset.
  void release_below(uint64_t offset);

  // Wakes every waiting reader for good: from now on read_at fails.
  void abort();

  uint64_t size_read() const;
  bool ended() const;

  // --- Any thread ----------------------------------------------------------

  // Copies up to capacity bytes from offset on, waiting until they have
  // been read or the input has ended before them. Returns the count (short
  // only at the end of the input), or -1 once `cancelled` is set (wake the
  // waiters with wake_all after setting it) or the store is aborted.
  ptrdiff_t read_at(uint64_t offset, uint8_t* buffer, size_t capacity, const std::atomic<bool>& cancelled);

  // Copies bytes known to have been read and not given back.
  void copy_out(uint64_t offset, uint8_t* buffer, size_t size);

  void wake_all();

 private:
  // Copies [offset, offset + size), all read and resident; under the lock.
  void copy_locked(uint64_t offset, uint8_t* buffer, size_t size) const;

  const uint32_t segment_size_;
  const uint32_t max_segments_;
  mutable std::mutex mutex_;
  std::condition_variable readable_;
  std::deque<uint8_t*> segments_;  // resident, from first_segment_ on
  std::vector<uint8_t*> spare_;    // free slots, the next one to use last
  uint64_t first_segment_ = 0;
  uint64_t read_end_ = 0;  // bytes read so far
  bool ended_ = false;
  bool aborted_ = false;
};

}  // namespace pelk
