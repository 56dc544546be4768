// SPDX-License-Identifier: MIT
// Decoding follows RFC 1951 directly, one bit at a time; speed is no concern.
#include "tests/support/deflate_trace.h"

#include <array>

namespace pelk::test {
namespace {

constexpr std::array<int, 29> length_base = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195,
                                             227, 258};
constexpr std::array<int, 29> length_extra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> distance_base = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97,
                                               129, 193, 257, 385, 513, 769, 1025, 1537, 2049,
                                               3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> distance_extra = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct bit_reader {
  const std::vector<uint8_t>& data;
  size_t pos;  // in bits
  bool overrun = false;
  int bit() {
    if (pos / 8 >= data.size()) {
      overrun = true;
      return 0;
    }
    const int b = (data[pos / 8] >> (pos % 8)) & 1;
    ++pos;
    return b;
  }
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(bit()) << i;
    return v;
  }
};

// Canonical Huffman decoding from code lengths, as RFC 1951 section 3.2.2.
struct huffman {
  std::array<int, 16> count{};
  std::vector<int> symbols;
  explicit huffman(const std::vector<int>& lengths) {
    for (int len : lengths) ++count[len];
    count[0] = 0;
    std::array<int, 16> offset{};
    for (int len = 1; len < 16; ++len) offset[len] = offset[len - 1] + count[len - 1];
    symbols.resize(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s) {
      if (lengths[s] != 0) symbols[offset[lengths[s]]++] = static_cast<int>(s);
    }
  }
  int decode(bit_reader& in) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= in.bit();
      if (code - count[len] < first) return symbols[index + (code - first)];
      index += count[len];
      first = (first + count[len]) << 1;
      code <<= 1;
    }
    return -1;
  }
};

bool decode_symbols(bit_reader& in, const huffman& lit, const huffman& dist, traced_block& block,
                    std::vector<uint8_t>& out) {
  for (;;) {
    const int sym = lit.decode(in);
    if (sym < 0 || sym > 285 || in.overrun) return false;
    if (sym < 256) {
      block.symbols.push_back({0, static_cast<uint32_t>(sym)});
      out.push_back(static_cast<uint8_t>(sym));
      ++block.input_length;
      continue;
    }
    if (sym == 256) return true;
    const int len = length_base[sym - 257] + static_cast<int>(in.bits(length_extra[sym - 257]));
    const int dcode = dist.decode(in);
    if (dcode < 0 || dcode > 29) return false;
    const size_t d = static_cast<size_t>(distance_base[dcode]) + in.bits(distance_extra[dcode]);
    if (d > out.size()) return false;
    for (int i = 0; i < len; ++i) out.push_back(out[out.size() - d]);
    block.symbols.push_back({static_cast<uint32_t>(d), static_cast<uint32_t>(len)});
    block.input_length += static_cast<uint64_t>(len);
  }
}

}  // namespace

std::optional<deflate_trace> trace_deflate(const std::vector<uint8_t>& data, size_t offset) {
  deflate_trace trace;
  bit_reader in{data, offset * 8};
  bool final = false;
  while (!final) {
    traced_block block;
    final = block.final = in.bit() != 0;
    block.type = static_cast<int>(in.bits(2));
    if (block.type == 0) {
      in.pos = (in.pos + 7) / 8 * 8;
      const uint32_t len = in.bits(16), nlen = in.bits(16);
      if ((len ^ 0xFFFF) != nlen) return std::nullopt;
      for (uint32_t i = 0; i < len; ++i) trace.output.push_back(static_cast<uint8_t>(in.bits(8)));
      block.input_length = len;
    } else if (block.type == 1) {
      std::vector<int> lit_lengths(288), dist_lengths(30, 5);
      for (int s = 0; s < 288; ++s) lit_lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
      if (!decode_symbols(in, huffman(lit_lengths), huffman(dist_lengths), block, trace.output)) {
        return std::nullopt;
      }
    } else if (block.type == 2) {
      block.hlit = static_cast<int>(in.bits(5)) + 257;
      block.hdist = static_cast<int>(in.bits(5)) + 1;
      block.hclen = static_cast<int>(in.bits(4)) + 4;
      static constexpr int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
      std::vector<int> clen(19);
      for (int i = 0; i < block.hclen; ++i) clen[order[i]] = static_cast<int>(in.bits(3));
      const huffman clen_code(clen);
      std::vector<int> lengths;
      while (lengths.size() < static_cast<size_t>(block.hlit + block.hdist)) {
        const int sym = clen_code.decode(in);
        if (sym < 0 || in.overrun) return std::nullopt;
        if (sym < 16) {
          lengths.push_back(sym);
        } else if (sym == 16) {
          if (lengths.empty()) return std::nullopt;
          const int prev = lengths.back();
          for (uint32_t n = 3 + in.bits(2); n > 0; --n) lengths.push_back(prev);
        } else {
          for (uint32_t n = sym == 17 ? 3 + in.bits(3) : 11 + in.bits(7); n > 0; --n) lengths.push_back(0);
        }
      }
      if (lengths.size() != static_cast<size_t>(block.hlit + block.hdist)) return std::nullopt;
      const std::vector<int> lit_lengths(lengths.begin(), lengths.begin() + block.hlit);
      const std::vector<int> dist_lengths(lengths.begin() + block.hlit, lengths.end());
      if (!decode_symbols(in, huffman(lit_lengths), huffman(dist_lengths), block, trace.output)) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
    if (in.overrun) return std::nullopt;
    trace.blocks.push_back(std::move(block));
  }
  trace.stream_bytes = (in.pos + 7) / 8 - offset;
  return trace;
}

std::string describe(const std::vector<traced_symbol>& symbols) {
  std::string text;
  for (const traced_symbol& s : symbols) {
    if (!text.empty()) text += ' ';
    text += s.distance == 0 ? std::string(1, static_cast<char>(s.value))
                            : "<" + std::to_string(s.distance) + "," + std::to_string(s.value) + ">";
  }
  return text;
}

}  // namespace pelk::test
