// SPDX-License-Identifier: MIT
// Reliability of the real binary: injected I/O faults (through the preloaded
// fault shim), hostile names and files, valgrind memcheck, and an opt-in
// source above 4 GiB. Every run is killed after 60 s, so a hang fails too.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <functional>
#include <map>

#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;

// fault goes to the shim (see fault_shim.cpp), which logs each call to log.
// A wrapper (such as nohup) runs between the shim's set-up and pelk;
// threads, when given, is PELK_THREADS; program is pelk unless given.
run_result run_guarded(const std::vector<std::string>& args, const fs::path& dir, const std::string& fault = "",
                       const std::string& log = "", const std::string& wrapper = "", const std::string& threads = "",
                       const std::string& program = pelk_binary()) {
  std::vector<std::string> argv = {"timeout", "60", "env"};
  if (!threads.empty()) argv.push_back("PELK_THREADS=" + threads);
  if (!fault.empty()) argv.insert(argv.end(), {"LD_PRELOAD=" PELK_PRELOAD, "PELK_FAULT=" + fault});
  if (!log.empty()) argv.push_back("PELK_FAULT_LOG=" + log);
  if (!wrapper.empty()) argv.push_back(wrapper);
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program("/usr/bin/timeout", argv, dir);
}

// unpelk under the shim, as run_guarded runs pelk.
run_result run_unpelk_guarded(const std::vector<std::string>& args, const fs::path& dir, const std::string& fault) {
  std::vector<std::string> argv = {"timeout", "60", "env", "LD_PRELOAD=" PELK_PRELOAD, "PELK_FAULT=" + fault,
                                   PELK_UNPELK_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program("/usr/bin/timeout", argv, dir);
}

struct call {
  char op;  // 'r' or 'w'
  size_t asked;
  long result;
};

std::vector<call> read_log(const fs::path& log) {
  std::vector<call> calls;
  std::ifstream in(log);
  for (call c; in >> c.op >> c.asked >> c.result;) calls.push_back(c);
  fs::remove(log);
  return calls;
}

// The same faults on one thread and, on a source of several segments, on
// three: the reading, the writing and the temporary file are the same code
// whichever engine runs between them.
struct fault_setting {
  const char* name;
  size_t incompressible, size;  // bytes
  const char* threads;          // PELK_THREADS
};

void PrintTo(const fault_setting& setting, std::ostream* out) { *out << "PELK_THREADS=" << setting.threads; }

class IoFaults : public ::testing::TestWithParam<fault_setting> {
 protected:
  void SetUp() override {
    // Part incompressible: many 16 KiB writes and many window reads.
    source = random_bytes(GetParam().incompressible, 5);
    for (size_t i = 0; source.size() < GetParam().size; ++i) {
      source.push_back(static_cast<uint8_t>("fox jumps "[i % 10] ^ i / 4096 % 7));
    }
    write_file(dir / "src.bin", source);
    const run_result run = guarded_run("none", log);
    ASSERT_EQ(run.status, 0) << run.err;
    baseline = read_file(dir / "out.plk");
    ASSERT_EQ(verify_container(baseline, source, "src.bin"), "");
    calls = read_log(log);
    for (const call& c : calls) ++(c.op == 'r' ? reads : writes);
  }
  temp_dir dir;
  const std::string log = (dir / "calls.log").string();

  run_result guarded_run(const std::string& fault, const std::string& call_log = "", const std::string& wrapper = "",
                         const std::vector<std::string>& args = {"src.bin", "out.plk"}) {
    return run_guarded(args, dir.path(), fault, call_log, wrapper, GetParam().threads);
  }

  bytes source, baseline;
  std::vector<call> calls;  // of the undisturbed run, in order
  size_t reads = 0, writes = 0;
};

INSTANTIATE_TEST_SUITE_P(Threads, IoFaults,
                         ::testing::Values(fault_setting{"one", 160 * 1024, 320 * 1024, "1"},
                                           fault_setting{"three", 256 * 1024, 1536 * 1024, "3"}),
                         [](const auto& setting) { return std::string(setting.param.name); });

TEST_P(IoFaults, TargetReceivesWholeBufferWrites) {
  EXPECT_GE(reads, 4u);
  ASSERT_GE(writes, 8u);
  size_t total = 0, seen = 0;
  for (const call& c : calls) {
    if (c.op != 'w') continue;
    ++seen;
    EXPECT_TRUE(c.asked == 16384 || seen == writes) << "write " << seen << " of " << c.asked;
    EXPECT_EQ(c.result, static_cast<long>(c.asked));
    total += c.asked;
  }
  EXPECT_EQ(total, baseline.size());
}

// Each read fails (EIO) in turn, each write (EIO, ENOSPC, returning 0): one
// report with the system's text, status 1, the old target untouched and no
// temporary file left.
TEST_P(IoFaults, EveryFailingCallIsReportedOnce) {
  const auto files = sorted_entries(dir.path());
  size_t read_no = 0, write_no = 0, swept = 0;
  for (const call& c : calls) {
    const std::string point = c.op == 'r' ? "read-fail " + std::to_string(++read_no)
                                          : "write-fail " + std::to_string(++write_no);
    for (int error : c.op == 'r' ? std::vector<int>{EIO} : std::vector<int>{EIO, ENOSPC, 0}) {
      const std::string fault = point + " " + std::to_string(error);
      const run_result run = guarded_run(fault);
      EXPECT_EQ(run.status, 1) << fault;
      EXPECT_EQ(run.out, announced("src.bin")) << fault;
      EXPECT_EQ(run.err, "\npelk: " + std::string(std::strerror(error == 0 ? EIO : error)) + "\n") << fault;
      EXPECT_EQ(read_file(dir / "out.plk"), baseline) << fault;
      EXPECT_EQ(sorted_entries(dir.path()), files) << fault;
      ++swept;
    }
  }
  EXPECT_EQ(swept, reads + 3 * writes);
  std::printf("fault points swept: %zu (%zu reads, %zu writes x 3)\n", swept, reads, writes);
}

// Short and interrupted calls change nothing; each run must have been
// disturbed, i.e. have made more calls than the undisturbed one.
TEST_P(IoFaults, ShortAndInterruptedCallsChangeNothing) {
  for (const char* fault :
       {"read-max 1", "read-max 4097", "write-max 1", "write-max 1000", "eintr 2", "eintr 3"}) {
    const run_result run = guarded_run(fault, log);
    EXPECT_EQ(run.status, 0) << fault << run.err;
    EXPECT_EQ(run.err, "") << fault;
    EXPECT_EQ(mask_stamp(read_file(dir / "out.plk")), mask_stamp(baseline)) << fault;
    EXPECT_GT(read_log(log).size(), calls.size()) << fault;
  }
}

// The source grows or shrinks after it was measured: the container covers
// exactly the bytes read, its size field included, and the run says so and
// fails. /proc/cpuinfo claims a size of 0 and is small enough that its
// header is still in the output buffer when the size is known.
TEST_P(IoFaults, SourceChangingUnderTheRunIsReportedWithASoundContainer) {
  bytes grown = source;
  for (int i = 0; i < 70000; ++i) grown.push_back(static_cast<uint8_t>('A' + i % 26));
  const bytes shrunk(source.begin(), source.begin() + 100000);
  for (const auto& [fault, bytes_read] : {std::pair{"grow 70000", grown}, {"shrink 100000", shrunk}}) {
    const run_result run = guarded_run(fault);
    EXPECT_EQ(run.status, 1) << fault;
    EXPECT_EQ(run.err, "\npelk: src.bin: file changed as it was read\n") << fault;
    EXPECT_EQ(verify_container(read_file(dir / "out.plk"), bytes_read, "src.bin"), "") << fault;
  }
  const run_result run = guarded_run("", "", "", {"/proc/cpuinfo", "cpu.plk"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "\npelk: /proc/cpuinfo: file changed as it was read\n");
  const bytes container = read_file(dir / "cpu.plk");
  EXPECT_GT(parse_header(container)->size_field, 0u);
  EXPECT_EQ(run_program(PELK_UNPELK_PATH, {"unpelk", "-t", "cpu.plk"}, dir.path()).status, 0);
}

// The source shrinks, and the size field, already written, cannot be taken
// back (EIO from the positioned write): the temporary container, whose
// size field is wrong, replaced the old target under a report that only
// said the file changed. It is a write error like any other.
TEST_P(IoFaults, SizeFieldThatCannotBeWrittenBackIsAWriteError) {
  const auto files = sorted_entries(dir.path());
  const std::string fault = "shrink 100000 " + std::to_string(EIO);
  const run_result run = guarded_run(fault);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, announced("src.bin"));
  EXPECT_EQ(run.err, "\npelk: " + std::string(std::strerror(EIO)) + "\n");
  EXPECT_EQ(read_file(dir / "out.plk"), baseline);
  EXPECT_EQ(sorted_entries(dir.path()), files);
}

// A run ended by any signal whose default action ends the process removes
// its temporary file and leaves the old target as it was; one ignored from
// the start (nohup) stays ignored.
TEST_P(IoFaults, SignalsLeaveTheOldTargetAndNoTemporaryFile) {
  rlimit no_core{0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);  // SIGQUIT and others would dump core here
  const auto files = sorted_entries(dir.path());
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGXFSZ, SIGXCPU, SIGALRM, SIGUSR1,
                            SIGUSR2, SIGVTALRM, SIGPROF}) {
    const std::string fault = "signal 3 " + std::to_string(signal_number);
    const run_result run = guarded_run(fault);
    EXPECT_NE(run.status, 0) << strsignal(signal_number);
    EXPECT_NE(run.status, 1) << strsignal(signal_number);  // ended by the signal, not by a report
    EXPECT_EQ(read_file(dir / "out.plk"), baseline) << strsignal(signal_number);
    EXPECT_EQ(sorted_entries(dir.path()), files) << strsignal(signal_number);
  }
  const run_result run = guarded_run("signal 3 " + std::to_string(SIGHUP), "", "nohup", {"src.bin", "new.plk"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(mask_stamp(read_file(dir / "new.plk")), mask_stamp(baseline));
}

// Two runs writing one target at once each leave a whole container, so the
// target ends as one of the two.
TEST(SharedTargets, ConcurrentRunsLeaveOneWholeContainer) {
  temp_dir dir;
  const bytes first = random_bytes(1 << 20, 41), second = bytes(1 << 20, 'z');
  write_file(dir / "a.bin", first);
  write_file(dir / "b.bin", second);
  for (int round = 0; round < 5; ++round) {
    run_result a, b;
    std::thread other([&] { b = run_guarded({"b.bin", "out.plk"}, dir.path()); });
    a = run_guarded({"a.bin", "out.plk"}, dir.path());
    other.join();
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, 0) << b.err;
    const bytes target = read_file(dir / "out.plk");
    EXPECT_TRUE(verify_container(target, first, "a.bin").empty() || verify_container(target, second, "b.bin").empty());
    EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"a.bin", "b.bin", "out.plk"}));
  }
}

