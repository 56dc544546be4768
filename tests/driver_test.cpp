// SPDX-License-Identifier: MIT
// Black-box tests of the pelk binary: target naming, the exact console texts,
// standard error and exit status of every outcome, and the files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "container/stamp.h"
#include "driver/driver.h"
#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;

uint32_t stamp_now() {
  const std::time_t now = std::time(nullptr);
  return pack_local_stamp(*std::localtime(&now));
}

// Every file under dir with its bytes (non-regular entries by name only).
std::map<std::string, bytes> snapshot(const fs::path& dir) {
  std::map<std::string, bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    files[entry.path().string()] = entry.is_regular_file() ? read_file(entry.path()) : bytes{};
  }
  return files;
}

// A named target already exists, longer than the container and mode 0644: it
// must be cut to the container and keep its mode. Derived targets are new: 0600.
TEST(DriverRun, CompressesIntoTheNamedOrDerivedTarget) {
  // A path far beyond 260 bytes whose last component alone is over 128.
  std::string deep;
  for (char c = 'a'; c < 'i'; ++c) deep += std::string(40, c) + "/";
  const std::string long_stem = deep + std::string(200, 'n');
  const struct { std::vector<std::string> args; std::string target, stored; } cases[] = {
      {{"report.txt"}, "report.plk", "report.txt"}, {{"notes"}, "noplk", "notes"},
      {{"data.c"}, "datplk", "data.c"}, {{"abc"}, "plk", "abc"}, {{"d/abc"}, "d/plk", "abc"},
      {{"-c", "out.bin"}, "out.bin", "-c"},  // an option letter is a file name
      {{"Data.txt", "data.txt"}, "data.txt", "Data.txt"},  // case makes a different name
      {{long_stem + ".txt"}, long_stem + ".plk", std::string(200, 'n') + ".txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0].substr(0, 20));
    temp_dir dir;
    const bytes data = random_bytes(3000, c.args[0].size());
    fs::create_directories((dir / c.args[0]).parent_path());
    write_file(dir / c.args[0], data);
    const bool existing = c.args.size() == 2;
    if (existing) write_file(dir / c.target, random_bytes(9000, 1));
    if (existing) fs::permissions(dir / c.target, fs::perms(0644));
    const uint32_t before = stamp_now();
    const run_result run = run_pelk(c.args, dir.path());
    const uint32_t after = stamp_now();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, announced(c.args[0]));
    EXPECT_EQ(run.err, "");
    const bytes container = read_file(dir / c.target);
    EXPECT_EQ(verify_container(container, data, c.stored), "");  // nothing after the CRC
    EXPECT_EQ(fs::status(dir / c.target).permissions(), fs::perms(existing ? 0644 : 0600));
    const uint32_t stamp = parse_header(container)->stamp;  // the time of the run
    EXPECT_TRUE(stamp >= before && stamp <= after) << std::hex << stamp;
    EXPECT_EQ(read_file(dir / c.args[0]), data);
  }
}

TEST(DriverRun, WrongArgumentCountPrintsUsageOnly) {
  const std::string usage =
      "Usage : -option src_file [target_file]\n \t\t\t -c : Zip\n \t\t\t -d : Uncompress\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"a.txt", "b.txt", "c.txt"}, {"a", "b", "c", "d"}}) {
    temp_dir dir;
    write_file(dir / "a.txt", to_bytes("a"));
    const run_result run = run_pelk(args, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, usage);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);
  }
}

// Each refusal: banner and input line, one report, status 1, no file touched.
TEST(DriverRun, RefusalsReportOnceAndChangeNothing) {
  const std::string same = ": source and target are the same file";
  const std::string absent = std::string(": ") + std::strerror(ENOENT);
  const struct { std::vector<std::string> args; std::string report; } cases[] = {
      {{"x.plk"}, "x.plk" + same}, {{"src.txt", "src.txt"}, "src.txt" + same},
      {{"./x.plk", "x.plk"}, "x.plk" + same}, {{"src.txt", "link.plk"}, "link.plk" + same},
      {{"src.txt", "hard.plk"}, "hard.plk" + same},
      {{"missing.txt", "out.plk"}, "missing.txt" + absent},
      {{"subdir"}, "subdir: not a regular file"}, {{"fifo.in"}, "fifo.in: not a regular file"},
      {{"src.txt", "nodir/out.plk"}, "nodir/out.plk" + absent},
      {{"ab"}, "ab: name too short to derive a target name; give one"},
      {{"d/ab"}, "d/ab: name too short to derive a target name; give one"},  // not "dplk" beside d
      {{"src.txt", "/dev/full"}, std::strerror(ENOSPC)},
      // A script's unset variable: refused before the source is compressed
      // for nothing, and with a reason, not a bare "No such file".
      {{"src.txt", ""}, "an empty target name was given"},
      {{"", "out.plk"}, "an empty source name was given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    temp_dir dir;
    write_file(dir / "src.txt", random_bytes(20000, 2));
    write_file(dir / "x.plk", random_bytes(20000, 3));
    write_file(dir / "ab", to_bytes("ab"));
    fs::create_directory(dir / "d");
    write_file(dir / "d" / "ab", to_bytes("ab"));
    fs::create_directory(dir / "subdir");
    ASSERT_EQ(mkfifo((dir / "fifo.in").c_str(), 0600), 0);
    fs::create_symlink("src.txt", dir / "link.plk");
    fs::create_hard_link(dir / "src.txt", dir / "hard.plk");
    const auto files = snapshot(dir.path());
    const run_result run = run_pelk(c.args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, announced(c.args[0]));
    EXPECT_EQ(run.err, "\npelk: " + c.report + "\n");
    EXPECT_EQ(snapshot(dir.path()), files);
  }
}

// PELK_THREADS takes a positive whole number (a huge one is lowered, and
// any count writes the same container); anything else is refused before a
// file is touched.
TEST(DriverRun, ThreadCountFromTheEnvironment) {
  temp_dir dir;
  const bytes data = random_bytes(20000, 4);
  write_file(dir / "src.txt", data);
  for (const char* setting : {"", "0", "-2", "two", "3x", " 4", "+2"}) {
    const auto files = snapshot(dir.path());
    const run_result run = run_pelk({"src.txt", "out.plk"}, dir.path(), {std::string("PELK_THREADS=") + setting});
    EXPECT_EQ(run.status, 1) << setting;
    EXPECT_EQ(run.err, "\npelk: PELK_THREADS: not a positive whole number of threads\n") << setting;
    EXPECT_EQ(snapshot(dir.path()), files) << setting;
  }
  for (const char* setting : {"1", "3", "99999999999999999999"}) {
    const run_result run = run_pelk({"src.txt", "out.plk"}, dir.path(), {std::string("PELK_THREADS=") + setting});
    EXPECT_EQ(run.status, 0) << setting << run.err;
    EXPECT_EQ(verify_container(read_file(dir / "out.plk"), data, "src.txt"), "") << setting;
  }
}

}  // namespace
}  // namespace pelk::test
