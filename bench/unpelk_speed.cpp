// SPDX-License-Identifier: MIT
// unpelk's decompression speed beside libdeflate's, on the same streams.
//
// For each large corpus file the real pelk binary writes a container; its
// deflate stream is then decoded, in this process, by
//   - unpelk's streaming inflater, fed from memory through its fixed 128 KiB
//     input buffer into a sink that drops the bytes (constant memory),
//   - the same, through the container reader, with the CRC-32 and the size
//     checked as `unpelk -t` does,
//   - libdeflate's whole-buffer decompressor into a buffer of the full size.
// The three alternate, run after run, and the table shows the medians in MB
// of decompressed data per second (10^6 bytes).
//
//   unpelk_speed [runs] [file...]      default: 7 runs of dickens mr reymont xml
#include <libdeflate.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "inflate/byte_source.h"
#include "common/crc32.h"
#include "container/container_reader.h"
#include "inflate/inflate.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

bytes read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The container pelk writes for path.
bytes compress_with_pelk(const fs::path& path) {
  const fs::path out = fs::temp_directory_path() / ("unpelk_speed_" + path.filename().string() + ".plk");
  const std::string command =
      std::string("'") + PELK_BINARY_PATH + "' '" + path.string() + "' '" + out.string() + "' >/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  bytes container = read_all(out);
  fs::remove(out);
  return container;
}

struct counting_sink {
  uint64_t size = 0;
  uint32_t crc = 0;
};
int count_bytes(void* context, const uint8_t*, size_t size) {
  static_cast<counting_sink*>(context)->size += size;
  return 0;
}
int crc_bytes(void* context, const uint8_t* data, size_t size) {
  auto& sink = *static_cast<counting_sink*>(context);
  sink.size += size;
  sink.crc = pelk::crc32_extend(sink.crc, data, size);
  return 0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    if (i == 1 && std::atoi(argv[i]) > 0) {
      runs = std::atoi(argv[i]);
    } else {
      names.push_back(argv[i]);
    }
  }
  if (names.empty()) names = {"dickens", "mr", "reymont", "xml"};

  pelk::inflater_ptr state = pelk::make_inflater();
  libdeflate_decompressor* libdeflate = libdeflate_alloc_decompressor();
  std::printf("%-10s %12s %14s %14s %16s %8s\n", "file", "size", "unpelk MB/s", "unpelk -t MB/s",
              "libdeflate MB/s", "ratio");
  int status = 0;
  for (const std::string& name : names) {
    const fs::path path = fs::path(PELK_CORPUS_DIR) / name;
    const bytes source = read_all(path);
    const bytes container = compress_with_pelk(path);
    pelk::memory_input header_input{container.data(), container.size()};
    pelk::byte_source header_source{pelk::read_memory, &header_input};
    pelk::container_header header;
    if (source.empty() || container.empty() || pelk::read_container_header(header_source, header).fault != pelk::container_fault::none) {
      std::printf("%-10s cannot be read or compressed\n", name.c_str());
      status = 1;
      continue;
    }
    const size_t stream_start = static_cast<size_t>(pelk::position(header_source));
    const uint8_t* stream = container.data() + stream_start;
    const size_t stream_size = container.size() - stream_start - 4;

    bytes whole(source.size());
    std::vector<double> ours, checked, theirs;
    bool correct = true;
    for (int run = 0; run < runs; ++run) {
      auto start = std::chrono::steady_clock::now();
      pelk::memory_input input{stream, stream_size};
      pelk::byte_source raw{pelk::read_memory, &input};
      counting_sink counted;
      const pelk::inflate_result r = pelk::inflate_stream(*state, raw, {count_bytes, &counted});
      ours.push_back(seconds_since(start));
      correct &= r.status == pelk::inflate_status::ok && counted.size == source.size();

      start = std::chrono::steady_clock::now();
      pelk::memory_input full{container.data(), container.size()};
      pelk::byte_source full_source{pelk::read_memory, &full};
      pelk::container_header h;
      counting_sink crc_counted;
      const bool header_ok = pelk::read_container_header(full_source, h).fault == pelk::container_fault::none;
      const pelk::body_check check = pelk::read_container_body(full_source, *state, {crc_bytes, &crc_counted}, h);
      checked.push_back(seconds_since(start));
      correct &= header_ok && check.fault == pelk::container_fault::none;

      start = std::chrono::steady_clock::now();
      size_t produced = 0;
      const libdeflate_result lr =
          libdeflate_deflate_decompress(libdeflate, stream, stream_size, whole.data(), whole.size(), &produced);
      theirs.push_back(seconds_since(start));
      correct &= lr == LIBDEFLATE_SUCCESS && produced == source.size();
    }
    correct &= whole == source;
    const double mb = static_cast<double>(source.size()) / 1e6;
    const double our_speed = mb / median(ours), their_speed = mb / median(theirs);
    std::printf("%-10s %12zu %14.1f %14.1f %16.1f %8.2f%s\n", name.c_str(), source.size(), our_speed,
                mb / median(checked), their_speed, our_speed / their_speed, correct ? "" : "  WRONG OUTPUT");
    if (!correct) status = 1;
  }
  libdeflate_free_decompressor(libdeflate);
  return status;
}