// plk meets a fault in the middle of one of several files: that file is
// reported, its old container kept and no temporary file left, and the
// file after it is compressed all the same.
TEST(PlkFaults, AFaultMidwayFailsOnlyItsFile) {
  temp_dir dir;
  write_file(dir / "a", random_bytes(300000, 43));  // many reads and writes
  write_file(dir / "b", to_bytes("second"));
  const std::vector<std::pair<std::string, std::string>> faults = {
      {"read-fail 3 5", "plk: a: " + std::string(std::strerror(EIO)) + "\n"},
      {"write-fail 2 28", "plk: a.plk: write error: " + std::string(std::strerror(ENOSPC)) + "\n"},
      {"shrink 100000", "plk: a: file changed as it was read\n"}};
  for (const auto& [fault, message] : faults) {
    SCOPED_TRACE(fault);
    write_file(dir / "a.plk", to_bytes("old"));
    fs::remove(dir / "b.plk");
    // The shrink ends every input after its bytes, so b is left out of it.
    const bool both = fault.rfind("shrink", 0) != 0;
    std::vector<std::string> args = {"-f", "a"};
    if (both) args.push_back("b");
    const run_result run = run_guarded(args, dir.path(), fault, "", "", "1", PELK_PLK_PATH);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, message);
    EXPECT_TRUE(read_file(dir / "a.plk") == to_bytes("old"));
    if (both) {
      EXPECT_EQ(verify_container(read_file(dir / "b.plk"), to_bytes("second"), "b"), "");
    }
    const std::vector<std::string> left = both ? std::vector<std::string>{"a", "a.plk", "b", "b.plk"}
                                               : std::vector<std::string>{"a", "a.plk", "b"};
    EXPECT_EQ(sorted_entries(dir.path()), left);
  }
}

