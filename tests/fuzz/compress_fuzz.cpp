// SPDX-License-Identifier: MIT
// libFuzzer target for the compressor: each input is compressed in process
// into a container, and the container checked with libdeflate: header
// fields, a stream that inflates to exactly the input, and the CRC trailer
// right after it. Then, differentially, against that one-thread container:
//   - one compressor object is reused for every input, as the pelk program
//     reuses its static one, and nothing of an earlier input may leak into
//     a later one: a source of one segment is compressed again by an object
//     zero-filled anew;
//   - a source of more is compressed again on two threads in the smallest
//     segments (32 KiB), and past two segments on a thread count and
//     segment size the input chooses, reading in pieces of odd sizes; their
//     workers' finders are fresh, so they check the reused object too.
// Any mismatch aborts. Everything is allocated once, so an input costs
// only its compressions.
//
// An input whose first byte is F0 or above (one in sixteen of them, see
// source_of) stands for a longer source: the rest is tiled, copies altered,
// to between 38 and 132 KiB, so that small inputs reach the threads' splice
// too, and past 64 KiB the third compression, on more threads. (Segments
// cannot be shorter than 32 KiB: each starts where the one-thread window's
// place is known, at a multiple of half of it.) The raw inputs stop at
// 64 KiB, two segments, short of that third compression.
#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container/container.h"
#include "inflate/byte_source.h"

namespace {

constexpr uint32_t stamp = 0x5A17C0DE;
constexpr char stored_name[] = "fuzz.bin";
constexpr uint32_t smallest_segment = 32768;

void check(bool ok) {
  if (!ok) std::abort();
}

uint32_t le32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void source_of(const uint8_t* data, size_t size, std::vector<uint8_t>& source) {
  // A long source costs as much as a hundred short ones: so that they stay
  // a small share of the inputs tried (those that reach new code are kept
  // and mutated most), only a sixteenth of the inputs that begin so stand
  // for one, chosen by their checksum, so each input always means the same.
  if (size < 2 || data[0] < 0xF0 || libdeflate_crc32(0, data, size) % 16 != 0) {
    source.assign(data, data + size);
    return;
  }
  // Each copy of the rest has its bytes XORed with a byte that a generator
  // of pseudo-random numbers picks: the copies meet each other at varying
  // distances, and the whole has no short period (where parses on several
  // threads would never meet, and their splice would go untried) nor a
  // small alphabet (whose long hash chains would make each input slow).
  const size_t length = smallest_segment + size_t{data[0] - 0xEFu} * 6400;
  source.resize(length);
  uint32_t random = 12345;
  for (size_t at = 0; at < length;) {
    random = random * 1103515245u + 12345u;
    const auto key = static_cast<uint8_t>(random >> 16);
    for (size_t i = 1; i < size && at < length; ++i) source[at++] = static_cast<uint8_t>(data[i] ^ key);
  }
}

int collect(void* context, const uint8_t* data, size_t size) {
  auto& out = *static_cast<std::vector<uint8_t>*>(context);
  out.insert(out.end(), data, data + size);
  return 0;
}

// Compresses source with compressor on `threads` threads in segments of
// segment_size, reading it in pieces of at most `piece` bytes, into out.
void compress(pelk::deflate_compressor& compressor, const std::vector<uint8_t>& source, unsigned threads,
              uint32_t segment_size, size_t piece, std::vector<uint8_t>& out) {
  out.clear();
  pelk::memory_input input{source.data(), source.size(), piece};
  pelk::container_settings settings{source.size(), stored_name, stamp};
  settings.threads = threads;
  settings.segment_size = segment_size;
  const pelk::container_result result =
      pelk::write_container(compressor, {pelk::read_memory, &input}, {{collect, &out}, nullptr}, settings);
  check(result.bytes_read == source.size() && result.read_error == 0 && result.write_error == 0 &&
        !result.out_of_memory);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* const reused = static_cast<pelk::deflate_compressor*>(std::calloc(1, sizeof(pelk::deflate_compressor)));
  static auto* const fresh = static_cast<pelk::deflate_compressor*>(std::malloc(sizeof(pelk::deflate_compressor)));
  static libdeflate_decompressor* const inflater = libdeflate_alloc_decompressor();
  static std::vector<uint8_t> source, container, other, inflated;
  check(reused != nullptr && fresh != nullptr && inflater != nullptr);

  source_of(data, size, source);
  compress(*reused, source, 1, pelk::default_segment_size, 1 + source.size() % 70001, container);
  const std::vector<uint8_t>& c = container;
  const size_t stream_at = 12 + sizeof stored_name;
  check(c.size() >= stream_at + 4 && c[0] == 0x1F && c[1] == 0xAB && c[2] == 8 && c[3] == 8);
  check(le32(&c[4]) == stamp && le32(&c[8]) == source.size());
  check(std::memcmp(&c[12], stored_name, sizeof stored_name) == 0);

  inflated.resize(source.size() + 1);  // a spare byte: a longer stream fails
  size_t used = 0, produced = 0;
  check(libdeflate_deflate_decompress_ex(inflater, &c[stream_at], c.size() - stream_at, inflated.data(),
                                         inflated.size(), &used, &produced) == LIBDEFLATE_SUCCESS);
  check(produced == source.size() && std::equal(source.begin(), source.end(), inflated.begin()));
  check(stream_at + used + 4 == c.size());
  check(le32(&c[stream_at + used]) == libdeflate_crc32(0, source.data(), source.size()));

  if (source.size() <= smallest_segment) {
    std::memset(static_cast<void*>(fresh), 0, sizeof(pelk::deflate_compressor));
    compress(*fresh, source, 1, pelk::default_segment_size, SIZE_MAX, other);
    check(other == container);
    return 0;
  }
  compress(*reused, source, 2, smallest_segment, 4093, other);
  check(other == container);
  const uint8_t choice = data[size - 1];
  // Segments of 64 KiB only where the source spans more than two of them.
  const uint32_t segment =
      choice & 1 && source.size() > 4 * smallest_segment ? 2 * smallest_segment : smallest_segment;
  if (source.size() > 2 * segment) {
    compress(*reused, source, 3 + (choice >> 1) % 7, segment, 1 + choice * 257u, other);
    check(other == container);
  }
  return 0;
}
