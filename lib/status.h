// SPDX-License-Identifier: MIT
// Status codes at the library's edge: the container reader's faults as
// pelk.h numbers them, and the wall that keeps C++ exceptions inside.
#pragma once

#include "container/container_reader.h"
#include "pelk.h"

namespace pelk {

inline int status_of(container_fault fault) {
  switch (fault) {
    case container_fault::none: return PELK_OK;
    case container_fault::read_failed: return PELK_ERROR_READ;
    case container_fault::write_failed: return PELK_ERROR_WRITE;
    case container_fault::not_container: return PELK_ERROR_NOT_CONTAINER;
    case container_fault::unsupported: return PELK_ERROR_UNSUPPORTED;
    case container_fault::truncated: return PELK_ERROR_TRUNCATED;
    case container_fault::corrupt: return PELK_ERROR_CORRUPT;
    case container_fault::checksum: return PELK_ERROR_CHECKSUM;
    case container_fault::size_mismatch: return PELK_ERROR_SIZE_MISMATCH;
    case container_fault::trailing_data: return PELK_ERROR_TRAILING_DATA;
  }
  return PELK_ERROR_CORRUPT;
}

// Runs body, which returns a status, and turns anything thrown into a
// status: a C caller has no way to catch it. What the library's own code
// can throw is an allocation failure (the reader's buffers and texts); a
// caller's callback must not throw.
template <typename Body>
int without_exceptions(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return PELK_ERROR_NO_MEMORY;
  }
}

}  // namespace pelk