// --rm removes an input only while its name still holds the file read: a
// file saved under the name meanwhile is kept, whether the input was being
// compressed or restored.
TEST(PlkFaults, RemovalKeepsAFileThatTookTheInputsNameMeanwhile) {
  temp_dir dir;
  const bytes source = random_bytes(300000, 44);  // many reads
  const bytes saved = to_bytes("saved meanwhile");
  for (const bool restoring : {false, true}) {
    SCOPED_TRACE(restoring ? "plk -d --rm" : "plk --rm");
    for (const fs::path& entry : fs::directory_iterator(dir.path())) fs::remove(entry);
    write_file(dir / "a", source);
    if (restoring) {
      ASSERT_EQ(run_guarded({"a"}, dir.path(), "", "", "", "1", PELK_PLK_PATH).status, 0);
      fs::remove(dir / "a");
    }
    const std::string input = restoring ? "a.plk" : "a";
    write_file(dir / "new", saved);
    std::vector<std::string> args = {"--rm", input};
    if (restoring) args.insert(args.begin(), "-d");
    const run_result run = run_guarded(args, dir.path(), "replace 2 new " + input, "", "", "1", PELK_PLK_PATH);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "plk: " + input + ": not removed: another file has taken its name since it was read\n");
    EXPECT_TRUE(read_file(dir / input) == saved);
    // The output is whole all the same.
    if (restoring) {
      EXPECT_TRUE(read_file(dir / "a") == source);
    } else {
      EXPECT_EQ(verify_container(read_file(dir / "a.plk"), source, "a"), "");
    }
  }
}

