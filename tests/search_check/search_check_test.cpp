// SPDX-License-Identifier: MIT
// The keyed search against the plain chain walk, at every search: this test
// links an engine built so that each search of the lazy parse runs both and
// stops the process at the first difference, and feeds it the corpus and
// inputs built at the edges of the search, sequentially and in parallel
// jobs that start from a fresh finder. The inputs at the edges also check
// that the edge is really there: which candidate the search must take is
// decided by the rules of the search alone (its budget, its floor, position
// 0), read back from the stream by an independent decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "container/container.h"
#include "inflate/byte_source.h"
#include "tests/support/deflate_trace.h"
#include "tests/support/in_process.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

bytes compress(const bytes& data, int level, unsigned threads, uint32_t segment_size) {
  return compress_in_process(data, threads, segment_size, level);
}

// Every lazy level sequentially; at the program's level also in jobs of 32
// KiB on two and three threads, each of whose finders starts afresh.
void check_everywhere(const std::string& name, const bytes& data) {
  for (int level = 4; level <= 9; ++level) {
    const bytes sequential = compress(data, level, 1, default_segment_size);
    ASSERT_EQ(verify_container(sequential, data, "s"), "") << name << " at level " << level;
    if (level != 6) continue;
    for (unsigned threads : {2u, 3u}) {
      EXPECT_TRUE(compress(data, level, threads, 32768) == sequential) << name << ", " << threads << " threads";
    }
  }
}

// The three-byte hash of the chains, typed in from its definition: which
// positions share a chain decides which entry a candidate is.
uint32_t chain_hash(const bytes& d, size_t p) {
  return ((uint32_t{d[p]} << 10) ^ (uint32_t{d[p + 1]} << 5) ^ d[p + 2]) & 0x7FFF;
}

// Filler that shares no byte with the pieces placed into it, and keeps
// their chains to themselves: the low five bits of a chain's hash are
// those of the third byte, and no filler byte has the low five bits of
// '#', the third byte of every word placed (nor has any other byte of
// them).
bytes filler(size_t count, uint64_t seed) {
  bytes data = random_bytes(count, seed);
  for (uint8_t& b : data) {
    b |= 0x80;
    if ((b & 31) == ('#' & 31)) b ^= 1;
  }
  return data;
}

void put(bytes& data, size_t at, const bytes& piece) { std::copy(piece.begin(), piece.end(), data.begin() + at); }

// The symbol of the level-6 stream that starts at input position p, if one
// does.
std::optional<traced_symbol> symbol_at(const bytes& container, size_t p) {
  const auto view = parse_header(container);
  const auto trace = view ? trace_deflate(container, view->stream_offset) : std::nullopt;
  if (!trace) return std::nullopt;
  size_t at = 0;
  for (const traced_block& block : trace->blocks) {
    if (block.type == 0) {
      at += block.input_length;
      continue;
    }
    for (const traced_symbol& s : block.symbols) {
      if (at == p) return s;
      if (at > p) return std::nullopt;
      at += s.distance == 0 ? 1 : s.value;
    }
  }
  return std::nullopt;
}

// A word of 39 bytes sought at s, and where the chain of its first three
// bytes holds it in full: `nearer` copies that agree in 8 bytes only lie
// between, so the full copy is entry nearer + 1 of the search at s (entry
// nearer + 2 with a held match, whose own copy is entry 1). With held, the
// byte before s starts a 10-byte match, held when the search at s begins,
// which cuts the budget to a quarter.
struct budget_case {
  bytes data;
  size_t scan;  // s
  size_t full;  // the full copy
};

budget_case budget_edge(size_t nearer, bool held, size_t s_offset) {
  const bytes word = to_bytes("Kq#:word sought in full at the first s!");
  budget_case c;
  c.scan = s_offset;
  c.data = filler(s_offset + 2000, nearer * 7 + held);
  size_t at = s_offset - 24000;
  c.full = at;
  put(c.data, at, word);
  c.data[at + word.size()] = '1';  // the copy ends where the word does
  at += 200;
  for (size_t i = 0; i < nearer; ++i, at += 20) {
    put(c.data, at, bytes(word.begin(), word.begin() + 8));
    c.data[at + 8] = '~';
  }
  if (held) {
    // "%" and the word's first 9 bytes: the search at s - 1 holds 10.
    put(c.data, at, to_bytes("%"));
    put(c.data, at + 1, bytes(word.begin(), word.begin() + 9));
    c.data[at + 10] = '~';
  }
  c.data[s_offset - 1] = '%';
  put(c.data, s_offset, word);
  c.data[s_offset + word.size()] = '2';
  return c;
}

// The entry that position `target` is on the chain of a search at s.
size_t entry_on_chain(const bytes& d, size_t s, size_t target) {
  size_t entry = 0;
  for (size_t p = s; p-- > target;) entry += chain_hash(d, p) == chain_hash(d, s);
  return entry;
}

