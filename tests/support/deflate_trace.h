// SPDX-License-Identifier: MIT
// A small, slow, independent deflate decoder for tests: it records what the
// stream says, block by block and symbol by symbol, so tests can check the
// parser's choices and the block boundaries of the real binary's output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelk::test {

struct traced_symbol {
  uint32_t distance;  // 0 for a literal
  uint32_t value;     // the literal byte, or the match length
  bool operator==(const traced_symbol&) const = default;
};

struct traced_block {
  int type = 0;  // 0 stored, 1 fixed, 2 dynamic
  bool final = false;
  uint64_t input_length = 0;  // bytes the block decodes to
  std::vector<traced_symbol> symbols;  // empty for stored blocks
  int hlit = 0, hdist = 0, hclen = 0;  // dynamic blocks: counts sent
};

struct deflate_trace {
  std::vector<traced_block> blocks;
  std::vector<uint8_t> output;
  size_t stream_bytes = 0;  // length of the stream, up to its last byte
};

// Decodes the raw deflate stream at data[offset..]; nothing if it is invalid.
std::optional<deflate_trace> trace_deflate(const std::vector<uint8_t>& data, size_t offset);

inline traced_symbol lit(char c) { return {0, static_cast<uint8_t>(c)}; }
inline traced_symbol match(uint32_t distance, uint32_t length) { return {distance, length}; }

std::string describe(const std::vector<traced_symbol>& symbols);

}  // namespace pelk::test