// Under ever larger limits on its address space (from 16 MiB, well above
// what starting the program takes, through limits where threads are
// refused or memory runs out midway, to where nothing runs short), a run
// on eight threads either writes the container one thread writes (on as
// many threads as the system gives, or on one) or, where memory runs out
// midway, says so with status 1 and leaves the old target and no temporary
// file. It never aborts.
TEST(MemoryLimits, EveryRunIsWholeOrReportedWithTheTargetUntouched) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: the sanitizers reserve more address space than any limit";
  temp_dir dir;
  bytes source = random_bytes(512 * 1024, 43);
  for (size_t i = 0; source.size() < (3u << 20); ++i) source.push_back(static_cast<uint8_t>("limits "[i % 7] ^ i / 8192 % 5));
  write_file(dir / "src.bin", source);
  const bytes old_target = to_bytes("the old target\n");
  for (int mib = 16; mib <= 96; mib += 4) {
    write_file(dir / "out.plk", old_target);
    const run_result run =
        run_program("/usr/bin/env", {"env", "PELK_THREADS=8", "prlimit", "--as=" + std::to_string(mib << 20),
                                     pelk_binary(), "src.bin", "out.plk"},
                    dir.path());
    if (run.status == 0) {
      EXPECT_EQ(verify_container(read_file(dir / "out.plk"), source, "src.bin"), "") << mib << " MiB";
    } else {
      EXPECT_EQ(run.status, 1) << mib << " MiB: " << run.err;
      EXPECT_EQ(read_file(dir / "out.plk"), old_target) << mib << " MiB";
    }
    EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"out.plk", "src.bin"})) << mib << " MiB";
  }
}

// Wherever one thread has room to run, every run has: under limits on its
// address space from a little above what one thread takes to well past
// what the threads asked for need, pelk takes the threads it can afford up
// front, or falls back to fewer or one, and where memory still runs out
// midway it starts over on one thread. Every run ends with status 0 and
// the one-thread container, at 2, 8 and 64 threads.
TEST(MemoryLimits, AnyLimitOneThreadFitsGivesTheOneThreadContainer) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: the sanitizers reserve more address space than any limit";
  struct range {
    unsigned threads;
    int first_mib, last_mib, step_mib;
  };
  for (const range& r : {range{2, 14, 40, 2}, range{8, 16, 112, 8}, range{64, 64, 1088, 128}}) {
    temp_dir dir;
    // A segment for every thread, at least eight; half of it random, so
    // that jobs keep many chunks.
    bytes source;
    for (size_t i = 0; source.size() < size_t{std::max(r.threads, 8u)} << 19; ++i) {
      const bytes piece = i % 2 == 0 ? random_bytes(256 * 1024, i) : bytes(256 * 1024, "limit"[i % 5]);
      source.insert(source.end(), piece.begin(), piece.end());
    }
    write_file(dir / "src.bin", source);
    const run_result reference = run_guarded({"src.bin", "one.plk"}, dir.path(), "", "", "", "1");
    ASSERT_EQ(reference.status, 0) << reference.err;
    const bytes one_thread = mask_stamp(read_file(dir / "one.plk"));
    ASSERT_EQ(verify_container(one_thread, source, "src.bin"), "");
    for (int mib = r.first_mib; mib <= r.last_mib; mib += r.step_mib) {
      const std::string where = std::to_string(r.threads) + " threads, " + std::to_string(mib) + " MiB";
      const run_result run = run_program("/usr/bin/env",
                                         {"env", "PELK_THREADS=" + std::to_string(r.threads), "prlimit",
                                          "--as=" + std::to_string(size_t(mib) << 20), pelk_binary(), "src.bin",
                                          "out.plk"},
                                         dir.path());
      EXPECT_EQ(run.status, 0) << where << ": " << run.err;
      if (run.status == 0) {
        EXPECT_TRUE(mask_stamp(read_file(dir / "out.plk")) == one_thread) << where;
      }
      EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"one.plk", "out.plk", "src.bin"})) << where;
      fs::remove(dir / "out.plk");
    }
  }
}

// Memory that runs out once a run on several threads is under way (the
// shim fails one allocation after the input has begun to arrive): into a
// temporary file, the run starts over on one thread and gives its
// container; into a device, which cannot be started over, the same
// failure is reported, which shows that it came midway. Before, the run
// into a file failed with "Cannot allocate memory" too.
TEST(MemoryLimits, AnAllocationFailingMidwayStartsTheRunOverOnOneThread) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: the sanitizers provide malloc themselves";
  temp_dir dir;
  // Six segments, half of them random: jobs that keep many chunks.
  bytes source;
  for (size_t i = 0; source.size() < size_t{3} << 20; ++i) {
    const bytes piece = i % 2 == 0 ? random_bytes(256 * 1024, i) : bytes(256 * 1024, "limit"[i % 5]);
    source.insert(source.end(), piece.begin(), piece.end());
  }
  write_file(dir / "src.bin", source);
  ASSERT_EQ(run_guarded({"src.bin", "one.plk"}, dir.path(), "", "", "", "1").status, 0);
  const bytes one_thread = mask_stamp(read_file(dir / "one.plk"));
  for (const int n : {1, 3, 10, 30}) {
    // No call log: writing it would allocate too, and could take the failure.
    const std::string fault = "new-fail " + std::to_string(n);
    const run_result run = run_guarded({"src.bin", "out.plk"}, dir.path(), fault, "", "", "3");
    EXPECT_EQ(run.status, 0) << fault << ": " << run.err;
    EXPECT_TRUE(mask_stamp(read_file(dir / "out.plk")) == one_thread) << fault;
    fs::remove(dir / "out.plk");
    EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"one.plk", "src.bin"})) << fault;

    const run_result direct = run_guarded({"src.bin", "/dev/null"}, dir.path(), fault, "", "", "3");
    EXPECT_EQ(direct.status, 1) << fault;
    EXPECT_EQ(direct.err, "\npelk: Cannot allocate memory\n") << fault;
  }
}

