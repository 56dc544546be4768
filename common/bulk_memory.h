// SPDX-License-Identifier: MIT
// Zeroed memory for the large working buffers of one compression, taken
// from the system in one piece.
//
// The first touch of every fresh page costs a fault, and a parallel
// compression touches megabytes at once (a match finder per thread, the
// shared input): in 4 KiB pages that cost several milliseconds on every
// run, more than parsing a small file takes, and far more on virtual
// machines, where a fault can take 10 us. Where the system offers
// transparent huge pages (Linux), the piece is aligned to 2 MiB and offered
// for them, so it faults once per 2 MiB; elsewhere it is plain zeroed
// memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk {

// The unit of a huge page where the system has them.
inline constexpr size_t huge_page_bytes = size_t{2} << 20;

// Asks the system to back [start, start + size) with huge pages, or never
// to: a range aligned to huge_page_bytes, a multiple of it in size, and
// untouched so far. Only advice; where there are no huge pages it changes
// nothing. (Some systems give huge pages unasked, wherever a whole aligned
// 2 MiB range is mapped.)
void offer_huge_pages(void* start, size_t size);
void decline_huge_pages(void* start, size_t size);

// Whether `size` more bytes of address space can be had now (a limit such
// as RLIMIT_AS may say no). Tried by reserving them, untouched, and giving
// them back; always true where the system sets no such limit.
bool address_space_available(size_t size);

// The address space a new thread's stack takes (with its guard page).
size_t thread_stack_bytes();

class bulk_memory {
 public:
  // At least `size` zeroed bytes, aligned for any object; data() is null
  // when the system has none to give.
  explicit bulk_memory(size_t size);
  ~bulk_memory();
  bulk_memory(const bulk_memory&) = delete;
  bulk_memory& operator=(const bulk_memory&) = delete;

  uint8_t* data() const { return data_; }
  // What the caller may use: the size asked for, or more where the system
  // gives memory in larger units anyway.
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;  // what to give back, and its size
  size_t mapped_ = 0;
};

}  // namespace pelk
