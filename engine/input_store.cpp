// SPDX-License-Identifier: MIT
// The shared input: see input_store.h.
//
// Copies are made under the lock. A job copies at most a window's worth at
// a time, a few times per 32 KiB it parses, so the lock is rarely wanted
// by two threads at once, and holding it makes the segments' lifetime
// trivially safe.
#include "engine/input_store.h"

#include <algorithm>
#include <cstring>

namespace pelk {
namespace {

// A segment is read a piece at a time, each piece small enough to still be
// in the nearest caches when the reader's checksum goes over it; one read
// of a whole segment would have the kernel write half a megabyte past them.
constexpr size_t read_piece = 32 * 1024;

}  // namespace

input_store::input_store(uint32_t segment_size, uint32_t max_segments, uint8_t* memory)
    : segment_size_(segment_size), max_segments_(max_segments) {
  // Lowest addresses first, so a short input touches the least memory.
  for (uint32_t slot = max_segments; slot-- > 0;) spare_.push_back(memory + size_t{slot} * segment_size);
}

bool input_store::wants_to_read() const {
  const std::lock_guard lock(mutex_);
  return !ended_ && !aborted_ && segments_.size() < max_segments_;
}

void input_store::read_segment(input_source source) {
  uint8_t* segment;
  {
    // There is one: wants_to_read() said so, and only this thread takes.
    const std::lock_guard lock(mutex_);
    segment = spare_.back();
    spare_.pop_back();
  }

  size_t filled = 0;
  bool ended = false;
  while (filled < segment_size_) {
    const size_t piece = std::min<size_t>(read_piece, segment_size_ - filled);
    const ptrdiff_t got = source.read(source.context, segment + filled, piece);
    if (got <= 0) {
      ended = true;
      break;
    }
    filled += static_cast<size_t>(got);
  }

  const std::lock_guard lock(mutex_);
  if (filled > 0) {
    segments_.push_back(segment);
  } else {
    spare_.push_back(segment);
  }
  read_end_ += filled;
  ended_ = ended;
  readable_.notify_all();
}

void input_store::release_below(uint64_t offset) {
  const std::lock_guard lock(mutex_);
  while (!segments_.empty() && (first_segment_ + 1) * segment_size_ <= offset) {
    spare_.push_back(segments_.front());
    segments_.pop_front();
    ++first_segment_;
  }
}

void input_store::abort() {
  const std::lock_guard lock(mutex_);
  aborted_ = true;
  readable_.notify_all();
}

void input_store::wake_all() {
  const std::lock_guard lock(mutex_);
  readable_.notify_all();
}

uint64_t input_store::size_read() const {
  const std::lock_guard lock(mutex_);
  return read_end_;
}

bool input_store::ended() const {
  const std::lock_guard lock(mutex_);
  return ended_;
}

void input_store::copy_locked(uint64_t offset, uint8_t* buffer, size_t size) const {
  while (size > 0) {
    const uint64_t segment = offset / segment_size_;
    const size_t within = static_cast<size_t>(offset % segment_size_);
    const size_t piece = size < segment_size_ - within ? size : segment_size_ - within;
    std::memcpy(buffer, segments_[static_cast<size_t>(segment - first_segment_)] + within, piece);
    buffer += piece;
    offset += piece;
    size -= piece;
  }
}

ptrdiff_t input_store::read_at(uint64_t offset, uint8_t* buffer, size_t capacity,
                               const std::atomic<bool>& cancelled) {
  std::unique_lock lock(mutex_);
  readable_.wait(lock, [&] {
    return read_end_ >= offset + capacity || ended_ || aborted_ || cancelled.load(std::memory_order_relaxed);
  });
  if (aborted_ || cancelled.load(std::memory_order_relaxed)) return -1;
  const size_t available = read_end_ <= offset ? 0 : static_cast<size_t>(std::min<uint64_t>(capacity, read_end_ - offset));
  copy_locked(offset, buffer, available);
  return static_cast<ptrdiff_t>(available);
}

void input_store::copy_out(uint64_t offset, uint8_t* buffer, size_t size) {
  const std::lock_guard lock(mutex_);
  copy_locked(offset, buffer, size);
}

}  // namespace pelk