// Where parses never meet (all zeros here, read from a hole), one job goes
// on in the place of every job after it; memory must not grow with the
// length of such input: 16 and 128 MiB on two threads peak alike.
TEST(MemoryLimits, PeakDoesNotGrowWithInputWhereParsesNeverMeet) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: the sanitizers' own memory sets its peak";
  temp_dir dir;
  long peak_kib[2] = {};
  for (int i = 0; i < 2; ++i) {
    const size_t size = size_t{i == 0 ? 16u : 128u} << 20;
    std::ofstream(dir / "zeros.bin").close();
    fs::resize_file(dir / "zeros.bin", size);
    const run_result run = run_guarded({"zeros.bin", "out.plk"}, dir.path(), "", "", "", "2");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(verify_container(read_file(dir / "out.plk"), bytes(size, 0), "zeros.bin"), "") << size;
    peak_kib[i] = run.peak_kib;
  }
  EXPECT_LT(peak_kib[1] - peak_kib[0], 1024) << peak_kib[0] << " KiB, then " << peak_kib[1] << " KiB";
}

const bytes payload = to_bytes("hostile names must not change a single byte\n");

// Odd but legal names compress normally; the stored name is the raw tail.
TEST(HostileNames, CompressWithTheRawTailStored) {
  std::string deep;  // 19 directories of 200 characters, then the file: 4000 in all
  for (char d = 'a'; d < 'a' + 19; ++d) deep += std::string(199, d) + "/";
  deep += std::string(4000 - deep.size() - 4, 'f') + ".txt";
  struct accepted {
    std::string source, target, written, stored;  // target empty: derived
  };
  for (const accepted& c : std::vector<accepted>{
           {"my data file.txt", "", "my data file.plk", "my data file.txt"},
           {"two\nlines.txt", "", "two\nlines.plk", "two\nlines.txt"},
           {"-c", "-d", "-d", "-c"},  // no options: "-c" is a file name
           {"--help.txt", "", "--help.plk", "--help.txt"},
           {"\xff\xfe\x80.bin", "", "\xff\xfe\x80.plk", "\xff\xfe\x80.bin"},  // not UTF-8: stored as is
           {deep, "", deep.substr(0, 3997) + "plk", deep.substr(deep.rfind('/') + 1)},
           {"data:", "", "daplk", ""},  // empty tails: flags still 08, the name a lone zero byte
           {"dir\\", "", "dplk", ""}}) {
    temp_dir dir;
    fs::create_directories((dir / c.source).parent_path());
    write_file(dir / c.source, payload);
    std::vector<std::string> args = {c.source};
    if (!c.target.empty()) args.push_back(c.target);
    const run_result run = run_guarded(args, dir.path());
    EXPECT_EQ(run.status, 0) << c.source << run.err;
    EXPECT_EQ(run.out, announced(c.source));
    const bytes container = read_file(dir / c.written);
    EXPECT_EQ(verify_container(container, payload, c.stored), "") << c.source;
    EXPECT_EQ(container.at(12 + c.stored.size()), 0);
  }
}

// pelk printed names raw in its reports, escape sequences and line breaks
// and all, where unpelk escapes them: the same name must read the same in
// both programs' reports. The input line shows the name as typed.
TEST(HostileNames, ReportsEscapeNamesAsUnpelkDoes) {
  const std::string reason = std::string(": ") + std::strerror(ENOENT) + "\n";
  for (const std::string name : {"\x1B]2;pwned\x07.txt", "caf\xC3\xA9 \xC2\x9B" "1m.txt", "\xE2\x80\xAEtxt.exe",
                                 "\xFF\xC0\xAF", "back\\slash", "two\nlines"}) {
    SCOPED_TRACE(hex(to_bytes(name)));
    temp_dir dir;
    const run_result pelk = run_guarded({name, "out.plk"}, dir.path());
    const run_result unpelk = run_program(PELK_UNPELK_PATH, {"unpelk", "-t", name}, dir.path());
    EXPECT_EQ(pelk.status, 1);
    EXPECT_EQ(unpelk.status, 1);
    EXPECT_EQ(pelk.out, announced(name));
    const std::string pelk_start = "\npelk: ", unpelk_start = "unpelk: ";
    ASSERT_EQ(pelk.err.rfind(pelk_start, 0), 0u) << pelk.err;
    ASSERT_EQ(unpelk.err.rfind(unpelk_start, 0), 0u) << unpelk.err;
    ASSERT_TRUE(pelk.err.ends_with(reason)) << pelk.err;
    ASSERT_TRUE(unpelk.err.ends_with(reason)) << unpelk.err;
    const std::string shown = pelk.err.substr(pelk_start.size(), pelk.err.size() - pelk_start.size() - reason.size());
    EXPECT_EQ(shown, unpelk.err.substr(unpelk_start.size(), unpelk.err.size() - unpelk_start.size() - reason.size()));
    EXPECT_NE(shown, name);  // every one of these names holds something to escape
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }), 0);
  }
}

