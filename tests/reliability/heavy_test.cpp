// The slow checks: valgrind memcheck over the real binary, and (opt-in) a
// source above 4 GiB compressed in constant memory and inflated as a stream.
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/reliability/reliability.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;

// No invalid access, no uninitialised value deciding anything, no definite
// leak; memcheck cannot run under the sanitizers' runtime.
TEST(Memcheck, SmallCorpusFilesRunClean) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: memcheck runs in the plain build";
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  for (const char* name : {"alice29.txt", "fireworks.jpeg", "kppkn.gtb"}) {
    temp_dir dir;
    const run_result run = run_program(
        "/usr/bin/valgrind", {"valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                              "--errors-for-leak-kinds=definite", pelk_binary(), (*corpus / name).string(), "out.plk"},
        dir.path());
    EXPECT_EQ(run.status, 0) << name << run.err;
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(verify_container(read_file(dir / "out.plk"), read_file(*corpus / name), name), "");
  }
}

// Opt-in (PELK_LARGE_TESTS=1): 4 GiB of zeros (a hole) then "tail!". The
// size field holds the length modulo 2^32, i.e. 5.
TEST(LargeFiles, FourGiBAndFiveBytesInConstantMemory) {
  if (std::getenv("PELK_LARGE_TESTS") == nullptr) GTEST_SKIP() << "opt-in: set PELK_LARGE_TESTS=1";
  const uint64_t size = (uint64_t{1} << 32) + 5;
  temp_dir dir;
  const int fd = ::open((dir / "big.bin").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_TRUE(fd >= 0 && ::pwrite(fd, "tail!", 5, static_cast<off_t>(size - 5)) == 5);
  ::close(fd);

  const auto start = std::chrono::steady_clock::now();
  const run_result run = run_pelk({"big.bin", "big.plk"}, dir.path());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("pelk: %.1f s, peak resident %ld KiB\n", seconds, usage.ru_maxrss);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LT(usage.ru_maxrss, 64 * 1024);

  const bytes container = read_file(dir / "big.plk");
  EXPECT_EQ(parse_header(container)->size_field, 5u);
  const std::vector<uint8_t> zeros(1 << 20, 0);
  uint32_t crc = 0;
  for (uint64_t left = size - 5; left > 0; left -= std::min<uint64_t>(left, zeros.size())) {
    crc = libdeflate_crc32(crc, zeros.data(), std::min<uint64_t>(left, zeros.size()));
  }
  crc = libdeflate_crc32(crc, "tail!", 5);
  const uint8_t* trailer = container.data() + container.size() - 4;
  EXPECT_EQ(trailer[0] | trailer[1] << 8 | trailer[2] << 16 | uint32_t{trailer[3]} << 24, crc);

#ifdef PELK_UNPELK_PATH
  // Inflated by unpelk into a pipe and compared as it comes.
  std::FILE* pipe = ::popen(("'" PELK_UNPELK_PATH "' -c '" + (dir / "big.plk").string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<uint8_t> chunk(1 << 20);
  uint64_t seen = 0, wrong = 0;
  for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0; seen += got) {
    for (size_t i = 0; i < got; ++i) {
      const uint64_t at = seen + i;
      wrong += chunk[i] != (at < size - 5 ? 0 : static_cast<uint8_t>("tail!"[at - (size - 5)]));
    }
  }
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(seen, size);
  EXPECT_EQ(wrong, 0u);
#else
  GTEST_SKIP() << "size field and CRC checked; the stream needs tools/unpelk to be inflated";
#endif
}

}  // namespace
}  // namespace pelk::test
