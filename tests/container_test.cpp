// SPDX-License-Identifier: MIT
// In-process tests of the container subsystem's single functions. The output
// buffer writes to a SOCK_SEQPACKET socket, which keeps every write() as one
// message, so both the bytes and the size of each write can be checked.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "container/container.h"
#include "common/crc32.h"
#include "common/file_io.h"
#include "container/stamp.h"
#include "driver/driver.h"
#include "engine/bit_writer.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

deflate_compressor compressor;
bit_writer& out = compressor.out;

// Points the output buffer, empty, at a socket and collects what it writes.
class write_log {
 public:
  write_log() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds_), 0);
    start_output(out, sink());
  }
  ~write_log() { close(fds_[0]), close(fds_[1]); }
  byte_sink sink() { return {write_descriptor, &fds_[0]}; }
  std::vector<bytes> writes() {
    std::vector<bytes> got;
    bytes chunk(1 << 17);
    for (ssize_t n; (n = recv(fds_[1], chunk.data(), chunk.size(), MSG_DONTWAIT)) >= 0;) {
      got.emplace_back(chunk.begin(), chunk.begin() + n);
    }
    return got;
  }
  static bytes waiting() { return bytes(out.buffer, out.buffer + out.count); }

 private:
  int fds_[2] = {-1, -1};
};