std::map<std::string, bytes> snapshot(const fs::path& dir) {
  std::map<std::string, bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const bool regular = fs::is_regular_file(fs::symlink_status(entry.path()));
    files[entry.path()] = regular ? read_file(entry.path()) : bytes{};
  }
  return files;
}

// Each refusal: one report, status 1, nothing in the directory created or
// changed, the source x.txt intact byte for byte, no hang on a FIFO.
TEST(HostileFiles, RefusedWithoutTouchingAnything) {
  const std::string same = "source and target are the same file", irregular = "not a regular file";
  struct refused {
    std::function<void(const fs::path&)> setup;
    std::vector<std::string> args;
    std::string file_named, reason;
  };
  const std::vector<refused> cases = {
      {[](auto& d) { fs::create_directory(d / "sub"); }, {"x.txt", "sub"}, "sub", std::strerror(EISDIR)},
      {nullptr, {"x.txt", "nowhere/x.plk"}, "nowhere/x.plk", std::strerror(ENOENT)},
      {nullptr, {"x.txt", "x.txt"}, "x.txt", same},
      {nullptr, {"x.txt", "./x.txt"}, "./x.txt", same},
      {[](auto& d) { fs::create_symlink("x.txt", d / "l.plk"); }, {"x.txt", "l.plk"}, "l.plk", same},
      {[](auto& d) { fs::create_hard_link(d / "x.txt", d / "h.plk"); }, {"x.txt", "h.plk"}, "h.plk", same},
      {[](auto& d) { fs::create_symlink("x.txt", d / "l.txt"); }, {"l.txt", "x.txt"}, "x.txt", same},
      {nullptr, {"none.txt", "out.plk"}, "none.txt", std::strerror(ENOENT)},
      {[](auto& d) { fs::create_directory(d / "d.txt"); }, {"d.txt", "out.plk"}, "d.txt", irregular},
      {[](auto& d) { mkfifo((d / "f.txt").c_str(), 0600); }, {"f.txt", "out.plk"}, "f.txt", irregular},
      {nullptr, {"/dev/zero", "out.plk"}, "/dev/zero", irregular},
      {nullptr, {"/dev/null", "out.plk"}, "/dev/null", irregular},
  };
  for (const refused& c : cases) {
    temp_dir dir;
    write_file(dir / "x.txt", payload);
    if (c.setup) c.setup(dir.path());
    const auto before = snapshot(dir.path());
    const run_result run = run_guarded(c.args, dir.path());
    EXPECT_EQ(run.status, 1) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.out, announced(c.args[0]));
    EXPECT_EQ(run.err, "\npelk: " + c.file_named + ": " + c.reason + "\n");
    EXPECT_EQ(snapshot(dir.path()), before) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(read_file(dir / "x.txt"), payload);
  }
}

// A target name that is a link is replaced as a name: the file it points to
// (even one the user could not write) keeps its bytes, a dangling link does
// not create its destination. A link to a device is still written through.
TEST(HostileFiles, LinkedTargetsAreReplacedNotFollowed) {
  const bytes victim = to_bytes("another file: only its owner may change it\n");
  struct linked {
    std::function<void(const fs::path&)> plant;
    bool replaced;  // out.plk becomes a regular file holding the container
  };
  const std::vector<linked> cases = {
      {[](auto& d) { fs::create_symlink("victim.txt", d / "out.plk"); }, true},
      {[](auto& d) { fs::create_symlink(d / "victim.txt", d / "out.plk"); }, true},
      {[](auto& d) { fs::create_hard_link(d / "victim.txt", d / "out.plk"); }, true},
      {[](auto& d) { fs::create_symlink("gone/nowhere.txt", d / "out.plk"); }, true},
      {[](auto& d) { fs::create_symlink("/dev/null", d / "out.plk"); }, false},
  };
  for (const linked& c : cases) {
    temp_dir dir;
    write_file(dir / "x.txt", payload);
    write_file(dir / "victim.txt", victim);
    fs::permissions(dir / "victim.txt", fs::perms(0444));
    c.plant(dir.path());
    const std::string planted = fs::is_symlink(dir / "out.plk") ? fs::read_symlink(dir / "out.plk").string() : "";
    const run_result run = run_guarded({"x.txt", "out.plk"}, dir.path());
    EXPECT_EQ(run.status, 0) << planted << run.err;
    EXPECT_EQ(read_file(dir / "victim.txt"), victim) << planted;
    EXPECT_FALSE(fs::exists(dir / "gone")) << planted;
    if (c.replaced) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "out.plk"))) << planted;
      EXPECT_EQ(verify_container(read_file(dir / "out.plk"), payload, "x.txt"), "") << planted;
    } else {
      EXPECT_EQ(fs::read_symlink(dir / "out.plk"), planted);
    }
    EXPECT_EQ(sorted_entries(dir.path()).size(), 3u) << planted;  // x.txt, victim.txt, out.plk
  }
}

