// Bulk memory: see bulk_memory.h.
#include "common/bulk_memory.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace pelk {

#if defined(__linux__)

namespace {
constexpr size_t huge_page = size_t{2} << 20;
}  // namespace

// Mapped a huge page larger than asked, so that a 2 MiB boundary can be
// chosen inside; the kernel backs only aligned 2 MiB ranges with huge
// pages. Rounded up to whole huge pages, all of it the caller's: a partly
// used one costs its whole 2 MiB of resident memory anyway, and a smaller
// tail would fault page by page. Untouched address space costs nothing.
bulk_memory::bulk_memory(size_t size) {
  const size_t rounded = (size + huge_page - 1) / huge_page * huge_page;
  const size_t mapped = rounded + huge_page;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return;
  mapping_ = mapping;
  mapped_ = mapped;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
  data_ = reinterpret_cast<uint8_t*>((start + huge_page - 1) & ~(huge_page - 1));
  size_ = rounded;
  // Only advice: without huge pages the memory is as good, only slower to
  // touch the first time.
  madvise(data_, rounded, MADV_HUGEPAGE);
}

bulk_memory::~bulk_memory() {
  if (mapping_ != nullptr) munmap(mapping_, mapped_);
}

#else

bulk_memory::bulk_memory(size_t size) {
  mapping_ = std::calloc(size, 1);
  data_ = static_cast<uint8_t*>(mapping_);
  if (data_ != nullptr) size_ = size;
}

bulk_memory::~bulk_memory() { std::free(mapping_); }

#endif

}  // namespace pelk
