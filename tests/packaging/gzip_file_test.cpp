// SPDX-License-Identifier: MIT
// The gzip files the Debian packages carry (changelog.gz), written by the
// build's gzip_file from libpelk's deflate stream: libdeflate, an
// independent decoder, restores every corpus file, the sample and an empty
// file from them exactly, checking their CRC-32 and size as it goes; the
// same input gives the same bytes (no time or name inside).
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <filesystem>
#include <memory>

#include "tests/support/test_support.h"

namespace {

using pelk::test::bytes;

bytes gzip_with_the_build(const std::filesystem::path& source, const pelk::test::temp_dir& dir) {
  const auto target = dir / (source.filename().string() + ".gz");
  const auto run = pelk::test::run_program(GZIP_FILE_PATH, {GZIP_FILE_PATH, source.string(), target.string()},
                                           dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  return pelk::test::read_file(target);
}

TEST(GzipFile, LibdeflateRestoresEveryInputExactly) {
  pelk::test::temp_dir dir;
  std::vector<std::filesystem::path> sources{dir / "empty", PELK_SAMPLE_PATH};
  pelk::test::write_file(sources[0], {});
  if (const auto corpus = pelk::test::corpus_dir()) {
    for (const auto& entry : std::filesystem::directory_iterator(*corpus)) sources.push_back(entry.path());
  }
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  ASSERT_TRUE(decompressor);
  for (const auto& source : sources) {
    SCOPED_TRACE(source.string());
    const bytes original = pelk::test::read_file(source);
    const bytes gzip = gzip_with_the_build(source, dir);
    ASSERT_GE(gzip.size(), 18u);
    // No name, no time: the header is fixed but for the operating system.
    EXPECT_EQ(bytes(gzip.begin(), gzip.begin() + 9), (bytes{0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0}));
    bytes restored(original.size() + 1);
    size_t consumed = 0, restored_size = 0;
    ASSERT_EQ(libdeflate_gzip_decompress_ex(decompressor.get(), gzip.data(), gzip.size(), restored.data(),
                                            restored.size(), &consumed, &restored_size),
              LIBDEFLATE_SUCCESS);
    EXPECT_EQ(consumed, gzip.size()) << "bytes after the gzip member";
    restored.resize(restored_size);
    EXPECT_TRUE(restored == original) << "restored " << restored_size << " bytes of " << original.size();
    EXPECT_TRUE(gzip_with_the_build(source, dir) == gzip) << "a second run wrote other bytes";
  }
}

}  // namespace
