// Injected I/O faults in real runs: each read and each write of a multi-block
// run fails in turn and must be reported once; short and interrupted calls
// must leave the container byte for byte as it was; a source that changes
// under the run must still give a faithful container of the bytes read.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tests/reliability/reliability.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;

struct call {
  char op;
  size_t asked;
  long result;
};

std::vector<call> read_log(const fs::path& log) {
  std::vector<call> calls;
  std::ifstream in(log);
  for (call c; in >> c.op >> c.asked >> c.result;) calls.push_back(c);
  return calls;
}

// 320 KiB, half of it incompressible, so the container spans many 16 KiB
// writes and the source many window reads.
bytes multi_block_source() {
  bytes data = random_bytes(160 * 1024, 5);
  const std::string text = "the quick brown fox jumps over the lazy dog ";
  for (size_t i = 0; data.size() < 320 * 1024; ++i) {
    data.push_back(static_cast<uint8_t>(text[i % text.size()] ^ (i / 4096 % 7)));
  }
  return data;
}

class IoFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir / "src.bin", source);
    const run_result run = run_guarded({"src.bin", "out.plk"}, dir.path(), "none", log());
    ASSERT_EQ(run.status, 0) << run.err;
    baseline = read_file(dir / "out.plk");
    ASSERT_EQ(verify_container(baseline, source, "src.bin"), "");
    calls = read_log(log());
    fs::remove(log());
  }
  std::string log() const { return (dir / "calls.log").string(); }
  size_t count(char op) const {
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const call& c) { return c.op == op; }));
  }

  temp_dir dir;
  const bytes source = multi_block_source();
  bytes baseline;
  std::vector<call> calls;  // of the undisturbed run, in order
};

TEST_F(IoFaults, TargetReceivesWholeBufferWrites) {
  size_t total = 0, seen = 0;
  for (const call& c : calls) {
    if (c.op != 'w') continue;
    if (++seen < count('w')) {
      EXPECT_EQ(c.asked, 16384u) << "write " << seen;
    }
    EXPECT_EQ(c.result, static_cast<long>(c.asked));
    total += c.asked;
  }
  EXPECT_GE(count('w'), 8u);
  EXPECT_GE(count('r'), 4u);
  EXPECT_EQ(total, baseline.size());
}

// Every read (EIO) and every write (EIO, ENOSPC, returning 0) fails in turn:
// one report with the system's text, status 1, and the target keeps exactly
// the buffers written before the failure.
TEST_F(IoFaults, EveryFailingCallIsReportedOnce) {
  size_t reads = 0, writes = 0, written = 0, swept = 0;
  for (const call& c : calls) {
    const size_t ordinal = c.op == 'r' ? ++reads : ++writes;
    const std::vector<int> errors = c.op == 'r' ? std::vector<int>{EIO} : std::vector<int>{EIO, ENOSPC, 0};
    for (int error : errors) {
      const std::string fault = std::string(c.op == 'r' ? "read-fail " : "write-fail ") +
                                std::to_string(ordinal) + " " + std::to_string(error);
      const run_result run = run_guarded({"src.bin", "out.plk"}, dir.path(), fault);
      EXPECT_EQ(run.status, 1) << fault;
      EXPECT_EQ(run.out, announced("src.bin")) << fault;
      EXPECT_EQ(run.err, "\npelk: " + std::string(std::strerror(error == 0 ? EIO : error)) + "\n") << fault;
      EXPECT_EQ(fs::file_size(dir / "out.plk"), written) << fault;
      ++swept;
    }
    if (c.op == 'w') written += c.asked;
  }
  EXPECT_EQ(swept, count('r') + 3 * count('w'));
  std::printf("fault points swept: %zu (%zu reads, %zu writes x 3)\n", swept, reads, writes);
}

// Short reads and writes and EINTR change nothing; each run must have been
// disturbed, i.e. have made more calls than the undisturbed one.
TEST_F(IoFaults, ShortAndInterruptedCallsChangeNothing) {
  for (const char* fault : {"read-max 1", "read-max 4097", "write-max 1", "write-max 1000", "eintr 2", "eintr 3"}) {
    const run_result run = run_guarded({"src.bin", "out.plk"}, dir.path(), fault, log());
    EXPECT_EQ(run.status, 0) << fault << run.err;
    EXPECT_EQ(run.err, "") << fault;
    EXPECT_EQ(mask_stamp(read_file(dir / "out.plk")), mask_stamp(baseline)) << fault;
    EXPECT_GT(read_log(log()).size(), calls.size()) << fault;
    fs::remove(log());
  }
}

// The source grows or shrinks after it was measured: the stream and the CRC
// cover exactly the bytes read; the size field keeps the measured length.
TEST_F(IoFaults, SourceChangingUnderTheRunGivesTheBytesRead) {
  bytes grown = source;
  for (int i = 0; i < 70000; ++i) grown.push_back(static_cast<uint8_t>('A' + i % 26));
  const bytes shrunk(source.begin(), source.begin() + 100000);
  for (const auto& [fault, bytes_read] : {std::pair{"grow 70000", grown}, {"shrink 100000", shrunk}}) {
    const run_result run = run_guarded({"src.bin", "out.plk"}, dir.path(), fault);
    ASSERT_EQ(run.status, 0) << fault << run.err;
    bytes c = read_file(dir / "out.plk");
    ASSERT_EQ(parse_header(c)->size_field, source.size()) << fault;
    for (int i = 0; i < 4; ++i) c[8 + i] = static_cast<uint8_t>(bytes_read.size() >> (8 * i));
    EXPECT_EQ(verify_container(c, bytes_read, "src.bin"), "") << fault;
  }
}

}  // namespace
}  // namespace pelk::test
