// SPDX-License-Identifier: MIT
// End-to-end behaviour of the engine, observed from outside: exact bytes of
// small containers, and the parser's choices and block boundaries read back
// from the real binary's output by an independent decoder.
#include <gtest/gtest.h>

#include "tests/support/deflate_trace.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

using symbols = std::vector<traced_symbol>;

// Compresses data in a fresh process; level 6 is the pelk binary itself.
bytes compress_at(int level, const bytes& data, const std::string& name = "in.bin") {
  if (level == 6) return compress_with_pelk(data, name);
  temp_dir dir;
  write_file(dir / name, data);
  const run_result run = run_program(ENGINE_AT_LEVEL_PATH,
                                     {"engine_at_level", std::to_string(level), name, "out"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  return read_file(dir / "out");
}

deflate_trace trace_of(const bytes& container, const bytes& source) {
  const auto view = parse_header(container);
  EXPECT_TRUE(view.has_value());
  const auto trace = trace_deflate(container, view ? view->stream_offset : 0);
  EXPECT_TRUE(trace.has_value());
  if (!trace) return {};
  EXPECT_EQ(trace->output, source);
  uint64_t covered = 0;
  for (const traced_block& b : trace->blocks) covered += b.input_length;
  EXPECT_EQ(covered, source.size());
  return *trace;
}

bytes repeat(const bytes& unit, size_t total) {
  bytes data;
  while (data.size() < total) data.push_back(unit[data.size() % unit.size()]);
  return data;
}

// Random bytes in which no three consecutive bytes recur within 32 KiB, so
// the parser finds no match at all: one literal per byte.
bytes matchless_bytes(size_t count, uint64_t seed) {
  bytes data = random_bytes(count, seed);
  std::vector<int64_t> last_seen(1 << 24, -(1 << 20));
  uint64_t state = seed;
  for (size_t i = 2; i < count; ++i) {
    for (;;) {
      const uint32_t triple = uint32_t{data[i - 2]} << 16 | uint32_t{data[i - 1]} << 8 | data[i];
      if (static_cast<int64_t>(i) - last_seen[triple] > 32768) {
        last_seen[triple] = static_cast<int64_t>(i);
        break;
      }
      state = state * 6364136223846793005u + 1442695040888963407u;
      data[i] = static_cast<uint8_t>(state >> 56);
    }
  }
  return data;
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes data;
  for (const bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
  return data;
}

TEST(ExactBytes, SmallContainers) {
  // Stamp bytes 4-7 are the time of the run; everything else is fixed.
  struct example { std::string name, content, expected; };
  const example examples[] = {
      {"abc.txt", "abc",
       "1F AB 08 08 00 00 00 00 03 00 00 00 61 62 63 2E 74 78 74 00 4B 4C 4A 06 00 C2 41 24 35"},
      {"e", "", "1F AB 08 08 00 00 00 00 00 00 00 00 65 00 03 00 00 00 00 00"},
      {"a", "a", "1F AB 08 08 00 00 00 00 01 00 00 00 61 00 4B 04 00 43 BE B7 E8"},
  };
  for (const example& e : examples) {
    EXPECT_EQ(hex(mask_stamp(compress_with_pelk(to_bytes(e.content), e.name))), e.expected) << e.name;
  }
}

TEST(ExactBytes, SizeFieldOfLargerSource) {
  const bytes c = compress_with_pelk(random_bytes(70000, 7));
  EXPECT_EQ(hex(bytes(c.begin() + 8, c.begin() + 12)), "70 11 01 00");
}

TEST(Parsing, SymbolChoicesAtLevel6) {
  struct example { std::string input; symbols expected; };
  const example examples[] = {
      // Position 0 is never a match source, so position 1 finds nothing.
      {"aaaaaaaaaa", {lit('a'), lit('a'), match(1, 8)}},
      // Found at position 4, held, and taken at 5 when nothing longer turns up.
      {"abcabcabcabcabd", {lit('a'), lit('b'), lit('c'), lit('a'), match(3, 10), lit('d')}},
      // A longer match at the next position wins over the held one.
      {"_abcdbcdefabcdef", {lit('_'), lit('a'), lit('b'), lit('c'), lit('d'), match(3, 3), lit('e'),
                            lit('f'), lit('a'), match(6, 5)}},
  };
  for (const example& e : examples) {
    const bytes source = to_bytes(e.input);
    const deflate_trace trace = trace_of(compress_at(6, source), source);
    ASSERT_EQ(trace.blocks.size(), 1u);
    EXPECT_EQ(describe(trace.blocks[0].symbols), describe(e.expected)) << e.input;
  }
}

TEST(Parsing, GreedyTakesTheFirstMatch) {
  // The lazy parser gives "abcd" up for the longer "bcdef" (see above).
  const bytes source = to_bytes("_abcdbcdefabcdef");
  for (int level : {1, 2, 3}) {
    const deflate_trace trace = trace_of(compress_at(level, source), source);
    ASSERT_EQ(trace.blocks.size(), 1u);
    EXPECT_EQ(describe(trace.blocks[0].symbols),
              describe({lit('_'), lit('a'), lit('b'), lit('c'), lit('d'), match(3, 3), lit('e'),
                        lit('f'), match(9, 4), lit('e'), lit('f')}))
        << "level " << level;
  }
}

TEST(Parsing, FarThreeByteMatchesAreDropped) {
  // "xyz" recurs 4096 and 4097 bytes after its first copy, amid random
  // bytes of a 64-letter alphabet without x, y or z (compressible enough to
  // be coded rather than stored); a 4-byte match stays at any distance.
  bytes filler = random_bytes(8200, 3);
  for (uint8_t& b : filler) b = static_cast<uint8_t>(0x80 | (b & 0x3F));
  for (const auto& [gap, kept] : {std::pair{4096u, true}, std::pair{4097u, false}}) {
    bytes source = filler;
    const bytes word = to_bytes("xyz");
    std::copy(word.begin(), word.end(), source.begin() + 100);
    std::copy(word.begin(), word.end(), source.begin() + 100 + gap);
    const deflate_trace trace = trace_of(compress_at(6, source), source);
    bool found = false;
    for (const traced_symbol& s : trace.blocks[0].symbols) found |= s == match(gap, 3);
    EXPECT_EQ(found, kept) << "distance " << gap;
  }
  bytes source = filler;
  const bytes word = to_bytes("wxyz");
  std::copy(word.begin(), word.end(), source.begin() + 100);
  std::copy(word.begin(), word.end(), source.begin() + 8100);
  const deflate_trace trace = trace_of(compress_at(6, source), source);
  bool found = false;
  for (const traced_symbol& s : trace.blocks[0].symbols) found |= s == match(8000, 4);
  EXPECT_TRUE(found);
}

TEST(Blocks, EarlyEndAtTheFirstCheckpoint) {
  // Each unit is 3 fresh bytes and a 30-byte copy of the previous unit's
  // tail: 4 symbols per 33 bytes, a quarter of them matches, so the rough
  // price is well under half the input at 4096 symbols.
  const bytes tail = random_bytes(30, 11);
  bytes source;
  for (int unit = 0; unit < 1500; ++unit) {
    const bytes fresh = random_bytes(3, 100 + static_cast<uint64_t>(unit));
    source = concat({source, fresh, tail});
  }
  const deflate_trace trace = trace_of(compress_at(6, source), source);
  ASSERT_GE(trace.blocks.size(), 2u);
  EXPECT_EQ(trace.blocks[0].symbols.size(), 4096u);
  EXPECT_FALSE(trace.blocks[0].final);
}

TEST(Blocks, SymbolLimitAndStoredBlocks) {
  // One literal per byte: blocks end at the symbol limit, 32767 bytes each,
  // and are stored only while their start is still in the window. Blocks
  // start at multiples of 32767 but the window slides every 32768 bytes
  // (first at 65274), so blocks 1-5 lose their start to a slide and must be
  // coded though stored would be smaller; the last starts after the last
  // slide.
  const bytes source = matchless_bytes(200000, 5);
  const deflate_trace trace = trace_of(compress_at(6, source), source);
  ASSERT_EQ(trace.blocks.size(), 7u);
  for (size_t i = 0; i < trace.blocks.size(); ++i) {
    const traced_block& b = trace.blocks[i];
    EXPECT_EQ(b.input_length, i < 6 ? 32767u : 200000u - 6 * 32767u) << "block " << i;
    EXPECT_EQ(b.type != 0, i >= 1 && i <= 5) << "block " << i;
    EXPECT_EQ(b.final, i == 6);
  }
}

TEST(Blocks, ExactlyOneWindowIsOneFinalBlock) {
  const bytes source = repeat(to_bytes("a window's worth of text. "), 65536);
  const deflate_trace trace = trace_of(compress_at(6, source), source);
  ASSERT_EQ(trace.blocks.size(), 1u);
  EXPECT_TRUE(trace.blocks[0].final);
  EXPECT_EQ(trace.blocks[0].input_length, 65536u);
}

// Inputs placed at the edges that matter: the look-ahead (262), the window
// (65536), the output buffer (16 KiB), runs and stored blocks.
TEST(RoundTrip, SyntheticInputsAtEveryLevel) {
  std::vector<std::pair<std::string, bytes>> inputs;
  for (size_t n : {0, 1, 2, 3, 261, 262, 263, 65535, 65536, 65537}) {
    inputs.emplace_back("random " + std::to_string(n), random_bytes(n, n));
    inputs.emplace_back("constant " + std::to_string(n), bytes(n, 'q'));
  }
  const bytes text = to_bytes("It was the best of times, it was the worst of times; ");
  inputs.emplace_back("mixed", concat({repeat(text, 300000), random_bytes(200000, 9),
                                       bytes(300000, 0), repeat(to_bytes("ab"), 100000)}));
  for (const auto& [name, source] : inputs) {
    for (int level : {1, 3, 4, 6, 9}) {
      if (level != 6 && source.size() < 65535 && name != "mixed") continue;
      EXPECT_EQ(verify_container(compress_at(level, source, "x.bin"), source, "x.bin"), "")
          << name << " at level " << level;
    }
  }
}

TEST(RoundTrip, LargeRunsAndPatterns) {
  const std::pair<std::string, bytes> inputs[] = {
      {"one byte", bytes(1 << 20, 0x5A)},
      {"short pattern", repeat(to_bytes("xyzzy!"), 1 << 20)},
      {"mixed", concat({random_bytes(1 << 20, 1), repeat(to_bytes("abcdefgh"), 1 << 20),
                        random_bytes(1 << 19, 2), bytes(1 << 20, 0)})},
  };
  for (const auto& [name, source] : inputs) {
    EXPECT_EQ(verify_container(compress_with_pelk(source, "x.bin"), source, "x.bin"), "") << name;
  }
}

}  // namespace
}  // namespace pelk::test
