// libFuzzer target for the compressor: each input is compressed in process,
// one container after another in the same process, through memory files, and
// checked with libdeflate: header fields, a stream that inflates to exactly
// the input, and the CRC trailer right after it. The compressor is one
// static object, as in the pelk program, and its container must equal the
// one pelk_compress writes with a fresh object: nothing of an earlier input
// may leak into a later one. Any mismatch aborts.
//
// An input whose first byte is F0 or above stands for a longer one: the rest
// is tiled, each copy slightly altered, to up to 16 x 40000 bytes, so that
// window slides and multi-block streams are reached too.
#include <libdeflate.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "container/container.h"
#include "inflate/byte_source.h"
#include "pelk.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

uint32_t le32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

std::vector<uint8_t> source_of(const uint8_t* data, size_t size) {
  if (size < 2 || data[0] < 0xF0) return std::vector<uint8_t>(data, data + size);
  std::vector<uint8_t> source(size_t{data[0] - 0xEFu} * 40000);
  for (size_t i = 0; i < source.size(); ++i) {
    source[i] = static_cast<uint8_t>(data[1 + i % (size - 1)] ^ (i / (size - 1) % 3));
  }
  return source;
}

int collect(void* context, const uint8_t* data, size_t size) {
  static_cast<std::vector<uint8_t>*>(context)->insert(static_cast<std::vector<uint8_t>*>(context)->end(), data,
                                                       data + size);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int input_fd = memfd_create("pelk-fuzz-in", 0);
  static int output_fd = memfd_create("pelk-fuzz-out", 0);
  static pelk::deflate_compressor compressor;
  static libdeflate_decompressor* const inflater = libdeflate_alloc_decompressor();
  check(input_fd >= 0 && output_fd >= 0 && inflater != nullptr);

  const std::vector<uint8_t> source = source_of(data, size);
  check(ftruncate(input_fd, 0) == 0 && ftruncate(output_fd, 0) == 0);
  check(pwrite(input_fd, source.data(), source.size(), 0) == static_cast<ssize_t>(source.size()));
  check(lseek(input_fd, 0, SEEK_SET) == 0 && lseek(output_fd, 0, SEEK_SET) == 0);

  const pelk::container_result result =
      pelk::write_container(compressor, {pelk::read_descriptor, &input_fd},
                            {{pelk::write_descriptor, &output_fd}, pelk::overwrite_descriptor},
                            {source.size(), pelk::path_tail("dir\\sub/fuzz.bin"), 0x5A17C0DE});
  check(result.bytes_read == source.size() && result.read_error == 0 && result.write_error == 0);

  std::vector<uint8_t> c(static_cast<size_t>(lseek(output_fd, 0, SEEK_CUR)));
  check(pread(output_fd, c.data(), c.size(), 0) == static_cast<ssize_t>(c.size()));
  const size_t stream_at = 12 + sizeof "fuzz.bin";
  check(c.size() >= stream_at + 4 && c[0] == 0x1F && c[1] == 0xAB && c[2] == 8 && c[3] == 8);
  check(le32(&c[4]) == 0x5A17C0DE && le32(&c[8]) == source.size());
  check(std::memcmp(&c[12], "fuzz.bin", sizeof "fuzz.bin") == 0);

  std::vector<uint8_t> inflated(source.size() + 1);  // a spare byte: a longer stream fails
  size_t used = 0, produced = 0;
  check(libdeflate_deflate_decompress_ex(inflater, &c[stream_at], c.size() - stream_at, inflated.data(),
                                         inflated.size(), &used, &produced) == LIBDEFLATE_SUCCESS);
  inflated.resize(produced);
  check(inflated == source);
  check(stream_at + used + 4 == c.size());
  check(le32(&c[stream_at + used]) == libdeflate_crc32(0, source.data(), source.size()));

  std::vector<uint8_t> fresh(pelk_compress_bound(source.size(), sizeof "fuzz.bin" - 1));
  size_t fresh_size = 0;
  check(pelk_compress(source.data(), source.size(), "fuzz.bin", 0x5A17C0DE, fresh.data(), fresh.size(),
                      &fresh_size) == PELK_OK);
  check(fresh_size == c.size() && std::memcmp(fresh.data(), c.data(), c.size()) == 0);

  pelk::memory_input input{source.data(), source.size(), 1 + source.size() % 70001};
  std::vector<uint8_t> parallel;
  pelk::container_settings settings{source.size(), "fuzz.bin", 0x5A17C0DE};
  settings.threads = 2 + static_cast<unsigned>(source.size() % 3);
  settings.segment_size = source.size() % 2 == 0 ? 32768 : 65536;
  pelk::write_container(compressor, {pelk::read_memory, &input}, {{collect, &parallel}, nullptr}, settings);
  check(parallel == c);
  return 0;
}
