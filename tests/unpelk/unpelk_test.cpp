// SPDX-License-Identifier: MIT
// The real unpelk on containers from the real pelk: round trips, every kind
// of malformed container, unsafe stored names, and what each option prints,
// writes and returns; and the progress line of both programs on a terminal.
#include <gtest/gtest.h>

#include <libdeflate.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

// Runs unpelk in dir; checks the status and that standard error is empty,
// or (on failure) one line starting with err_start.
run_result unpelk(strings args, const temp_dir& dir, int status, const std::string& err_start = "") {
  args.insert(args.begin(), UNPELK_BINARY_PATH);
  run_result run = run_program(UNPELK_BINARY_PATH, args, dir.path());
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_EQ(run.err.rfind(err_start, 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), status == 0 ? 0 : 1) << run.err;
  return run;
}

strings entries_of(const fs::path& directory) { return sorted_entries(directory); }
strings entries(const temp_dir& dir) { return sorted_entries(dir.path()); }

class UnpelkCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(UnpelkCorpus, RestoresTheSourceUnderItsStoredName) {
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  temp_dir dir;
  ASSERT_EQ(run_pelk({(*corpus / GetParam()).string(), "c.plk"}, dir.path()).status, 0);
  unpelk({"c.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / GetParam()) == read_file(*corpus / GetParam()));
  EXPECT_EQ(entries(dir).size(), 2u);  // c.plk and the restored file: no temporary file left
}

INSTANTIATE_TEST_SUITE_P(Corpus, UnpelkCorpus, ::testing::ValuesIn(corpus_files),
                         [](const auto& test) { return std::to_string(test.index); });

TEST(UnpelkRoundTrip, SyntheticInputsThroughStandardOutput) {
  for (const bytes& data : {bytes{}, bytes{'a'}, random_bytes(70000, 7), bytes(300000, 'z')}) {
    temp_dir dir;
    write_file(dir / "s.plk", compress_with_pelk(data, "s.bin"));
    EXPECT_EQ(unpelk({"-c", "s.plk"}, dir, 0).out, std::string(data.begin(), data.end()));
    EXPECT_EQ(entries(dir), strings{"s.plk"});
  }
}

TEST(UnpelkDamage, EveryMalformedContainerIsRefusedAndLeavesNoFile) {
  const bytes good = compress_with_pelk(to_bytes(std::string(200, 'q') + "some text, more text, yet more text"), "t");
  const size_t stream = parse_header(good)->stream_offset;
  const std::vector<std::tuple<std::function<void(bytes&)>, std::string>> damages = {
      {[](bytes& c) { c[1] = 0x8B; }, "not a pelk container (bad magic bytes)"},
      {[](bytes& c) { c[2] = 9; }, "unknown compression method 9"},
      {[](bytes& c) { c[3] = 0x18; }, "unknown flags 0x18"},
      {[](bytes& c) { c.resize(9); }, "truncated header"},
      {[](bytes& c) { c.resize(13); }, "truncated header"},
      {[&](bytes& c) { c.resize(stream + 3); }, "compressed data is truncated"},
      {[&](bytes& c) { c[stream] = 0x07; }, "compressed data is corrupt: reserved block type"},
      {[](bytes& c) { c.erase(c.end() - 2, c.end()); }, "truncated: the CRC-32 after the compressed data is missing"},
      {[](bytes& c) { c.back() ^= 0x80; }, "CRC-32 mismatch: the container says "},
      {[](bytes& c) { c[8] ^= 1; }, "size mismatch: the header says 234 bytes, the data has 235"},
      {[](bytes& c) { c.push_back(0); }, "unexpected bytes after the CRC-32"}};
  for (const auto& [damage, message] : damages) {
    SCOPED_TRACE(message);
    temp_dir dir;
    bytes container = good;
    damage(container);
    write_file(dir / "t.plk", container);
    unpelk({"-t", "t.plk"}, dir, 1, "unpelk: t.plk: " + message);
    unpelk({"t.plk"}, dir, 1, "unpelk: t.plk: " + message);
    EXPECT_EQ(entries(dir), strings{"t.plk"});
  }
}

// Prefixes of containers holding stored, fixed and dynamic blocks, one or
// several, are each reported by -t as truncated, one line each, whatever
// the missing bits would have decoded to: every prefix of the small ones,
// and of the largest every 13th (the library's test takes every prefix of
// it through the same decoder; creating files is what takes the time).
TEST(UnpelkDamage, EveryPrefixOfAContainerIsReportedAsTruncated) {
  for (const bytes& source : sources_of_every_block_kind()) {
    const bytes container = compress_with_pelk(source, "p.txt");
    const size_t stride = container.size() > 4000 ? 13 : 1;
    // A thousand prefixes at a time, each a file named after its length.
    for (size_t first = 0; first < container.size(); first += 1000 * stride) {
      SCOPED_TRACE(std::to_string(first) + " of " + std::to_string(container.size()) + " bytes");
      temp_dir dir;
      strings args = {UNPELK_BINARY_PATH, "-t"};
      for (size_t size = first; size < std::min(first + 1000 * stride, container.size()); size += stride) {
        args.push_back(std::to_string(size));
        write_file(dir / args.back(), bytes(container.begin(), container.begin() + static_cast<ptrdiff_t>(size)));
      }
      const run_result run = run_program(UNPELK_BINARY_PATH, args, dir.path());
      EXPECT_EQ(run.status, 1);
      size_t lines = 0;
      std::string wrong;
      for (size_t at = 0, end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        const std::string line = run.err.substr(at, end - at);
        const std::string named = "unpelk: " + std::to_string(first + lines * stride) + ": ";
        const std::string reason = line.rfind(named, 0) == 0 ? line.substr(named.size()) : line;
        if (reason.rfind("truncated", 0) != 0 && reason != "compressed data is truncated") wrong += line + "\n";
      }
      EXPECT_EQ(wrong, "");
      EXPECT_EQ(lines, args.size() - 2);
    }
  }
}

TEST(UnpelkStoredName, UnsafeNamesAreRefusedAndATargetIsUsedInstead) {
  const bytes good = compress_with_pelk(to_bytes("hello"), "x");  // the name "x\0" sits at offsets 12-13
  for (const std::string& name : strings{"", ".", "..", "../up", "a/b", "a\\b", "c:d", "tab\there", std::string(300, 'n')}) {
    SCOPED_TRACE(name);
    temp_dir dir;
    bytes container = good;
    container.erase(container.begin() + 12);
    container.insert(container.begin() + 12, name.begin(), name.end());
    write_file(dir / "n.plk", container);
    unpelk({"n.plk"}, dir, 1, "unpelk: n.plk: refusing the stored name");
    EXPECT_EQ(entries(dir), strings{"n.plk"});
    unpelk({"n.plk", "out"}, dir, 0);
    EXPECT_TRUE(read_file(dir / "out") == to_bytes("hello"));
  }
  temp_dir dir;
  bytes nameless = good;
  nameless[3] = 0;
  nameless.erase(nameless.begin() + 12, nameless.begin() + 14);
  write_file(dir / "u.plk", nameless);
  unpelk({"u.plk"}, dir, 1, "unpelk: u.plk: the container stores no name; give a target name");
  unpelk({"u.plk", "sub/../out"}, dir, 1, "unpelk: sub/../out: cannot create a temporary file");
  unpelk({"u.plk", "out"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "out") == to_bytes("hello"));
}

TEST(UnpelkOptions, TestListStdoutOverwriteAndUsage) {
  temp_dir dir;
  const std::string text(3000, 'a');
  const bytes container = compress_with_pelk(to_bytes(text), "a.txt");
  write_file(dir / "a.plk", container);
  write_file(dir / "bad.plk", bytes(container.begin(), container.begin() + 5));

  EXPECT_EQ(unpelk({"-t", "a.plk", "bad.plk"}, dir, 1, "unpelk: bad.plk: truncated header").out, "");
  const std::string listing = unpelk({"-l", "a.plk"}, dir, 0).out;
  EXPECT_NE(listing.find(std::to_string(container.size()) + "          3000   "), std::string::npos) << listing;
  EXPECT_EQ(listing.substr(listing.size() - 7), " a.txt\n");
  EXPECT_EQ(unpelk({"-c", "a.plk"}, dir, 0).out, text);

  write_file(dir / "a.txt", to_bytes("old"));
  unpelk({"a.plk"}, dir, 1, "unpelk: a.txt: already exists (use -f to overwrite)");
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes("old"));
  unpelk({"-f", "a.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes(text));

  // The long forms do what their letters do; "--" ends the options.
  EXPECT_EQ(unpelk({"--stdout", "a.plk"}, dir, 0).out, text);
  EXPECT_EQ(unpelk({"--to-stdout", "--quiet", "--keep", "a.plk"}, dir, 0).out, text);
  EXPECT_EQ(unpelk({"--list", "a.plk"}, dir, 0).out, listing);
  unpelk({"--test", "a.plk", "bad.plk"}, dir, 1, "unpelk: bad.plk: truncated header");
  write_file(dir / "a.txt", to_bytes("old"));
  unpelk({"-qf", "a.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes(text));
  write_file(dir / "a.txt", to_bytes("old"));
  unpelk({"a.plk", "--force"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes(text));
  write_file(dir / "-a.plk", container);
  EXPECT_EQ(unpelk({"-c", "--", "-a.plk"}, dir, 0).out, text);

  const std::vector<std::pair<strings, std::string>> usage_errors = {
      {{}, "no container given"},
      {{"-c", "-a.plk"}, "unknown option -a"},
      {{"--bogus", "a.plk"}, "unknown option --bogus"},
      {{"--force=yes", "a.plk"}, "option --force takes no value"},
      {{"a.plk", "-d"}, "option -d needs a directory name"},
      {{"-t", "--list", "a.plk"}, "options -c, -t and -l exclude each other"},
      {{"-t", "--directory=.", "a.plk"}, "option -d restores into a directory; it does not go with -c, -t or -l"},
      {{"-c", "-", "a.plk", "-"}, "standard input can be read only once"},
      {{"a.plk", "-"}, "\"-\" is not a target; -c writes to standard output"}};
  for (const auto& [args, message] : usage_errors) {
    EXPECT_EQ(unpelk(args, dir, 2).err, "unpelk: " + message + " (unpelk --help shows the usage)\n");
  }
  const std::string help = unpelk({"-h"}, dir, 0).out;
  EXPECT_EQ(help.rfind("Usage: unpelk", 0), 0u);
  EXPECT_EQ(unpelk({"--help"}, dir, 0).out, help);
  EXPECT_EQ(unpelk({"-V"}, dir, 0).out, "unpelk " PELK_VERSION "\n");
  EXPECT_EQ(unpelk({"--version"}, dir, 0).out, "unpelk " PELK_VERSION "\n");
}

// Targets that must never be written, each refused with its real reason and
// leaving every file as it was.
TEST(UnpelkTarget, RefusedTargetsAreLeftAloneWithTheirRealReason) {
  temp_dir dir;
  const bytes container = compress_with_pelk(to_bytes("restored"), "a.txt");
  write_file(dir / "x.plk", container);
  write_file(dir / "a.txt", to_bytes("unrelated"));

  // An empty target (a script's unset variable) was taken as "no target",
  // and -f then replaced the file under the stored name.
  unpelk({"-f", "x.plk", ""}, dir, 2, "unpelk: an empty file name was given");
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes("unrelated"));

  // The container was restored over itself, whether named as the target or
  // stored under its own file name, and its data was lost.
  const bytes self = compress_with_pelk(to_bytes("restored"), "self.plk");
  write_file(dir / "self.plk", self);
  unpelk({"-f", "self.plk", "./self.plk"}, dir, 1, "unpelk: ./self.plk: is the container being restored");
  unpelk({"-f", "self.plk"}, dir, 1, "unpelk: self.plk: is the container being restored");
  EXPECT_TRUE(read_file(dir / "self.plk") == self);

  // -f replaced a FIFO (or, as root, a device node) with a regular file.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  unpelk({"-f", "x.plk", "fifo"}, dir, 1, "unpelk: fifo: is a FIFO, not a regular file");
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));

  // Refusals gave the system's reason for a later step: "Device or resource
  // busy" for a stored name that is a directory, "Not a directory" for a
  // missing directory with a slash.
  fs::create_directory(dir / "sub");
  write_file(dir / "d.plk", compress_with_pelk(to_bytes("restored"), "sub"));
  unpelk({"-f", "d.plk"}, dir, 1, "unpelk: sub: is a directory\n");
  unpelk({"-f", "d.plk", "."}, dir, 1, "unpelk: ./sub: is a directory\n");
  unpelk({"x.plk", "new/"}, dir, 1, "unpelk: new/: names a directory (it ends in /), not a file\n");
  EXPECT_EQ(entries(dir), (strings{"a.txt", "d.plk", "fifo", "self.plk", "sub", "x.plk"}));
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

// A container of 1 + 258 * copies zero bytes: one fixed-code block of a
// literal 0 and then copies of 258 bytes at distance 1 (code 285, distance
// code 0: 13 bits each), so a gibibyte takes 7 MB. Its size field and CRC
// are zero, for the caller to set.
bytes zeros_container(uint32_t copies) {
  bytes c = {0x1F, 0xAB, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](uint32_t value, int width) {  // least significant bit first
    bits |= value << count;
    for (count += width; count >= 8; count -= 8, bits >>= 8) c.push_back(static_cast<uint8_t>(bits));
  };
  auto huffman = [](uint32_t code, int width) {  // Huffman codes go most significant bit first
    uint32_t reversed = 0;
    for (int i = 0; i < width; ++i) reversed |= ((code >> i) & 1) << (width - 1 - i);
    return reversed;
  };
  put(1, 1);                   // final block
  put(1, 2);                   // fixed codes
  put(huffman(0x30, 8), 8);    // literal 0
  const uint32_t copy = huffman(0xC5, 8) | huffman(0, 5) << 8;  // length 258, distance 1
  for (uint32_t i = 0; i < copies; ++i) put(copy, 13);
  put(huffman(0, 7), 7);       // end of block
  put(0, 7);
  c.insert(c.end(), 4, 0);     // CRC-32
  return c;
}

// How a run ended that a signal may have ended.
struct ended_run {
  int wait_status = 0;
  std::string err;
};

// Restores `container` in dir to "out" with the file-size limit `limit`
// (SIGXFSZ ignored or at its default), no core dumps, and calls
// while_running with the process id before waiting for it.
ended_run restore_limited(const temp_dir& dir, const std::string& container, rlim_t limit, bool ignore_xfsz,
                          const std::function<void(pid_t)>& while_running = {}) {
  const strings args = {UNPELK_BINARY_PATH, container, "out"};
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int err_pipe[2];
  if (::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    const rlimit file_size = {limit, limit}, no_core = {0, 0};
    ::setrlimit(RLIMIT_FSIZE, &file_size);
    ::setrlimit(RLIMIT_CORE, &no_core);
    // A test run started in the background by a shell has SIGINT and
    // SIGQUIT ignored, which unpelk rightly keeps; start from the defaults.
    for (const int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM,
                                    SIGPROF, SIGXCPU}) {
      ::signal(signal_number, SIG_DFL);
    }
    ::signal(SIGXFSZ, ignore_xfsz ? SIG_IGN : SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(err_pipe[1], 2);
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  if (while_running) while_running(pid);
  ended_run run;
  ::waitpid(pid, &run.wait_status, 0);
  char chunk[4096];
  for (ssize_t got; (got = ::read(err_pipe[0], chunk, sizeof chunk)) > 0;) run.err.append(chunk, static_cast<size_t>(got));
  ::close(err_pipe[0]);
  return run;
}

// Waits until the restore in dir has written into its temporary file.
bool temporary_file_written(const temp_dir& dir) {
  for (int tries = 0; tries < 10000; ++tries) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir.path(), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (it->path().filename().string().rfind(".unpelk-", 0) == 0 && fs::file_size(it->path(), ec) > 0 && !ec) {
        return true;
      }
    }
    ::usleep(1000);
  }
  return false;
}

// Only SIGINT, SIGTERM, SIGHUP and SIGPIPE removed the temporary file; any
// other signal that ends the process (a file-size limit, a CPU limit, an
// alarm, SIGUSR1) left it behind.
TEST(UnpelkSignals, EverySignalThatEndsARestoreRemovesItsTemporaryFile) {
  temp_dir dir;
  write_file(dir / "z.plk", compress_with_pelk(bytes(300000, 0), "z"));
  const ended_run limited = restore_limited(dir, "z.plk", 65536, false);
  EXPECT_TRUE(WIFSIGNALED(limited.wait_status) && WTERMSIG(limited.wait_status) == SIGXFSZ) << limited.wait_status;
  EXPECT_EQ(entries(dir), strings{"z.plk"});

  // Ignored at the start, a signal stays ignored: the write fails instead.
  const ended_run ignored = restore_limited(dir, "z.plk", 65536, true);
  EXPECT_TRUE(WIFEXITED(ignored.wait_status) && WEXITSTATUS(ignored.wait_status) == 1) << ignored.wait_status;
  EXPECT_EQ(ignored.err, "unpelk: out: write error: " + std::string(std::strerror(EFBIG)) + "\n");
  EXPECT_EQ(entries(dir), strings{"z.plk"});

  // Signals from outside, mid-decode; the size limit (SIGXFSZ ignored)
  // only bounds the disk a run could fill if a signal came too late.
  write_file(dir / "g.plk", zeros_container((1u << 30) / 258));  // a gibibyte from 7 MB; its CRC is wrong
  for (const int signal_number : {SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal_number));
    const ended_run run = restore_limited(dir, "g.plk", rlim_t{512} << 20, true, [&](pid_t pid) {
      ASSERT_TRUE(temporary_file_written(dir));
      ::kill(pid, signal_number);
    });
    EXPECT_TRUE(WIFSIGNALED(run.wait_status) && WTERMSIG(run.wait_status) == signal_number) << run.wait_status;
    EXPECT_EQ(entries(dir), (strings{"g.plk", "z.plk"}));
  }
}

// C1 controls (raw and as UTF-8), bidirectional overrides and bytes that are
// not UTF-8 reached the terminal raw, in -l and in messages, and so did a
// container's own file name; printable UTF-8 must still show as itself.
TEST(UnpelkNames, EveryNameIsEscapedWhereverItIsPrinted) {
  const std::string name = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xC2\x9B" "1m \x9B" "1m \xE2\x80\xAEtxt.exe \xFF\xC0\xAF";
  const std::string shown = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \\xC2\\x9B1m \\x9B1m \\xE2\\x80\\xAEtxt.exe \\xFF\\xC0\\xAF";
  temp_dir dir;
  write_file(dir / "n.plk", compress_with_pelk(to_bytes("data"), name));
  const std::string listing = unpelk({"-l", "n.plk"}, dir, 0).out;
  EXPECT_EQ(listing.substr(listing.size() - shown.size() - 2), " " + shown + "\n") << listing;

  write_file(dir / name, to_bytes("taken"));
  unpelk({"n.plk"}, dir, 1, "unpelk: " + shown + ": already exists (use -f to overwrite)\n");
  write_file(dir / "\x1B]2;pwned\x07.plk", to_bytes("x"));
  unpelk({"-t", "\x1B]2;pwned\x07.plk"}, dir, 1, "unpelk: \\x1B]2;pwned\\x07.plk: not a pelk container");
}

// -l printed a ratio of -5480.0% that pushed the later columns aside,
// dates such as an hour 31 or a February 30th, a ratio from a size field
// that cannot be the whole size, and its heading when no container could
// be read. Several containers end with their totals.
TEST(UnpelkListing, FiguresStayInTheirColumnsAndNeverMislead) {
  auto with = [](bytes c, uint32_t stamp, std::optional<uint32_t> size = {}) {
    for (int i = 0; i < 4; ++i) c[4 + i] = static_cast<uint8_t>(stamp >> 8 * i);
    for (int i = 0; size && i < 4; ++i) c[8 + i] = static_cast<uint8_t>(*size >> 8 * i);
    return c;
  };
  auto stamp = [](uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute, uint32_t second) {
    return (year - 1980) << 26 | (month - 1) << 21 | (day - 1) << 16 | hour << 11 | minute << 5 | second / 2;
  };
  auto column = [](uint64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%12llu", static_cast<unsigned long long>(value));
    return std::string(text);
  };
  const uint32_t leap_day = stamp(2020, 2, 29, 12, 34, 56), hour_31 = stamp(2020, 1, 1, 31, 0, 0),
                 february_30 = stamp(2020, 2, 30, 0, 0, 0);
  const bytes tiny = compress_with_pelk(to_bytes("a"), "tiny"), big = compress_with_pelk(random_bytes(70000, 3), "big");
  temp_dir dir;
  write_file(dir / "1.plk", with(tiny, leap_day));
  write_file(dir / "2.plk", with(tiny, hour_31));
  write_file(dir / "3.plk", with(tiny, february_30));
  write_file(dir / "4.plk", with(big, leap_day, 100));  // a 4 GiB + 100 source, or damage
  write_file(dir / "5.plk", with(big, leap_day));

  const std::string out = unpelk({"-l", "1.plk", "2.plk", "3.plk", "4.plk", "5.plk"}, dir, 0).out;
  const std::string head = "  compressed  uncompressed   ratio  date       time      name\n";
  const std::string tiny_figures = column(tiny.size()) + "             1  <-999%  ";
  const std::string big_figures = column(big.size()) + "         70000   -0.1%  ";  // incompressible is not "wrapped"
  // The totals of a size known only to pass 4294967295 are a bound: more
  // than the known sizes plus 4294967295.
  EXPECT_EQ(out, head + tiny_figures + "2020-02-29 12:34:56  tiny\n" +
                     tiny_figures + "invalid 0xA000F800   tiny\n" +
                     tiny_figures + "invalid 0xA03D0000   tiny\n" +
                     column(big.size()) + "   >4294967295      --  2020-02-29 12:34:56  big\n" +
                     big_figures + "2020-02-29 12:34:56  big\n" +
                     column(3 * tiny.size() + 2 * big.size()) + "   >" + std::to_string(3 + 4294967295ull + 70000) +
                     "      --  " + std::string(21, ' ') + "(total of 5 containers)\n");
  EXPECT_EQ(unpelk({"-l", "missing.plk"}, dir, 1, "unpelk: missing.plk: ").out, "");
}


// Several containers are restored, each beside itself or into the directory
// -d names, and one that fails stops none of the others; two operands are
// always a container and its target, never two containers.
TEST(UnpelkSeveral, EachContainerIsRestoredWhereTheOperandsSay) {
  temp_dir dir;
  for (const char* sub : {"sub", "out", "into"}) fs::create_directory(dir / sub);
  write_file(dir / "a.plk", compress_with_pelk(to_bytes("first"), "a.txt"));
  write_file(dir / "sub/b.plk", compress_with_pelk(to_bytes("second"), "b.txt"));
  write_file(dir / "bad.plk", to_bytes("junk"));

  unpelk({"a.plk", "bad.plk", "sub/b.plk"}, dir, 1, "unpelk: bad.plk: not a pelk container (bad magic bytes)\n");
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes("first"));
  EXPECT_TRUE(read_file(dir / "sub/b.txt") == to_bytes("second"));

  unpelk({"-d", "out", "a.plk", "sub/b.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "out/a.txt") == to_bytes("first"));
  EXPECT_TRUE(read_file(dir / "out/b.txt") == to_bytes("second"));
  unpelk({"sub/b.plk", "into"}, dir, 0);  // an existing directory is where, not what
  EXPECT_EQ(entries_of(dir / "into"), strings{"b.txt"});

  const bytes kept = read_file(dir / "sub/b.plk");
  unpelk({"a.plk", "sub/b.plk"}, dir, 1, "unpelk: sub/b.plk: is a pelk container, not a target");
  unpelk({"-d", "a.plk", "sub/b.plk"}, dir, 1, "unpelk: a.plk: is not a directory\n");
  EXPECT_TRUE(read_file(dir / "sub/b.plk") == kept);
  EXPECT_EQ(entries(dir), (strings{"a.plk", "a.txt", "bad.plk", "into", "out", "sub"}));
}

// Two containers matched by one glob (unpelk -f *.plk) were taken as a
// container and its target, and the second was replaced by the first's
// data, status 0; without -f the refusal suggested exactly that.
TEST(UnpelkSeveral, AContainerIsNeverTheTargetOfAnother) {
  temp_dir dir;
  const bytes alpha = compress_with_pelk(to_bytes("alpha\n"), "a.txt");
  const bytes beta = compress_with_pelk(to_bytes("beta\n"), "b.txt");
  write_file(dir / "a.plk", alpha);
  write_file(dir / "b.plk", beta);
  fs::create_symlink("b.plk", dir / "link.plk");
  const std::string refusal =
      ": is a pelk container, not a target: to restore both, use -d DIR or restore them one at a time; "
      "to replace it, remove it first\n";
  const std::vector<strings> two_operands = {{"-f", "a.plk", "b.plk"}, {"a.plk", "b.plk"}, {"-f", "a.plk", "link.plk"}};
  for (const strings& args : two_operands) {
    EXPECT_EQ(unpelk(args, dir, 1).err, "unpelk: " + args.back() + refusal);
  }
  EXPECT_TRUE(read_file(dir / "b.plk") == beta);
  EXPECT_EQ(entries(dir), (strings{"a.plk", "b.plk", "link.plk"}));
  unpelk({"-d", ".", "a.plk", "b.plk"}, dir, 0);  // what the message offers
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes("alpha\n") && read_file(dir / "b.txt") == to_bytes("beta\n"));

  // Anything else that is a regular file is still a target for -f, even one
  // that starts as a container does.
  write_file(dir / "near.plk", bytes{0x1F, 0x8B, 8});
  unpelk({"-f", "a.plk", "near.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "near.plk") == to_bytes("alpha\n"));
}

// The help and the version reported success when they could not be
// written, unlike everything else unpelk writes to standard output.
TEST(UnpelkOptions, HelpAndVersionReportAFailedWrite) {
  temp_dir dir;
  const std::vector<std::pair<std::string, std::string>> outputs = {{"> /dev/full", std::strerror(ENOSPC)},
                                                                    {">&-", std::strerror(EBADF)}};
  for (const auto& [redirection, reason] : outputs) {
    for (const char* option : {"--help", "-V"}) {
      SCOPED_TRACE(std::string(option) + " " + redirection);
      const strings shell = {"sh", "-c", "exec \"$0\" \"$1\" " + redirection, UNPELK_BINARY_PATH, option};
      const run_result run = run_program("/bin/sh", shell, dir.path());
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "unpelk: standard output: write error: " + reason + "\n");
    }
  }
}

// A container arrives through a pipe: "-" names standard input, which -c
// and -t also read when no container is named. -l learns the container's
// length by decoding it, and without that length it prints no line.
TEST(UnpelkStandardInput, AContainerArrivesThroughAPipe) {
  temp_dir dir;
  const std::string text = "piped " + std::string(5000, 'p');
  const bytes container = compress_with_pelk(to_bytes(text), "p.txt");
  const std::string piped(container.begin(), container.end());
  auto through_pipe = [&](strings args, int status, const std::string& input) {
    args.insert(args.begin(), UNPELK_BINARY_PATH);
    const attached_run run = run_attached(args, dir, false, input);
    EXPECT_EQ(run.status, status) << run.err;
    return run;
  };
  EXPECT_EQ(through_pipe({"-c", "-"}, 0, piped).out, text);
  EXPECT_EQ(through_pipe({"-c"}, 0, piped).out, text);
  EXPECT_EQ(through_pipe({"-t"}, 0, piped).err, "");
  char figures[32];
  std::snprintf(figures, sizeof figures, "%12zu  %12zu", container.size(), text.size());
  const std::string listing = through_pipe({"-l", "-"}, 0, piped).out;
  EXPECT_EQ(listing.substr(listing.find('\n') + 1, 26), figures) << listing;
  EXPECT_EQ(listing.substr(listing.size() - 7), " p.txt\n");
  EXPECT_EQ(through_pipe({"-l"}, 0, piped).out, listing);  // was a usage error, unlike -c and -t
  through_pipe({"-"}, 0, piped);
  EXPECT_TRUE(read_file(dir / "p.txt") == to_bytes(text));

  const std::string truncated = piped.substr(0, piped.size() - 9);
  for (const char* mode : {"-t", "-l"}) {
    const attached_run run = through_pipe({mode, "-"}, 1, truncated);
    EXPECT_EQ(run.err, "unpelk: standard input: compressed data is truncated\n");
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(entries(dir), strings{"p.txt"});
}

// -l -v decodes: the uncompressed column shows the true size where the size
// field has wrapped past 4 GiB, the check column whether the CRC-32 and
// the size agree, and the totals add the true sizes. A bad CRC is also an
// error.
TEST(UnpelkListing, VerboseShowsTheTrueSizeAndTheCheck) {
  const uint32_t copies = (uint32_t{1} << 31) / 129 + 1;  // just past 4 GiB
  const uint64_t size = 1 + uint64_t{258} * copies;
  bytes big = zeros_container(copies);
  std::vector<uint8_t> zeros(1 << 20);
  uint32_t crc = 0;
  for (uint64_t left = size; left > 0; left -= std::min<uint64_t>(left, zeros.size())) {
    crc = libdeflate_crc32(crc, zeros.data(), std::min<uint64_t>(left, zeros.size()));
  }
  for (int i = 0; i < 4; ++i) {
    big[8 + i] = static_cast<uint8_t>(size >> 8 * i);  // the size modulo 2^32
    big[big.size() - 4 + i] = static_cast<uint8_t>(crc >> 8 * i);
  }
  bytes bad = compress_with_pelk(to_bytes(std::string(100, 'b')), "bad");
  bad.back() ^= 1;
  temp_dir dir;
  write_file(dir / "big.plk", big);
  write_file(dir / "bad.plk", bad);

  const run_result run = unpelk({"-l", "-v", "big.plk", "bad.plk"}, dir, 1, "unpelk: bad.plk: CRC-32 mismatch");
  const std::string head = "  compressed  uncompressed   ratio  check     date       time      name";
  char expected[160];
  std::snprintf(expected, sizeof expected, "%s\n%12zu  %12llu", head.c_str(), big.size(),
                static_cast<unsigned long long>(size));
  EXPECT_EQ(run.out.substr(0, std::strlen(expected)), expected) << run.out;
  const size_t check = head.find("check");
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(run.out.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[1].substr(check, 10), "ok        ");
  EXPECT_EQ(lines[2].substr(check, 10), "bad crc   ");
  std::snprintf(expected, sizeof expected, "%12zu  %12llu", big.size() + bad.size(),
                static_cast<unsigned long long>(size + 100));
  EXPECT_EQ(lines[3].substr(0, 26), expected);
  EXPECT_EQ(lines[3].substr(head.find("name")), "(total of 2 containers)");
}

// What a terminal shows on the cursor's line once it has taken `bytes`: a
// carriage return goes back to the line's start, and every other byte
// replaces the character under the cursor.
std::string terminal_line(const std::string& bytes) {
  std::string line;
  size_t column = 0;
  for (const char c : bytes) {
    if (c == '\r') {
      column = 0;
    } else if (column < line.size()) {
      line[column++] = c;
    } else {
      line.push_back(c);
      ++column;
    }
  }
  return line;
}

// The progress line of both programs appears on a terminal for a source or
// a container of 64 MiB or more, at once, and is gone when the run ends;
// never for a smaller one, with -q, or on a standard error that is a file.
// What goes to standard output never changes. Standard input that is a
// terminal is never read as a container.
TEST(Progress, DrawnAndErasedOnATerminalOnlyForLongWork) {
  temp_dir dir;
  write_file(dir / "big.bin", random_bytes(std::size_t{65} << 20, 17));  // the container is as long
  write_file(dir / "small.bin", random_bytes(100000, 18));
  auto drawn_and_erased = [](const attached_run& run, const std::string& first_drawing) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.rfind("\r" + first_drawing + "\r", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), std::string::npos) << run.err;
    EXPECT_EQ(terminal_line(run.err).find_first_not_of(' '), std::string::npos) << run.err;
  };
  const attached_run pelk_run = run_attached({pelk_binary(), "big.bin", "big.plk"}, dir, true);
  EXPECT_EQ(pelk_run.out, announced("big.bin"));
  drawn_and_erased(pelk_run, "pelk:    0%");
  drawn_and_erased(run_attached({UNPELK_BINARY_PATH, "-t", "big.plk"}, dir, true), "unpelk: big.plk:    0%");

  for (const strings& args : std::vector<strings>{{pelk_binary(), "small.bin", "small.plk"},
                                                  {UNPELK_BINARY_PATH, "-q", "-t", "big.plk"}}) {
    const attached_run run = run_attached(args, dir, true);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
  fs::resize_file(dir / "small.bin", std::size_t{65} << 20);  // quick to compress: a hole
  const attached_run to_file = run_attached({pelk_binary(), "small.bin", "again.plk"}, dir, false);
  EXPECT_EQ(to_file.status, 0);
  EXPECT_EQ(to_file.out, announced("small.bin"));
  EXPECT_EQ(to_file.err, "");
  EXPECT_EQ(run_attached({UNPELK_BINARY_PATH, "-t", "big.plk"}, dir, false).err, "");

  const attached_run no_operand = run_attached({UNPELK_BINARY_PATH, "-t"}, dir, true);
  EXPECT_EQ(no_operand.status, 2);
  EXPECT_EQ(no_operand.err, "unpelk: no container given (unpelk --help shows the usage)\n");
  const attached_run typed = run_attached({UNPELK_BINARY_PATH, "-t", "-"}, dir, true);
  EXPECT_EQ(typed.status, 1);
  EXPECT_EQ(typed.err, "unpelk: standard input: is a terminal, not a container\n");
}

}  // namespace
}  // namespace pelk::test
