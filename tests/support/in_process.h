// SPDX-License-Identifier: MIT
// A container made in process, by one compressor object used for every call
// of the test program, as the pelk program reuses its static one: so a
// compression must not depend on what the object did before. Inline, so
// each test program compiles it against the engine it links (the search
// test links an engine of its own).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "container/container.h"
#include "inflate/byte_source.h"
#include "tests/support/test_support.h"

namespace pelk::test {

inline bytes compress_in_process(const bytes& data, unsigned threads, uint32_t segment_size,
                                 int level = default_level) {
  static const std::unique_ptr<deflate_compressor> compressor = std::make_unique<deflate_compressor>();
  memory_input input{data.data(), data.size(), 7919};  // odd read sizes: the reads must not matter
  bytes container;
  container_settings settings{data.size(), "s", 0};
  settings.level = level;
  settings.threads = threads;
  settings.segment_size = segment_size;
  const container_result result =
      write_container(*compressor, {read_memory, &input}, {{append_bytes, &container}, nullptr}, settings);
  EXPECT_EQ(result.bytes_read, data.size());
  return container;
}

}  // namespace pelk::test