// A target that is the program's own standard output or error under any
// name (a link such as /dev/stdout, /dev/fd/N, /proc/self/fd/N, another
// hard link of the file the shell sends it to) was written as a file: pelk
// reopened a log from offset 0 and wrote over its start, or put its banner
// and the container into one pipe, and both programs replaced a link to the
// stream (as root, /dev/stdout itself) with a regular file. Each is refused
// in one line before anything is written, and every name stays as it was;
// pelk's banner, which comes first, is not written into a target that is
// standard output either.
// The links are the test's own, so a faulty build replaces those, never
// the system's.
TEST(HostileFiles, StandardStreamsAreRefusedUnderAnyName) {
  const std::string pelk = pelk_binary(), unpelk = PELK_UNPELK_PATH;
  const std::string pelk_out = ": is standard output, which carries pelk's messages\n";
  const std::string pelk_err = ": is standard error, which carries pelk's messages\n";
  const std::string unpelk_out = ": is standard output; use -c to write there\n";
  const std::string unpelk_err = ": is standard error; use -c to write to standard output\n";
  const std::string log = "an earlier line of the log\n";
  const bytes container = compress_with_pelk(payload, "x.txt");
  const struct {
    std::vector<std::string> command;
    std::string report;  // what standard error receives
  } cases[] = {
      {{pelk, "x.txt", "out"}, "\npelk: out" + pelk_out},
      {{pelk, "x.txt", "/proc/self/fd/1"}, "\npelk: /proc/self/fd/1" + pelk_out},
      {{pelk, "x.txt", "log-too.txt"}, "\npelk: log-too.txt" + pelk_out},
      {{pelk, "x.txt", "err"}, "\npelk: err" + pelk_err},
      {{pelk, "x.txt", "/dev/fd/2"}, "\npelk: /dev/fd/2" + pelk_err},
      {{unpelk, "-f", "x.plk", "out"}, "unpelk: out" + unpelk_out},
      {{unpelk, "x.plk", "/dev/fd/1"}, "unpelk: /dev/fd/1" + unpelk_out},
      {{unpelk, "-f", "x.plk", "log-too.txt"}, "unpelk: log-too.txt" + unpelk_out},
      {{unpelk, "-f", "x.plk", "err"}, "unpelk: err" + unpelk_err},
  };
  for (const auto& c : cases) {
    const bool is_pelk = c.command[0] == pelk;
    SCOPED_TRACE((is_pelk ? "pelk " : "unpelk ") + c.command.back());
    temp_dir dir;
    write_file(dir / "x.txt", payload);
    write_file(dir / "x.plk", container);
    write_file(dir / "log.txt", to_bytes(log));
    fs::create_hard_link(dir / "log.txt", dir / "log-too.txt");
    fs::create_symlink("/proc/self/fd/1", dir / "out");
    fs::create_symlink("/proc/self/fd/2", dir / "err");
    // As a shell runs it: standard output appended to the log.
    std::vector<std::string> argv = {"sh", "-c", "exec \"$@\" >>log.txt 2>err.txt", "sh"};
    argv.insert(argv.end(), c.command.begin(), c.command.end());
    const run_result run = run_program("/bin/sh", argv, dir.path());
    EXPECT_EQ(run.status, 1);
    // pelk announces itself on standard output, unless its target is the
    // file standard output goes to: the banner would change it.
    const bool announced_first = is_pelk && c.report.ends_with(pelk_err);
    EXPECT_EQ(read_file(dir / "log.txt"), to_bytes(log + (announced_first ? announced("x.txt") : "")));
    EXPECT_EQ(read_file(dir / "err.txt"), to_bytes(c.report));
    EXPECT_EQ(fs::read_symlink(dir / "out"), "/proc/self/fd/1");
    EXPECT_EQ(fs::read_symlink(dir / "err"), "/proc/self/fd/2");
    EXPECT_EQ(sorted_entries(dir.path()),
              (std::vector<std::string>{"err", "err.txt", "log-too.txt", "log.txt", "out", "x.plk", "x.txt"}));
  }
  // Standard output a pipe, as in "pelk x.txt /dev/stdout | unpelk -c".
  temp_dir dir;
  write_file(dir / "x.txt", payload);
  const run_result run = run_program(pelk, {pelk, "x.txt", "/proc/self/fd/1"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, announced("x.txt"));
  EXPECT_EQ(run.err, "\npelk: /proc/self/fd/1" + pelk_out);
  // A source that is standard output would be compressed with the banner
  // in it, or over it (1<>), and be left changed.
  for (const std::string redirect : {">>", "1<>"}) {
    const run_result into_source = run_program(
        "/bin/sh", {"sh", "-c", "exec \"$@\" " + redirect + "x.txt", "sh", pelk, "x.txt", "y.plk"}, dir.path());
    EXPECT_EQ(into_source.status, 1) << redirect;
    EXPECT_EQ(into_source.err, "\npelk: x.txt" + pelk_out);
    EXPECT_EQ(read_file(dir / "x.txt"), payload);
    EXPECT_FALSE(fs::exists(dir / "y.plk"));
  }
  // The null device as both the target and standard output, as benchmarks
  // run pelk: nothing can be spoiled there, so it is no refusal.
  const run_result discarded =
      run_program("/bin/sh", {"sh", "-c", "exec \"$@\" >/dev/null", "sh", pelk, "x.txt", "/dev/null"}, dir.path());
  EXPECT_EQ(discarded.status, 0) << discarded.err;
  EXPECT_EQ(discarded.err, "");
}

// Where the temporary file cannot be hard-linked into place (the shim's
// link() fails with EPERM), unpelk without -f checked that the name was
// free and then renamed over it, replacing a file that appeared in between
// (the shim creates it just before the rename). Only where the system
// cannot rename without replacing (renameat2 failing with EINVAL) is that
// the way, and the restore still succeeds there.
TEST(HostileFiles, RestoreWithoutHardLinksKeepsAFileThatAppearsMeanwhile) {
  temp_dir dir;
  write_file(dir / "x.plk", compress_with_pelk(payload, "x.txt"));
  const run_result run = run_unpelk_guarded({"x.plk", "new.txt"}, dir.path(), "no-hard-links 1 0");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "unpelk: new.txt: already exists (use -f to overwrite)\n");
  EXPECT_EQ(read_file(dir / "new.txt"), to_bytes("appeared meanwhile\n"));
  EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"new.txt", "x.plk"}));

  const run_result fallback =
      run_unpelk_guarded({"x.plk", "other.txt"}, dir.path(), "no-hard-links 0 " + std::to_string(EINVAL));
  EXPECT_EQ(fallback.status, 0) << fallback.err;
  EXPECT_EQ(read_file(dir / "other.txt"), payload);
  EXPECT_EQ(sorted_entries(dir.path()), (std::vector<std::string>{"new.txt", "other.txt", "x.plk"}));
}

