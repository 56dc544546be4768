// SPDX-License-Identifier: MIT
// Bulk memory: see bulk_memory.h.
#include "common/bulk_memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <pthread.h>
#include <sys/mman.h>
#endif

namespace pelk {

#if defined(__linux__)

void offer_huge_pages(void* start, size_t size) { madvise(start, size, MADV_HUGEPAGE); }
void decline_huge_pages(void* start, size_t size) { madvise(start, size, MADV_NOHUGEPAGE); }

// Mapped a huge page larger than asked, so that a 2 MiB boundary can be
// chosen inside; the kernel backs only aligned 2 MiB ranges with huge
// pages. Rounded up to whole huge pages, all of it the caller's: a partly
// used one costs its whole 2 MiB of resident memory anyway, and a smaller
// tail would fault page by page. Untouched address space costs nothing.
bulk_memory::bulk_memory(size_t size) {
  const size_t rounded = (size + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
  const size_t mapped = rounded + huge_page_bytes;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  mapping_ = mapping;
  mapped_ = mapped;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
  data_ = reinterpret_cast<uint8_t*>((start + huge_page_bytes - 1) & ~(huge_page_bytes - 1));
  size_ = rounded;
  // Without huge pages the memory is as good, only slower to touch the
  // first time.
  offer_huge_pages(data_, rounded);
}

bulk_memory::~bulk_memory() {
  if (mapping_ != nullptr) munmap(mapping_, mapped_);
}

size_t thread_stack_bytes() {
  // The default the system's threads take (the stack limit, or its own
  // default where that is unlimited), as a new thread would get it.
  size_t size = 0;
  pthread_attr_t defaults;
  if (pthread_attr_init(&defaults) == 0) {
    pthread_attr_getstacksize(&defaults, &size);
    pthread_attr_destroy(&defaults);
  }
  return (size != 0 ? size : size_t{8} << 20) + 4096;
}

bool address_space_available(size_t size) {
  void* trial = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (trial == MAP_FAILED) return false;
  munmap(trial, size);
  return true;
}

#else

void offer_huge_pages(void*, size_t) {}
void decline_huge_pages(void*, size_t) {}

bulk_memory::bulk_memory(size_t size) {
  mapping_ = std::calloc(size, 1);
  data_ = static_cast<uint8_t*>(mapping_);
  if (data_ != nullptr) size_ = size;
}

bulk_memory::~bulk_memory() { std::free(mapping_); }

size_t thread_stack_bytes() { return 0; }
bool address_space_available(size_t) { return true; }

#endif

}  // namespace pelk
