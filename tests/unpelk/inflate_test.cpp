// SPDX-License-Identifier: MIT
// The inflater (inflate/, shared by unpelk and the library) on streams of
// another encoder (libdeflate at levels 1, 6 and 12 writes stored, fixed and
// dynamic blocks its own way), which must decode to exactly their input and end exactly
// where they end, also when the input arrives one byte at a time, through
// both forms of the hot loop; both CRC paths against a bitwise one; and the
// listing's time stamps.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstring>

#include "common/crc32.h"
#include "inflate/inflate.h"
#include "tests/support/test_support.h"
#include "tools/unpelk/listing.h"

namespace pelk::test {
namespace {

// Stretches of words (near and far matches), random bytes (stored blocks)
// and runs (distances 1 to 7), in turns.
bytes mixed_input(size_t size, uint64_t seed) {
  const bytes noise = random_bytes(size + 1, seed);
  const char* words[] = {"pelk ", "deflate ", "window ", "x", "inflater ", "\n", "abcabcab", "zz"};
  bytes data;
  for (size_t i = 0; data.size() < size; ++i) {
    const uint8_t r = noise[i % size];
    if (i / 4096 % 3 == 0) data.insert(data.end(), words[r % 8], words[r % 8] + std::strlen(words[r % 8]));
    if (i / 4096 % 3 == 1) data.push_back(r);
    if (i / 4096 % 3 == 2) data.resize(data.size() + r % 40, uint8_t{data[data.size() - 1 - r % 7]});
  }
  return data;
}

class InflateLibdeflateStream : public ::testing::TestWithParam<std::tuple<int, size_t, size_t>> {};

TEST_P(InflateLibdeflateStream, DecodesToTheExactInputAndStopsAtItsEnd) {
  const auto [level, size, chunk] = GetParam();
  const bytes input = mixed_input(size, size + level);
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  bytes stream(libdeflate_deflate_compress_bound(compressor, input.size()));
  stream.resize(libdeflate_deflate_compress(compressor, input.data(), input.size(), stream.data(), stream.size()));
  libdeflate_free_compressor(compressor);
  stream.insert(stream.end(), {0xC0, 0xFF, 0xEE});  // what follows the stream must stay unread

  for (const bool portable : {false, true}) {
    const inflater_ptr state = make_inflater();
    use_portable_fast_loop(*state, portable);
    memory_input memory{stream.data(), stream.size(), chunk};
    byte_source source{read_memory, &memory};
    bytes output;
    const inflate_result result = inflate_stream(*state, source, {append_bytes, &output});
    ASSERT_EQ(result.status, inflate_status::ok) << result.detail;
    EXPECT_TRUE(output == input);
    EXPECT_EQ(position(source), stream.size() - 3);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, InflateLibdeflateStream,
                         ::testing::Combine(::testing::Values(1, 6, 12), ::testing::Values(0, 1, 700000),
                                            ::testing::Values(1, 65536)));

// Every length around the 64-byte blocks and 16-byte folds, in two pieces,
// at every alignment of the second piece's eight-byte words: the path this
// processor chooses (folding on x86-64) and the table path that the others
// run, forced here.
TEST(Checksum, BothPathsMatchTheBitwiseCrc) {
  const bytes data = random_bytes(400, 5);
  for (const auto extend : {crc32_extend, crc32_extend_portable}) {
    for (size_t size = 0; size <= data.size(); ++size) {
      const bytes piece(data.begin(), data.begin() + size);
      ASSERT_EQ(extend(extend(0, data.data(), size / 3), data.data() + size / 3, size - size / 3),
                reference_crc32(piece)) << size;
    }
  }
}

// The year field holds (year - 1980) mod 64: the year shown is the latest
// with that remainder that is not after the current one.
TEST(ListingStamp, DecodesFieldsAndPlacesTheYear) {
  const stamp_time t = decode_stamp(0xB57EBF7D, 2026);  // 2025-12-31 23:59:58
  EXPECT_EQ((std::vector{t.year, t.month, t.day, t.hour, t.minute, t.second}), (std::vector{2025, 12, 31, 23, 59, 58}));
  EXPECT_EQ((std::vector{decode_stamp(45u << 26, 2025).year, decode_stamp(45u << 26, 2024).year,
                         decode_stamp(0, 2100).year}), (std::vector{2025, 1961, 2044}));
}

}  // namespace
}  // namespace pelk::test
