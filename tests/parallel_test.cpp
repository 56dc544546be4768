// SPDX-License-Identifier: MIT
// Parallel compression against the sequential compressor: every thread
// count must give exactly the container one thread gives. Segments of 32
// and 64 KiB put many segment edges into inputs built to stress where the
// jobs' parses meet: runs and short periods that never fall into step,
// long matches across the edges, incompressible data, blocks that end near
// the edges and the window's slides, and sizes around the slide points.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "container/container.h"
#include "engine/format.h"
#include "inflate/byte_source.h"
#include "tests/support/in_process.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

bytes compress(const bytes& data, unsigned threads, uint32_t segment_size) {
  return compress_in_process(data, threads, segment_size);
}

// At the very end of the input a comparison reads past it, into what the
// sequential window holds there: the bytes 32 KiB earlier, left by its last
// slide. Here the last 20 bytes recur twice within reach; the farther copy
// is followed by the bytes that lie 32 KiB before the end, so past the end
// it matches 10 bytes longer, and wins over the nearer one only if the
// window holds exactly what the sequential one holds.
bytes end_reads_past_the_input() {
  const size_t size = 3 * 32768 + 20000;
  bytes data = random_bytes(size, 21);
  for (uint8_t& b : data) b |= 1;  // no zero byte: zeros past the end must not match either
  const size_t tail = size - 20, stale = size - 32768;
  const size_t farther = size - 30000, nearer = size - 10000;
  std::copy(data.begin() + tail, data.end(), data.begin() + farther);
  std::copy(data.begin() + stale, data.begin() + stale + 10, data.begin() + farther + 20);
  std::copy(data.begin() + tail, data.end(), data.begin() + nearer);
  data[nearer + 20] = static_cast<uint8_t>(data[stale] ^ 2);
  return data;
}

// Two parses that stand at the same top with the byte before pending can
// still hold matches of different lengths: at the segment edge P = 64 KiB
// the true parse holds a 9-byte match found at P - 1, so its search at P
// looks at a quarter of the candidates and finds a 12-byte match, while
// the fresh parse searches them all and finds a 20-byte one. Meeting on
// position and pending byte alone would splice the wrong symbols there.
bytes lengths_differ_at_the_edge() {
  const size_t edge = 65536;
  bytes data = random_bytes(edge + 4000, 33);
  for (uint8_t& b : data) b |= 0x80;  // the filler shares no byte with the words below
  const bytes word = to_bytes("wordsmith-at-the-edge!");  // 22 bytes; W[0..20) is what matters
  auto put = [&](size_t at, const bytes& piece) { std::copy(piece.begin(), piece.end(), data.begin() + at); };
  size_t at = edge - 30000;
  put(at, bytes(word.begin(), word.begin() + 20));  // the full copy, farthest
  data[at + 20] = 'Z';
  at += 40;
  for (int copy = 0; copy < 35; ++copy, at += 10) {  // 3-byte matches, nearer
    put(at, bytes(word.begin(), word.begin() + 3));
    data[at + 3] = '#';
  }
  put(at, bytes(word.begin(), word.begin() + 12));  // the 12-byte match, nearest of the copies
  data[at + 12] = '#';
  at += 40;
  put(at, to_bytes("%"));  // the 9-byte match found at P - 1: "%" and W[0..8)
  put(at + 1, bytes(word.begin(), word.begin() + 8));
  data[at + 9] = '#';
  put(edge - 1, to_bytes("%"));
  put(edge, word);
  return data;
}

// No three bytes occur twice, so every symbol is a literal and each block
// ends at the symbol limit. At twice the limit the block's last symbol is
// the input's last byte, which the lazy parse records after its last pass
// and which goes into the last block however full that is; a writer that
// ended the block there would add an empty last block.
bytes literals_to_the_block_limit() {
  bytes data;
  for (uint32_t j = 0; data.size() < 2 * max_block_symbols; ++j) {
    // (j's high byte < 0x80, j's low byte, 0x80): no triple starting at one
    // offset of a group can equal one starting at another.
    data.insert(data.end(), {static_cast<uint8_t>(j >> 8), static_cast<uint8_t>(j), 0x80});
  }
  data.resize(2 * max_block_symbols);
  return data;
}

TEST(ParallelCompression, EveryThreadCountGivesTheSequentialContainer) {
  std::vector<std::pair<std::string, bytes>> inputs = {
      {"one byte", bytes(300000, 0x41)},
      {"period 7", repeat(to_bytes("abcdefg"), 300001)},
      {"period 300", repeat(random_bytes(300, 3), 280000)},
      {"long copies", with_copies(600000, 5)},
      {"incompressible", random_bytes(270000, 9)},
      // One literal per byte until a run: blocks end at the symbol limit
      // and near segment edges, and are stored while their start is in
      // the window.
      {"text then random", [] {
         bytes d = with_copies(200000, 13);
         const bytes r = random_bytes(150000, 14);
         d.insert(d.end(), r.begin(), r.end());
         d.resize(d.size() + 40000, 0);
         return d;
       }()},
  };
  inputs.emplace_back("end reads past the input", end_reads_past_the_input());
  inputs.emplace_back("lengths differ at the edge", lengths_differ_at_the_edge());
  inputs.emplace_back("literals to the block limit", literals_to_the_block_limit());
  // Around the window's slide points and the segment edges.
  for (size_t size : {65536u - 1, 65536u, 65536u + 1, 98304u - 261, 98304u + 300, 131072u + 5}) {
    inputs.emplace_back("size " + std::to_string(size), with_copies(size, size));
  }
  for (const auto& [name, data] : inputs) {
    const bytes sequential = compress(data, 1, default_segment_size);
    ASSERT_EQ(verify_container(sequential, data, "s"), "") << name;
    for (uint32_t segment : {32768u, 65536u}) {
      for (unsigned threads = 2; threads <= 8; ++threads) {
        EXPECT_TRUE(compress(data, threads, segment) == sequential)
            << name << ", " << threads << " threads, segments of " << segment;
      }
    }
  }
}

// Real data meets far more ways than built data: the large corpus files and
// the small ones together, in segments of 32 KiB, over a thousand meetings.
TEST(ParallelCompression, CorpusInSmallSegmentsGivesTheSequentialContainer) {
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  bytes small_files;
  for (const char* name : {"alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata", "html", "html_x_4",
                           "kppkn.gtb", "lcet10.txt", "paper-100k.pdf", "plrabn12.txt", "urls.10K"}) {
    const bytes file = read_file(*corpus / name);
    small_files.insert(small_files.end(), file.begin(), file.end());
  }
  std::vector<std::pair<std::string, bytes>> inputs = {{"small files", std::move(small_files)}};
  for (const char* name : {"dickens", "mr", "reymont", "xml"}) inputs.emplace_back(name, read_file(*corpus / name));
  for (const auto& [name, data] : inputs) {
    EXPECT_TRUE(compress(data, 2, 32768) == compress(data, 1, default_segment_size)) << name;
  }
}

}  // namespace
}  // namespace pelk::test