// No invalid access, no uninitialised value deciding anything, no definite
// leak. Memcheck cannot run under the sanitizers' runtime.
TEST(Memcheck, SmallCorpusFilesRunClean) {
  if (PELK_SANITIZED) GTEST_SKIP() << "sanitizer build: memcheck runs in the plain build";
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  for (const char* name : {"alice29.txt", "fireworks.jpeg", "kppkn.gtb"}) {
    temp_dir dir;
    const run_result run = run_program("/usr/bin/valgrind",
                                       {"valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                                        "--errors-for-leak-kinds=definite", pelk_binary(),
                                        (*corpus / name).string(), "out.plk"},
                                       dir.path());
    EXPECT_EQ(run.status, 0) << name << run.err;
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(verify_container(read_file(dir / "out.plk"), read_file(*corpus / name), name), "");
  }
}

// Opt-in (PELK_LARGE_TESTS=1): a hole of 4 GiB, then "tail!". The size field
// holds the length modulo 2^32; unpelk inflates the stream into a pipe.
TEST(LargeFiles, FourGiBAndFiveBytesInConstantMemory) {
  if (std::getenv("PELK_LARGE_TESTS") == nullptr) GTEST_SKIP() << "opt-in: set PELK_LARGE_TESTS=1";
  const uint64_t hole = uint64_t{1} << 32;
  temp_dir dir;
  std::ofstream(dir / "big.bin").close();
  fs::resize_file(dir / "big.bin", hole);
  std::ofstream(dir / "big.bin", std::ios::app) << "tail!";
  const auto start = std::chrono::steady_clock::now();
  const run_result run = run_pelk({"big.bin", "big.plk"}, dir.path());
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("pelk: %.1f s, peak resident %ld KiB\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LT(usage.ru_maxrss, 64 * 1024);
  EXPECT_EQ(parse_header(read_file(dir / "big.plk"))->size_field, 5u);

  std::FILE* pipe = ::popen(("'" PELK_UNPELK_PATH "' -c '" + (dir / "big.plk").string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<char> chunk(1 << 20);
  uint64_t seen = 0, wrong = 0;
  for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0; seen += got) {
    for (uint64_t at = seen; at < seen + got; ++at) {
      wrong += at >= hole + 5 || chunk[at - seen] != (at < hole ? '\0' : "tail!"[at - hole]);
    }
  }
  EXPECT_EQ(::pclose(pipe), 0);  // unpelk also checks the CRC and the size field
  EXPECT_EQ(seen, hole + 5);
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace pelk::test
