// SPDX-License-Identifier: MIT
// The chunk pool: see symbol_chunks.h.
#include "engine/symbol_chunks.h"

#include <new>

namespace pelk {

symbol_chunk* chunk_pool::take() {
  symbol_chunk* chunk;
  {
    const std::lock_guard lock(mutex_);
    if (!free_.empty()) {
      chunk = free_.back();
      free_.pop_back();
    } else if (spare_left_ >= sizeof(symbol_chunk)) {
      chunk = new (spare_) symbol_chunk;
      spare_ += sizeof(symbol_chunk);
      spare_left_ -= sizeof(symbol_chunk);
    } else {
      // Left uninitialised: a chunk is written before it is read. Owned
      // before the list can grow, so a failure there frees it.
      allocated_.push_back(std::unique_ptr<symbol_chunk>(new symbol_chunk));
      chunk = allocated_.back().get();
    }
  }
  chunk->clear();
  return chunk;
}

void chunk_pool::give_back(symbol_chunk* chunk) {
  const std::lock_guard lock(mutex_);
  free_.push_back(chunk);
}

}  // namespace pelk
