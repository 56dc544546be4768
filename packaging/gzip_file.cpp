// SPDX-License-Identifier: MIT
// gzip_file SOURCE TARGET: writes SOURCE as a gzip file, for the files a
// Debian package must carry compressed (its changelog.gz). The deflate
// stream is libpelk's, taken from the container pelk_compress writes; the
// gzip member around it has no name and a zero time, so the same SOURCE
// always gives the same bytes. Built and run at build time only.
#include <pelk.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int fail(const char* what, const char* path) {
  std::fprintf(stderr, "gzip_file: %s: %s\n", path, what);
  return 1;
}

void put_le32(std::string& out, std::uint64_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xff));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gzip_file SOURCE TARGET\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return fail("cannot open", argv[1]);
  const std::vector<char> source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return fail("read error", argv[1]);

  std::vector<unsigned char> container(pelk_compress_bound(source.size(), 0));
  size_t container_size = 0;
  int status = pelk_compress(source.data(), source.size(), nullptr, 0, container.data(), container.size(),
                             &container_size);
  pelk_header header{};
  if (status == PELK_OK) status = pelk_read_header(container.data(), container_size, &header);
  if (status != PELK_OK) return fail(pelk_error_string(status), argv[1]);

  // After its header the container holds the stream and the CRC-32,
  // little-endian as gzip stores it; gzip adds the size modulo 2^32.
  std::string out{"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10};  // deflate, no flags or time, Unix
  out.append(reinterpret_cast<const char*>(container.data()) + header.header_size,
             container_size - header.header_size);
  put_le32(out, source.size());

  std::ofstream target(argv[2], std::ios::binary | std::ios::trunc);
  if (!target.write(out.data(), static_cast<std::streamsize>(out.size())) || !target.flush())
    return fail("write error", argv[2]);
  return 0;
}
