// The chunk pool: see symbol_chunks.h.
#include "engine/symbol_chunks.h"

namespace pelk {

chunk_pool::~chunk_pool() {
  for (symbol_chunk* chunk : free_) delete chunk;
}

symbol_chunk* chunk_pool::take() {
  symbol_chunk* chunk = nullptr;
  {
    const std::lock_guard lock(mutex_);
    if (!free_.empty()) {
      chunk = free_.back();
      free_.pop_back();
    }
  }
  if (chunk == nullptr) chunk = new symbol_chunk;
  chunk->clear();
  return chunk;
}

void chunk_pool::give_back(symbol_chunk* chunk) {
  const std::lock_guard lock(mutex_);
  free_.push_back(chunk);
}

}  // namespace pelk
