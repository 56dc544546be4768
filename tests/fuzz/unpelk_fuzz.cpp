// SPDX-License-Identifier: MIT
// libFuzzer target for unpelk's reader: arbitrary bytes must never crash,
// hang or read out of bounds, and the inflater must agree with libdeflate.
//
// The first byte chooses what the rest is, and how finely it is fed (in
// pieces of 1 to 64 bytes, so every refill boundary is crossed):
//   mode 0  a container, restored by pelk_decompress and, fed in pieces,
//           by pelk_decompress_stream: both give the same code, and a
//           success must be true (the size field, the CRC-32 and
//           libdeflate's reading of the stream all agree with the output);
//   mode 1  a raw deflate stream: whenever ours decodes it, libdeflate must
//           too, to the same bytes, stopping at the same byte;
//   mode 2  the data compressed by libdeflate (level from the next byte),
//           with one byte altered at the place the two bytes after it give
//           (a place past the end alters nothing, and then the stream must
//           decode to the data), then checked as in mode 1.
#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inflate/byte_source.h"
#include "inflate/inflate.h"
#include "pelk.h"

namespace {

constexpr size_t output_cap = 1 << 20;

void check(bool ok) {
  if (!ok) std::abort();
}

int collect(void* context, const uint8_t* data, size_t size) {
  auto& out = *static_cast<std::vector<uint8_t>*>(context);
  if (out.size() + size > output_cap) return ENOSPC;
  out.insert(out.end(), data, data + size);
  return 0;
}

// The C API's callbacks: reads from memory, writes into a vector.
struct api_io {
  pelk::memory_input input;
  std::vector<uint8_t>* out;
};

ptrdiff_t read_api(void* user, void* buffer, size_t capacity) {
  return pelk::read_memory(&static_cast<api_io*>(user)->input, static_cast<uint8_t*>(buffer), capacity);
}

int write_api(void* user, const void* data, size_t size) {
  return collect(static_cast<api_io*>(user)->out, static_cast<const uint8_t*>(data), size);
}

// Decodes stream with both inflaters and compares them.
void compare_with_libdeflate(pelk::inflater& state, const uint8_t* stream, size_t size, size_t chunk,
                             const std::vector<uint8_t>* expected) {
  static libdeflate_decompressor* const reference = libdeflate_alloc_decompressor();
  pelk::memory_input input{stream, size, chunk};
  pelk::byte_source source{pelk::read_memory, &input};
  static std::vector<uint8_t> ours, theirs(output_cap);
  ours.clear();
  const pelk::inflate_result result = pelk::inflate_stream(state, source, {collect, &ours});

  size_t used = 0, produced = 0;
  const libdeflate_result verdict = libdeflate_deflate_decompress_ex(reference, stream, size, theirs.data(),
                                                                     theirs.size(), &used, &produced);
  // Ours is the stricter of the two (it refuses code-length runs past the
  // alphabets, the forbidden symbols 286, 287, 30 and 31, and the unused
  // code of a one-code alphabet, which libdeflate lets through), so its
  // successes are a subset of libdeflate's, and libdeflate's successes are
  // never truncations for ours.
  if (result.status == pelk::inflate_status::ok) {
    check(verdict == LIBDEFLATE_SUCCESS && pelk::position(source) == used);
    check(ours.size() == produced && std::equal(ours.begin(), ours.end(), theirs.begin()));
  } else if (verdict == LIBDEFLATE_SUCCESS) {
    check(result.status == pelk::inflate_status::corrupt || result.status == pelk::inflate_status::write_failed);
  }
  if (expected != nullptr) check(result.status == pelk::inflate_status::ok && ours == *expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const pelk::inflater_ptr state = pelk::make_inflater();
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 3;
  const size_t chunk = 1 + (data[0] >> 2) % 64;
  ++data;
  --size;

  if (mode == 0) {
    static std::vector<uint8_t> out(output_cap);
    size_t produced = 0;
    const int status = pelk_decompress(data, size, out.data(), out.size(), &produced);
    check(status <= PELK_OK && status >= PELK_ERROR_TRAILING_DATA);

    static std::vector<uint8_t> streamed;
    streamed.clear();
    api_io io{{data, size, chunk}, &streamed};
    const int stream_status = pelk_decompress_stream(read_api, write_api, &io);
    check(stream_status == status || (status == PELK_ERROR_OUTPUT_TOO_SMALL && stream_status == PELK_ERROR_WRITE));

    if (status == PELK_OK) {
      check(streamed.size() == produced && std::equal(streamed.begin(), streamed.end(), out.begin()));
      pelk_header header;
      check(pelk_read_header(data, size, &header) == PELK_OK);
      check(static_cast<uint32_t>(produced) == header.size_field);
      check(libdeflate_crc32(0, out.data(), produced) ==
            (uint32_t{data[size - 4]} | uint32_t{data[size - 3]} << 8 | uint32_t{data[size - 2]} << 16 |
             uint32_t{data[size - 1]} << 24));
      static std::vector<uint8_t> theirs(output_cap);
      static libdeflate_decompressor* const reference = libdeflate_alloc_decompressor();
      size_t used = 0, their_size = 0;
      check(libdeflate_deflate_decompress_ex(reference, data + header.header_size, size - header.header_size,
                                             theirs.data(), theirs.size(), &used, &their_size) == LIBDEFLATE_SUCCESS);
      check(header.header_size + used + 4 == size && their_size == produced &&
            std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(produced), theirs.begin()));
    }
  } else if (mode == 1) {
    compare_with_libdeflate(*state, data, size, chunk, nullptr);
  } else if (size >= 3) {
    static libdeflate_compressor* compressors[13] = {};
    const int level = data[0] % 13;
    if (compressors[level] == nullptr) compressors[level] = libdeflate_alloc_compressor(level);
    const size_t place = size_t{data[1]} | size_t{data[2]} << 8;
    const std::vector<uint8_t> original(data + 3, data + size);
    std::vector<uint8_t> stream(libdeflate_deflate_compress_bound(compressors[level], original.size()));
    stream.resize(libdeflate_deflate_compress(compressors[level], original.data(), original.size(),
                                              stream.data(), stream.size()));
    check(!stream.empty());
    const bool altered = place < stream.size();
    if (altered) stream[place] ^= static_cast<uint8_t>(1 + data[0] / 13);
    compare_with_libdeflate(*state, stream.data(), stream.size(), chunk, altered ? nullptr : &original);
  }
  return 0;
}