TEST(SearchCheck, BudgetEdges) {
  // Without a held match 128 candidates, with one of 10 (>= 8) a quarter.
  for (const bool held : {false, true}) {
    const size_t budget = held ? 32 : 128;
    for (size_t entry = budget - 1; entry <= budget + 2; ++entry) {
      for (const size_t s_offset : {30000u, 70000u, 100000u}) {
        const budget_case c = budget_edge(held ? entry - 2 : entry - 1, held, s_offset);
        ASSERT_EQ(entry_on_chain(c.data, c.scan, c.full), entry) << "the input is not built as meant";
        const std::string name = (held ? "held, entry " : "entry ") + std::to_string(entry);
        check_everywhere(name, c.data);
        const auto symbol = symbol_at(compress(c.data, 6, 1, default_segment_size), c.scan);
        if (entry <= budget) {
          EXPECT_TRUE(symbol && *symbol == match(uint32_t(c.scan - c.full), 39)) << name;
        } else {
          EXPECT_FALSE(symbol && symbol->distance == c.scan - c.full) << name;
        }
      }
    }
  }
}

// The floor: the chain's first entry may lie exactly max_distance (32506)
// back, a later one must lie nearer. With a held match of 3 (from a copy
// of the byte before and s's first two bytes, in another chain) the search
// starts on a keyed chain. Each s is a multiple of 1 KiB, where the checking
// build starts its keyed chains anew, from the floor.
TEST(SearchCheck, FloorEdges) {
  const bytes word = to_bytes("Fq#:farthest one of this word");
  for (const size_t s_offset : {40 * 1024u, 69 * 1024u, 137 * 1024u}) {
    for (const size_t back : {32505u, 32506u, 32507u}) {
      for (const bool as_head : {true, false}) {
        for (const bool held : {false, true}) {
          bytes data = filler(s_offset + 1000, back + as_head + 2 * held);
          put(data, s_offset - back, word);
          if (!as_head) {
            put(data, s_offset - 100, bytes(word.begin(), word.begin() + 6));  // the head: 6 bytes
            data[s_offset - 94] = '~';
          }
          if (held) put(data, s_offset - 50, to_bytes("%FqX"));
          data[s_offset - 1] = '%';
          put(data, s_offset, word);
          data[s_offset - back + word.size()] = '1';
          data[s_offset + word.size()] = '2';
          ASSERT_EQ(entry_on_chain(data, s_offset, s_offset - back), as_head ? 1u : 2u)
              << "the input is not built as meant";
          const std::string name = std::to_string(back) + (as_head ? " back as the head" : " back after the head") +
                                   (held ? ", 3 held" : "");
          check_everywhere(name, data);
          const auto symbol = symbol_at(compress(data, 6, 1, default_segment_size), s_offset);
          const bool reachable = as_head ? back <= 32506 : back < 32506;
          EXPECT_EQ(symbol && *symbol == match(uint32_t(back), uint32_t(word.size())), reachable) << name;
        }
      }
    }
  }
}

// Position 0 is never a candidate: a word at the input's start, repeated,
// is first matched from its second copy.
TEST(SearchCheck, PositionZero) {
  const bytes word = to_bytes("Zq#:the first word of the input");
  bytes data = filler(20000, 3);
  put(data, 0, word);
  put(data, 5000, word);
  put(data, 12000, word);
  data[word.size()] = '1';
  data[5000 + word.size()] = '2';
  data[12000 + word.size()] = '3';
  check_everywhere("position 0", data);
  const bytes container = compress(data, 6, 1, default_segment_size);
  const auto second = symbol_at(container, 5000);
  EXPECT_TRUE(second && second->distance == 0);
  EXPECT_TRUE(symbol_at(container, 12000) == match(7000, uint32_t(word.size())));
}

// Runs, periods, data without matches, sizes at the window's edges (the
// last searches compare into what lies past the input), and mixtures.
TEST(SearchCheck, BuiltInputs) {
  std::vector<std::pair<std::string, bytes>> inputs = {
      {"one byte", bytes(200000, 0)},
      {"period 2", repeat(to_bytes("ab"), 150001)},
      {"period 7", repeat(to_bytes("abcdefg"), 150001)},
      {"period 300", repeat(random_bytes(300, 3), 200000)},
      {"random", random_bytes(150000, 9)},
      {"copies", with_copies(400000, 5)},
  };
  {
    // The same text, then its end again 32 KiB later: matches run into
    // the end of the input and the window's leftovers past it.
    bytes tail_twice = with_copies(3 * 32768 + 20000, 11);
    std::copy(tail_twice.end() - 20, tail_twice.end(), tail_twice.end() - 32768 - 20);
    inputs.emplace_back("tail twice", std::move(tail_twice));
  }
  {
    bytes mixed = with_copies(120000, 13);
    const bytes noise = random_bytes(90000, 14);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.resize(mixed.size() + 30000, 'x');
    const bytes more = with_copies(100000, 15);
    mixed.insert(mixed.end(), more.begin(), more.end());
    inputs.emplace_back("mixed", std::move(mixed));
  }
  for (size_t size : {1u, 2u, 3u, 261u, 262u, 263u, 65273u, 65274u, 65275u, 65535u, 65536u, 65537u, 98304u,
                      131072u, 131073u}) {
    inputs.emplace_back("size " + std::to_string(size), with_copies(size, size));
  }
  for (const auto& [name, data] : inputs) check_everywhere(name, data);
}

TEST(SearchCheck, Corpus) {
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  for (const auto& entry : sorted_entries(*corpus)) {
    const bytes data = read_file(*corpus / entry);
    const bytes sequential = compress(data, 6, 1, default_segment_size);
    EXPECT_EQ(verify_container(sequential, data, "s"), "") << entry;
    EXPECT_TRUE(compress(data, 6, 2, 32768) == sequential) << entry;
  }
}

}  // namespace
}  // namespace pelk::test