TEST(Crc32, CheckValuesAndPieces) {
  const struct { const char* text; uint32_t crc; } cases[] = {
      {"abc", 0x352441C2}, {"123456789", 0xCBF43926}, {"", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(crc32_extend(0, reinterpret_cast<const uint8_t*>(c.text), std::strlen(c.text)), c.crc);
  }
  const bytes data = random_bytes(100000, 7);
  const uint32_t whole = reference_crc32(data);
  for (size_t piece : {1, 3, 4096, 65536, 100000}) {
    uint32_t crc = 0;
    for (size_t at = 0; at < data.size(); at += piece) {
      crc = crc32_extend(crc, data.data() + at, std::min(piece, data.size() - at));
    }
    EXPECT_EQ(crc, whole) << piece;
  }
  EXPECT_EQ(crc32_extend(whole, data.data(), 0), whole);
}

TEST(ContainerNames, PathTailAndDerivedTarget) {
  const struct { const char* path; const char* tail; } tails[] = {
      {"D:\\data\\report.txt", "report.txt"}, {"dir/sub\\x.txt", "x.txt"}, {"a:b", "b"},
      {"x\\y/z", "z"}, {"bare.txt", "bare.txt"}, {"dir/", ""}};
  for (const auto& c : tails) EXPECT_STREQ(path_tail(c.path), c.tail);
  // The driver's tests run the common names through the binary.
  const std::string long_name(300, 'q');
  const struct { std::string source; std::optional<std::string> target; } names[] = {
      {long_name, long_name.substr(0, 297) + "plk"}, {"ab", std::nullopt}, {"", std::nullopt},
      {"d/abc", "d/plk"}, {"d/ab", std::nullopt}, {"dir/", std::nullopt}};
  for (const auto& c : names) EXPECT_EQ(derive_target_name(c.source.c_str()), c.target);
}

TEST(ContainerStamp, PacksLocalTimeFields) {
  // 59 seconds pack like 58 (field 29); after 63 in 2043 the year field wraps to 0.
  const struct { int year, month, day, hour, minute, second; uint32_t stamp; } cases[] = {
      {2025, 11, 31, 23, 59, 58, 0xB57EBF7D}, {2025, 11, 31, 23, 59, 59, 0xB57EBF7D},
      {2043, 11, 31, 23, 59, 59, 0xFD7EBF7D}, {2044, 2, 15, 10, 20, 30, 0x004E528F}};
  for (const auto& c : cases) {
    std::tm local{};
    local.tm_year = c.year - 1900, local.tm_mon = c.month, local.tm_mday = c.day;
    local.tm_hour = c.hour, local.tm_min = c.minute, local.tm_sec = c.second;
    EXPECT_EQ(pack_local_stamp(local), c.stamp) << c.year;
  }
}

TEST(BitWriter, FieldsGatherAndAlign) {
  const struct { std::vector<std::pair<uint32_t, int>> ops; bytes before_align, after_align; } cases[] = {
      {{{3, 3}, {0, 7}}, {}, {0x03, 0x00}}, {{{0xABCD, 16}}, {}, {0xCD, 0xAB}}, {{}, {}, {}},
      {{{1, 1}}, {}, {0x01}}, {{{0xFF, 8}}, {}, {0xFF}}, {{{0x1FF, 9}}, {}, {0xFF, 0x01}},
      {{{5, 3}, {0xABCD, 16}}, {}, {0x6D, 0x5E, 0x05}},
      // Pending bits leave four bytes at a time, once 32 have gathered.
      {{{5, 3}, {0xABCD, 16}, {0xABCD, 16}}, {0x6D, 0x5E, 0x6D, 0x5E}, {0x6D, 0x5E, 0x6D, 0x5E, 0x05}},
      {{{0x7FFF, 15}, {1, 1}, {0xFFFF, 16}}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {{{0x7FFF, 15}, {1, 1}, {0xFFFF, 16}, {1, 1}}, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
  };
  for (const auto& c : cases) {
    write_log log;
    for (auto [value, length] : c.ops) emit_bits(out, value, length);
    EXPECT_EQ(hex(write_log::waiting()), hex(c.before_align));
    align_to_byte(out);
    EXPECT_EQ(hex(write_log::waiting()), hex(c.after_align));
    EXPECT_TRUE(log.writes().empty());
  }
}

TEST(BitWriter, StoredBlocksAndReversal) {
  write_log log;
  const uint8_t five[] = {'h', 'e', 'l', 'l', 'o'};
  emit_bits(out, 1, 3);  // pending bits are aligned away first
  emit_stored(out, five, 5, true);
  emit_stored(out, five, 0, true);
  emit_stored(out, five, 2, false);
  EXPECT_EQ(hex(write_log::waiting()), "01 05 00 FA FF 68 65 6C 6C 6F 00 00 FF FF 68 65");
  const struct { uint32_t code; int length; uint32_t reversed; } cases[] = {
      {1, 3, 4}, {13, 4, 11}, {6, 1, 0}, {7, 1, 1}, {1, 15, 0x4000}, {0x1234, 16, 0x2C48}};
  for (const auto& c : cases) EXPECT_EQ(reverse_bits(c.code, c.length), c.reversed) << c.code;
}

TEST(OutputBuffer, WordAndFlushAtTheBufferEdge) {
  for (uint32_t waiting : {16381u, 16382u, 16383u}) {
    write_log log;
    bytes all = random_bytes(waiting, waiting);
    std::copy(all.begin(), all.end(), out.buffer);
    out.count = waiting;
    emit_word(out, 0x1234);
    all.push_back(0x34), all.push_back(0x12);
    // With 16382 the word's second byte fills the buffer, with 16383 its first.
    const size_t sent = waiting == 16381 ? 0 : 16384;
    const std::vector<bytes> writes = log.writes();
    ASSERT_EQ(writes.size(), sent / 16384) << waiting;
    if (sent != 0) {
      EXPECT_EQ(writes[0], bytes(all.begin(), all.begin() + 16384));
    }
    EXPECT_EQ(write_log::waiting(), bytes(all.begin() + sent, all.end())) << waiting;
  }
  write_log log;
  flush_output(out);
  emit_byte(out, 0x5A);
  flush_output(out);
  EXPECT_EQ(log.writes(), std::vector<bytes>{{0x5A}});  // no empty write before it
  EXPECT_EQ(out.count, 0u);
}

TEST(ContainerWriter, LargeContainerLeavesInWholeBuffers) {
  temp_dir dir;
  const bytes data = random_bytes(70000, 11);
  write_file(dir / "big.bin", data);
  int source = open((dir / "big.bin").c_str(), O_RDONLY);
  ASSERT_GE(source, 0);
  write_log log;
  // A size of 4 GiB more: the field keeps its low 32 bits.
  const container_result result =
      write_container(compressor, {read_descriptor, &source}, {log.sink(), nullptr},
                      {data.size() + (uint64_t{1} << 32), path_tail("D:\\data\\big.bin"), 0x12345678});
  close(source);
  EXPECT_EQ(result.bytes_read, data.size());
  EXPECT_EQ(result.read_error, 0);
  EXPECT_EQ(result.write_error, 0);
  bytes container;
  const std::vector<bytes> writes = log.writes();
  ASSERT_GT(writes.size(), 1u);
  for (size_t i = 0; i < writes.size(); ++i) {
    const bool last = i + 1 == writes.size();
    EXPECT_TRUE(last ? !writes[i].empty() && writes[i].size() <= 16384 : writes[i].size() == 16384) << i;
    container.insert(container.end(), writes[i].begin(), writes[i].end());
  }
  EXPECT_EQ(verify_container(container, data, "big.bin"), "");
  EXPECT_EQ(hex(bytes(container.begin() + 4, container.begin() + 12)), "78 56 34 12 70 11 01 00");
}

}  // namespace
}  // namespace pelk::test
