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

input_store::input_store(uint32_t segment_size, uint32_t max_segments)
    : segment_size_(segment_size), max_segments_(max_segments) {}

bool input_store::wants_to_read() const {
  const std::lock_guard lock(mutex_);
  return !ended_ && !aborted_ && segments_.size() < max_segments_;
}

void input_store::read_segment(input_source source) {
  std::unique_ptr<uint8_t[]> segment;
  {
    const std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      segment = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  // Not zeroed: every byte is read before it is published.
  if (!segment) segment.reset(new uint8_t[segment_size_]);

  size_t filled = 0;
  bool ended = false;
  while (filled < segment_size_) {
    const ptrdiff_t got = source.read(source.context, segment.get() + filled, segment_size_ - filled);
    if (got <= 0) {
      ended = true;
      break;
    }
    filled += static_cast<size_t>(got);
  }

  const std::lock_guard lock(mutex_);
  if (filled > 0) segments_.push_back(std::move(segment));
  read_end_ += filled;
  ended_ = ended;
  readable_.notify_all();
}

void input_store::release_below(uint64_t offset) {
  const std::lock_guard lock(mutex_);
  while (!segments_.empty() && (first_segment_ + 1) * segment_size_ <= offset) {
    spare_.push_back(std::move(segments_.front()));
    segments_.pop_front();
    ++first_segment_;
  }
  // Segments given back are kept for the ones read next: a fresh
  // allocation of this size comes from the system untouched, and every page
  // of it would fault on first use. The store never holds more than its
  // limit, spares included.
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
    std::memcpy(buffer, segments_[static_cast<size_t>(segment - first_segment_)].get() + within, piece);
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
