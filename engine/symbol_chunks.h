// SPDX-License-Identifier: MIT
// The symbols a parallel parse hands to the writer, in fixed-size chunks.
//
// A chunk is a byte stream and one flag bit per entry:
//
//   flag 0   literal   1 byte: the literal
//   flag 1   match     3 bytes: length - 3, distance low byte, high byte
//   flag 1   slide     3 bytes: 0, 0, 0 (a distance of 0 is no match): the
//                      window slid before the entries that follow
//
// Entries carry no positions: a parse covers the input without gaps, so an
// entry's position is the previous one's plus its length. A chunk holds
// about 16 KiB whatever the mix, a literal costs little more than a byte,
// and chunks are recycled, so a parse's memory follows the input it covers
// rather than the worst case of every entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace pelk {

inline constexpr uint32_t chunk_bytes = 16384;

struct symbol_chunk {
  uint32_t size;     // bytes used
  uint32_t entries;  // entries stored
  uint8_t bytes[chunk_bytes];
  uint8_t flags[chunk_bytes / 8];

  // Every flag starts at 0, a literal's, so that only a match sets one.
  void clear() {
    size = 0;
    entries = 0;
    std::memset(flags, 0, sizeof flags);
  }
  bool has_room() const { return size + 3 <= chunk_bytes; }

  void add_literal(uint8_t byte) {
    bytes[size++] = byte;
    ++entries;
  }
  void add_match(uint32_t distance, uint32_t length_minus_3) {
    bytes[size] = static_cast<uint8_t>(length_minus_3);
    bytes[size + 1] = static_cast<uint8_t>(distance);
    bytes[size + 2] = static_cast<uint8_t>(distance >> 8);
    size += 3;
    flags[entries >> 3] = static_cast<uint8_t>(flags[entries >> 3] | 1u << (entries & 7));
    ++entries;
  }
  void add_slide() { add_match(0, 0); }

  bool is_match(uint32_t entry) const { return (flags[entry >> 3] >> (entry & 7) & 1) != 0; }
  // A match's (or slide's) distance, its bytes starting at `at`.
  uint32_t distance_at(uint32_t at) const { return uint32_t{bytes[at + 1]} | uint32_t{bytes[at + 2]} << 8; }
};

// Chunks handed out and taken back by every thread of one compression.
// The first are carved from memory the pool is given (what the
// compression's bulk memory has left over), the rest allocated.
class chunk_pool {
 public:
  // `spare` holds spare_bytes the pool may use, and outlives it.
  // The list of free chunks has room for all that spare holds, so giving
  // them back never allocates.
  chunk_pool(uint8_t* spare, size_t spare_bytes) : spare_(spare), spare_left_(spare_bytes) {
    free_.reserve(spare_bytes / sizeof(symbol_chunk));
  }
  chunk_pool(const chunk_pool&) = delete;
  chunk_pool& operator=(const chunk_pool&) = delete;

  symbol_chunk* take();  // an empty chunk
  void give_back(symbol_chunk* chunk);

 private:
  std::mutex mutex_;
  std::vector<symbol_chunk*> free_;
  uint8_t* spare_;
  size_t spare_left_;
  std::vector<std::unique_ptr<symbol_chunk>> allocated_;
};

}  // namespace pelk
