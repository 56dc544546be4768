// SPDX-License-Identifier: MIT
// libpelk's C API, linked as callers link it (libpelk.so), checked against
// outside references: the real pelk binary's containers, one thread's
// results, and a table of damaged containers with the code each must give.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "container/container.h"
#include "inflate/byte_source.h"
#include "pelk.h"
#include "tests/support/deflate_trace.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

constexpr uint32_t fixed_stamp = 0x5A17C0DE;

// The corpus files, sorted so every run takes them in the same order.
std::vector<std::filesystem::path> corpus_files() {
  std::vector<std::filesystem::path> files;
  if (const auto dir = corpus_dir()) {
    for (const auto& entry : std::filesystem::directory_iterator(*dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// "" when a equals b, else where they first differ.
std::string difference(const bytes& a, const bytes& b) {
  if (a == b) return "";
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at " +
         std::to_string(at.first - a.begin());
}

bytes compress(const bytes& data, const char* name) {
  bytes out(pelk_compress_bound(data.size(), name != nullptr ? std::strlen(name) : 0));
  size_t size = 0;
  const int status = pelk_compress(data.data(), data.size(), name, fixed_stamp, out.data(), out.size(), &size);
  if (status != PELK_OK) return to_bytes(std::string("pelk_compress: ") + pelk_error_string(status));
  out.resize(size);
  return out;
}

// Both sides of a streaming call: reads whose sizes cycle through `reads`
// (never more than asked for), and a sink that collects what it is given.
struct stream_io {
  const bytes* in;
  std::vector<size_t> reads;
  size_t at = 0;
  size_t calls = 0;
  bytes out = {};
};

ptrdiff_t read_in_pieces(void* user, void* buffer, size_t capacity) {
  stream_io& io = *static_cast<stream_io*>(user);
  size_t count = std::min({capacity, io.reads[io.calls++ % io.reads.size()], io.in->size() - io.at});
  if (count != 0) std::memcpy(buffer, io.in->data() + io.at, count);  // an empty input's data may be null
  io.at += count;
  return static_cast<ptrdiff_t>(count);
}

int collect(void* user, const void* data, size_t size) {
  bytes& out = static_cast<stream_io*>(user)->out;
  out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  return 0;
}

const std::vector<size_t> odd_reads = {1, 7, 4097, 65539, 1, 300000};

// Streamed, and on three threads where the source is large enough.
bytes compress_stream(const bytes& data, const char* name) {
  stream_io io{&data, odd_reads};
  pelk_options options{};
  options.size = sizeof options;
  options.threads = 3;
  const int status =
      pelk_compress_stream_with(&options, read_in_pieces, collect, &io, data.size(), name, fixed_stamp);
  return status == PELK_OK ? io.out : to_bytes(std::string("pelk_compress_stream: ") + pelk_error_string(status));
}

// The code pelk_decompress gives, with room for exactly the size field's
// bytes unless a capacity is given; restored receives the bytes.
int decompress(const bytes& container, bytes& restored, size_t capacity = SIZE_MAX) {
  pelk_header header{};
  if (capacity == SIZE_MAX) capacity = pelk_read_header(container.data(), container.size(), &header) == PELK_OK
                                           ? header.size_field : 0;
  restored.assign(capacity, 0xEE);
  size_t size = 0;
  const int status = pelk_decompress(container.data(), container.size(), restored.data(), capacity, &size);
  restored.resize(status == PELK_OK ? size : 0);
  return status;
}

int decompress_stream(const bytes& container, bytes& restored, std::vector<size_t> reads = odd_reads) {
  stream_io io{&container, std::move(reads)};
  const int status = pelk_decompress_stream(read_in_pieces, collect, &io);
  restored = std::move(io.out);
  return status;
}

// A compressor object that is kept and reused, as the pelk program keeps
// its static one; the library allocates a fresh one for every call.
struct reused_compressor {
  std::unique_ptr<deflate_compressor, decltype(&std::free)> object{
      static_cast<deflate_compressor*>(std::calloc(1, sizeof(deflate_compressor))), &std::free};

  bytes compress(const bytes& data, const char* name) {
    memory_input input{data.data(), data.size()};
    stream_io out{nullptr, {}};
    write_container(*object, {read_memory, &input},
                    {{[](void* user, const uint8_t* p, size_t n) { return collect(user, p, n); }, &out}, nullptr},
                    {data.size(), name, fixed_stamp});
    return out.out;
  }
};

// Every corpus file gives the pelk binary's container (run in a fresh
// process, its stamp replaced by ours) through memory, through reads of odd
// sizes on three threads, and through one compressor object reused for all
// the files before it, whose window and tables must not carry anything
// over; and each container comes back through both decompression calls.
TEST(LibraryAgainstProgram, CorpusContainersEqualPelksAndRestore) {
  const auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  reused_compressor reused;
  for (const auto& path : files) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const bytes source = read_file(path);
    bytes expected = compress_with_pelk(source, name);
    ASSERT_GE(expected.size(), 8u);
    for (int i = 0; i < 4; ++i) expected[4 + i] = static_cast<uint8_t>(fixed_stamp >> (8 * i));

    EXPECT_EQ(difference(compress(source, name.c_str()), expected), "");
    EXPECT_EQ(difference(compress_stream(source, name.c_str()), expected), "");
    EXPECT_EQ(difference(reused.compress(source, name.c_str()), expected), "");
    bytes restored;
    EXPECT_EQ(decompress(expected, restored), PELK_OK);
    EXPECT_EQ(difference(restored, source), "");
    EXPECT_EQ(decompress_stream(expected, restored), PELK_OK);
    EXPECT_EQ(difference(restored, source), "");
  }
}

// Threads at once, each on its own files, must give what one thread gave.
// scripts/test.sh also runs this under ThreadSanitizer.
TEST(LibraryThreads, ConcurrentCallsGiveTheOneThreadResults) {
  const auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  // The first 512 KiB of each file (more than a window and more than one
  // of the inflater's output chunks) keep the sanitized run short.
  std::vector<bytes> sources;
  std::vector<bytes> expected;
  for (const auto& path : files) {
    bytes data = read_file(path);
    data.resize(std::min<size_t>(data.size(), 512 << 10));
    expected.push_back(compress(data, "t"));
    sources.push_back(std::move(data));
  }

  constexpr size_t thread_count = 4;
  std::vector<std::string> failures(thread_count);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = t; i < sources.size(); i += thread_count) {
        bytes restored;
        const std::string file = files[i].filename().string();
        if (compress_stream(sources[i], "t") != expected[i]) failures[t] += file + ": streamed container differs; ";
        if (compress(sources[i], "t") != expected[i]) failures[t] += file + ": container differs; ";
        if (decompress(expected[i], restored) != PELK_OK || restored != sources[i]) {
          failures[t] += file + ": not restored; ";
        }
        if (decompress_stream(expected[i], restored) != PELK_OK || restored != sources[i]) {
          failures[t] += file + ": not restored by the stream call; ";
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < thread_count; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

// Each kind of damage gives its code, the same from memory, from a stream
// read byte by byte and from one read; a damaged header gives it from
// pelk_read_header too, and undamaged headers read there as they were
// written.
TEST(LibraryDecompress, DamagedContainersGiveTheirCodes) {
  const bytes source = to_bytes(std::string(3000, 'a') + "the quick brown fox jumps over the lazy dog, " +
                                std::string(500, 'z'));
  const bytes good = compress(source, "a.txt");
  pelk_header header{};
  ASSERT_EQ(pelk_read_header(good.data(), good.size(), &header), PELK_OK);
  EXPECT_EQ(header.stamp, fixed_stamp);
  EXPECT_EQ(header.size_field, source.size());
  EXPECT_TRUE(header.has_name && header.name == reinterpret_cast<const char*>(good.data()) + 12);
  EXPECT_EQ(std::string(header.name, header.name_length), "a.txt");
  EXPECT_EQ(header.header_size, 18u);
  const bytes nameless = compress(source, nullptr);
  ASSERT_EQ(pelk_read_header(nameless.data(), nameless.size(), &header), PELK_OK);
  EXPECT_TRUE(!header.has_name && header.name == nullptr && header.header_size == 12);
  for (size_t size = 0; size < 18; ++size) {
    EXPECT_EQ(pelk_read_header(good.data(), size, &header), PELK_ERROR_TRUNCATED) << size;
  }

  const size_t stream = 18;
  struct damage {
    const char* what;
    void (*apply)(bytes&);
    int code;
  };
  const damage cases[] = {
      {"second magic byte", [](bytes& c) { c[1] = 0x8B; }, PELK_ERROR_NOT_CONTAINER},
      {"first magic byte alone wrong", [](bytes& c) { c.resize(1), c[0] = 0x1E; }, PELK_ERROR_NOT_CONTAINER},
      {"method 7", [](bytes& c) { c[2] = 7; }, PELK_ERROR_UNSUPPORTED},
      {"flags 0x10", [](bytes& c) { c[3] = 0x10; }, PELK_ERROR_UNSUPPORTED},
      {"empty", [](bytes& c) { c.clear(); }, PELK_ERROR_TRUNCATED},
      {"magic byte alone", [](bytes& c) { c.resize(1); }, PELK_ERROR_TRUNCATED},
      {"header of 9 bytes", [](bytes& c) { c.resize(9); }, PELK_ERROR_TRUNCATED},
      {"name without its zero", [](bytes& c) { c.resize(stream - 1); }, PELK_ERROR_TRUNCATED},
      {"stream cut", [](bytes& c) { c.resize(stream + (c.size() - stream - 4) / 2); }, PELK_ERROR_TRUNCATED},
      {"CRC cut", [](bytes& c) { c.resize(c.size() - 2); }, PELK_ERROR_TRUNCATED},
      {"reserved block type", [](bytes& c) { c[stream] = 0x07; }, PELK_ERROR_CORRUPT},
      {"CRC bit", [](bytes& c) { c.back() ^= 0x01; }, PELK_ERROR_CHECKSUM},
      {"size field bit", [](bytes& c) { c[8] ^= 0x01; }, PELK_ERROR_SIZE_MISMATCH},
      {"byte after the CRC", [](bytes& c) { c.push_back(0); }, PELK_ERROR_TRAILING_DATA},
      // The first fault in the order of the bytes decides.
      {"CRC bit and a byte after it", [](bytes& c) { c.back() ^= 1, c.push_back(0); }, PELK_ERROR_TRAILING_DATA},
      {"size field and CRC", [](bytes& c) { c[8] ^= 1, c.back() ^= 1; }, PELK_ERROR_CHECKSUM},
  };
  for (const damage& d : cases) {
    SCOPED_TRACE(d.what);
    bytes container = good;
    d.apply(container);
    bytes restored;
    EXPECT_EQ(decompress(container, restored, source.size()), d.code);
    EXPECT_EQ(decompress_stream(container, restored, {1}), d.code);
    EXPECT_EQ(decompress_stream(container, restored, {1 << 20}), d.code);
    const bool in_header = d.code == PELK_ERROR_NOT_CONTAINER || d.code == PELK_ERROR_UNSUPPORTED ||
                           container.size() < stream;
    EXPECT_EQ(pelk_read_header(container.data(), container.size(), &header), in_header ? d.code : PELK_OK);
  }

  bytes restored;
  EXPECT_EQ(decompress(good, restored, source.size() - 1), PELK_ERROR_OUTPUT_TOO_SMALL);
  EXPECT_EQ(decompress(good, restored, source.size()), PELK_OK);
  EXPECT_TRUE(restored == source);
}

// A container cut short anywhere (its header, its name, the stream, the
// trailer) is truncated, whatever the missing bits would have decoded to:
// never a corrupt code, a bad stored length or a header fault. The
// containers hold stored, fixed and dynamic blocks, one or several.
TEST(LibraryDecompress, EveryPrefixOfAContainerIsTruncated) {
  std::set<int> kinds;
  size_t most_blocks = 0;
  for (const bytes& source : sources_of_every_block_kind()) {
    const bytes container = compress(source, "prefix.txt");
    const std::optional<deflate_trace> trace = trace_deflate(container, 12 + sizeof "prefix.txt");
    ASSERT_TRUE(trace);
    for (const traced_block& block : trace->blocks) kinds.insert(block.type);
    most_blocks = std::max(most_blocks, trace->blocks.size());
    for (size_t size = 0; size < container.size(); ++size) {
      const bytes prefix(container.begin(), container.begin() + static_cast<ptrdiff_t>(size));
      bytes restored;
      const int from_memory = decompress(prefix, restored, source.size());
      const int streamed = decompress_stream(prefix, restored);
      if (from_memory != PELK_ERROR_TRUNCATED || streamed != PELK_ERROR_TRUNCATED) {
        ADD_FAILURE() << size << " of " << container.size() << " bytes: " << pelk_error_string(from_memory)
                      << ", streamed " << pelk_error_string(streamed);
        break;
      }
    }
  }
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2}));
  EXPECT_GE(most_blocks, 3u);
}

// The caller's callbacks: failures are reported, never taken for data.
TEST(LibraryStreams, CallbackFailuresGiveTheirCodes) {
  const bytes source = random_bytes(200000, 7);
  const bytes container = compress(source, "r");
  const auto failing_read = [](void*, void*, size_t) -> ptrdiff_t { return -1; };
  const auto overlong_read = [](void*, void*, size_t capacity) -> ptrdiff_t {
    return static_cast<ptrdiff_t>(capacity + 1);
  };
  const auto failing_write = [](void*, const void*, size_t) { return 5; };

  stream_io io{&source, {4096}};
  EXPECT_EQ(pelk_compress_stream(failing_read, collect, &io, source.size(), "r", 0), PELK_ERROR_READ);
  EXPECT_EQ(pelk_compress_stream(overlong_read, collect, &io, source.size(), "r", 0), PELK_ERROR_READ);
  EXPECT_EQ(pelk_compress_stream(read_in_pieces, failing_write, &io, source.size(), "r", 0), PELK_ERROR_WRITE);
  io = {&source, {4096}};
  EXPECT_EQ(pelk_compress_stream(read_in_pieces, collect, &io, source.size() + 1, "r", 0),
            PELK_ERROR_SIZE_CHANGED);

  EXPECT_EQ(pelk_decompress_stream(failing_read, collect, &io), PELK_ERROR_READ);
  EXPECT_EQ(pelk_decompress_stream(overlong_read, collect, &io), PELK_ERROR_READ);
  io = {&container, {4096}};
  EXPECT_EQ(pelk_decompress_stream(read_in_pieces, failing_write, &io), PELK_ERROR_WRITE);
}

// The same failures while several threads are in the middle of a source of
// many segments: the call ends, with the code, and never with a container
// presented as whole.
TEST(LibraryStreams, FailuresMidwayThroughAParallelCompression) {
  bytes source = random_bytes(1 << 20, 11);
  for (size_t i = 0; source.size() < (3 << 20); ++i) source.push_back(static_cast<uint8_t>("segment edges "[i % 14]));
  struct faulty_io {
    stream_io io;
    size_t read_limit;   // reads fail from this offset on
    size_t write_limit;  // writes fail once this much was written
  };
  const auto read_until_limit = [](void* user, void* buffer, size_t capacity) -> ptrdiff_t {
    faulty_io& f = *static_cast<faulty_io*>(user);
    return f.io.at >= f.read_limit ? -1 : read_in_pieces(&f.io, buffer, capacity);
  };
  const auto write_until_limit = [](void* user, const void* data, size_t size) {
    faulty_io& f = *static_cast<faulty_io*>(user);
    return f.io.out.size() + size > f.write_limit ? 1 : collect(&f.io, data, size);
  };
  struct fault {
    const char* what;
    size_t read_limit, write_limit;
    int64_t declared_difference;
    int code;
  };
  const fault faults[] = {
      {"read fails 1.5 MiB in", 3 << 19, SIZE_MAX, 0, PELK_ERROR_READ},
      {"read fails at the last bytes", source.size() - 1000, SIZE_MAX, 0, PELK_ERROR_READ},
      {"write fails 200 KiB out", SIZE_MAX, 200 << 10, 0, PELK_ERROR_WRITE},
      {"source shorter than said", SIZE_MAX, SIZE_MAX, 700000, PELK_ERROR_SIZE_CHANGED},
      {"source longer than said", SIZE_MAX, SIZE_MAX, -700000, PELK_ERROR_SIZE_CHANGED},
  };
  for (const unsigned threads : {2u, 3u, 8u}) {
    pelk_options options{};
    options.size = sizeof options;
    options.threads = threads;
    for (const fault& f : faults) {
      SCOPED_TRACE(std::string(f.what) + " on " + std::to_string(threads) + " threads");
      faulty_io io{{&source, {65536, 1, 300001}}, f.read_limit, f.write_limit};
      const uint64_t declared = source.size() + f.declared_difference;
      EXPECT_EQ(pelk_compress_stream_with(&options, read_until_limit, write_until_limit, &io, declared, "f", 0),
                f.code);
      EXPECT_LE(io.io.out.size(), f.write_limit);
    }
  }
}

// Under a limit on the address space, wherever one thread's call succeeds
// a call on eight succeeds too, with the same container: it takes fewer
// threads where their memory cannot be had, and starts over on one where
// it runs out midway (a buffer can be read again). Each call runs in a
// child process of its own, under the limit.
TEST(LibraryCompress, UnderAMemoryLimitEightThreadsDoWhereverOneDoes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer build: the sanitizers reserve more address space than any limit";
#endif
  bytes source;
  for (size_t i = 0; source.size() < (4u << 20); ++i) {
    const bytes piece = i % 2 == 0 ? random_bytes(256 * 1024, i) : bytes(256 * 1024, "limit"[i % 5]);
    source.insert(source.end(), piece.begin(), piece.end());
  }
  const bytes one_thread = compress(source, "limits");
  bytes out(one_thread.size() + 4096);  // allocated before the limit
  // The child's verdict: 0 for the one-thread container, 1 for another
  // status, 2 for other bytes.
  const auto verdict_under = [&](size_t limit, unsigned threads) {
    const pid_t child = fork();
    if (child == 0) {
      const rlimit address_space{limit, limit};
      setrlimit(RLIMIT_AS, &address_space);
      pelk_options options{};
      options.size = sizeof options;
      options.threads = threads;
      size_t size = 0;
      if (pelk_compress_with(&options, source.data(), source.size(), "limits", fixed_stamp, out.data(), out.size(),
                             &size) != PELK_OK) {
        _exit(1);
      }
      _exit(size == one_thread.size() && std::memcmp(out.data(), one_thread.data(), size) == 0 ? 0 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // The address space the process has now, to which each limit adds.
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const size_t in_use = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  int limits_one_thread_met = 0;
  for (size_t mib = 1; mib <= 64; ++mib) {
    const size_t limit = in_use + (mib << 20);
    if (verdict_under(limit, 1) != 0) continue;
    ++limits_one_thread_met;
    EXPECT_EQ(verdict_under(limit, 8), 0) << mib << " MiB above what the process had";
  }
  EXPECT_GT(limits_one_thread_met, 32);
}

// pelk_compress_bound is enough for bytes that do not compress, at sizes
// around the 64 KiB of a stored block and up to a few MiB, and one byte
// less than the container needs is refused.
TEST(LibraryCompressBound, HoldsForIncompressibleBytes) {
  for (const size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{65536 + 300},
                            size_t{3 * 65536 + 1}, size_t{(3 << 20) + 5}}) {
    SCOPED_TRACE(size);
    const bytes source = random_bytes(size, size);
    bytes out(pelk_compress_bound(size, 4));
    size_t written = 0;
    ASSERT_EQ(pelk_compress(source.data(), size, "name", 0, out.data(), out.size(), &written), PELK_OK);
    EXPECT_LE(written, out.size());
    out.resize(written);
    bytes restored;
    EXPECT_EQ(decompress(out, restored), PELK_OK);
    EXPECT_TRUE(restored == source);
    bytes short_out(written - 1);
    EXPECT_EQ(pelk_compress(source.data(), size, "name", 0, short_out.data(), short_out.size(), &written),
              PELK_ERROR_OUTPUT_TOO_SMALL);
  }
}

// Near the top of size_t the bound wrapped to a small number (32 for a name
// of SIZE_MAX bytes), which a caller would take as the size to allocate. It
// must never be below the source and the name together, whichever of them
// is huge, and never fall as either grows: it saturates at SIZE_MAX.
TEST(LibraryCompressBound, SaturatesInsteadOfWrapping) {
  const size_t near_top[] = {0, 100, SIZE_MAX / 9 * 8, SIZE_MAX / 2, SIZE_MAX - 40, SIZE_MAX - 1, SIZE_MAX};
  for (const size_t source_size : near_top) {
    for (const size_t name_length : near_top) {
      SCOPED_TRACE(std::to_string(source_size) + " + " + std::to_string(name_length));
      const size_t bound = pelk_compress_bound(source_size, name_length);
      EXPECT_GE(bound, source_size > SIZE_MAX - name_length ? SIZE_MAX : source_size + name_length);
      for (const size_t larger : near_top) {
        if (larger >= source_size) {
          EXPECT_GE(pelk_compress_bound(larger, name_length), bound) << larger;
        }
        if (larger >= name_length) {
          EXPECT_GE(pelk_compress_bound(source_size, larger), bound) << larger;
        }
      }
    }
  }
  EXPECT_EQ(pelk_compress_bound(0, SIZE_MAX), SIZE_MAX);
}

}  // namespace
}  // namespace pelk::test
