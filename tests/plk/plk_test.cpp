// SPDX-License-Identifier: MIT
// The real plk: its containers against the real pelk's on the corpus, at one
// and several threads, from a file and from a pipe; and the commands its
// users type first, with their files, modes, times and failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "tests/support/test_support.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;
using strings = std::vector<std::string>;

run_result run_plk(strings args, const temp_dir& dir, const strings& env = {}) {
  args.insert(args.begin(), PLK_BINARY_PATH);
  return run_program(PLK_BINARY_PATH, args, dir.path(), env);
}

// Runs plk in dir; checks the status, and that standard error is empty or
// (on failure) starts with err_start.
run_result plk(const strings& args, const temp_dir& dir, int status, const std::string& err_start = "",
               const strings& env = {}) {
  run_result run = run_plk(args, dir, env);
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_EQ(run.err.rfind(err_start, 0), 0u) << run.err;
  if (status == 0) {
    EXPECT_EQ(run.err, "");
  }
  return run;
}

// Runs a shell command in dir, in which "$0" is plk and "$@" the arguments.
run_result shell(const std::string& command, const temp_dir& dir, const strings& env = {}, const strings& args = {}) {
  strings shell_args = {"sh", "-c", command, PLK_BINARY_PATH};
  shell_args.insert(shell_args.end(), args.begin(), args.end());
  return run_program("/bin/sh", shell_args, dir.path(), env);
}

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class PlkCorpus : public ::testing::TestWithParam<const char*> {};

// plk FILE writes what pelk FILE FILE.plk writes, stamp aside, whatever the
// threads, and so does the same data through a pipe, held whole before it
// is compressed; plk -d gives the file back.
TEST_P(PlkCorpus, SameContainerAsPelkFromAFileAndFromAPipe) {
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  const std::string name = GetParam();
  const fs::path original = *corpus / name;
  temp_dir dir;
  fs::create_symlink(original, dir / name);  // a link on the command line is followed
  ASSERT_EQ(run_pelk({name, "pelk.plk"}, dir.path()).status, 0);
  const bytes expected = mask_stamp(read_file(dir / "pelk.plk"));

  plk({"-T", "1", name}, dir, 0);
  EXPECT_TRUE(mask_stamp(read_file(dir / (name + ".plk"))) == expected);
  plk({"-fT3", name}, dir, 0);
  EXPECT_TRUE(mask_stamp(read_file(dir / (name + ".plk"))) == expected);
  plk({"-f", name}, dir, 0, "", {"PELK_THREADS=2"});
  EXPECT_TRUE(mask_stamp(read_file(dir / (name + ".plk"))) == expected);

  ASSERT_EQ(shell("cat " + name + " | \"$0\" -T 2 --name=" + name + " > piped.plk", dir).status, 0);
  EXPECT_TRUE(mask_stamp(read_file(dir / "piped.plk")) == expected);

  fs::remove(dir / name);
  plk({"-d", name + ".plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / name) == read_file(original));
}

INSTANTIATE_TEST_SUITE_P(Corpus, PlkCorpus, ::testing::ValuesIn(corpus_files),
                         [](const auto& test) { return std::to_string(test.index); });

// A stream longer than memory holds goes on through a temporary file and
// gives the container of the same bytes in a file; a shorter one never
// needs the temporary directory.
TEST(PlkPipe, ALongStreamIsHeldInATemporaryFile) {
  const auto corpus = corpus_dir();
  if (!corpus) GTEST_SKIP() << "corpus not found at " << PELK_CORPUS_DIR;
  temp_dir dir;
  bytes both = read_file(*corpus / "dickens");
  const bytes mr = read_file(*corpus / "mr");
  both.insert(both.end(), mr.begin(), mr.end());  // 20 MB: past what memory holds
  write_file(dir / "both", both);
  plk({"-o", "file.plk", "both"}, dir, 0);
  const std::string pipe = "cat both | \"$0\" --name=both > piped.plk";
  ASSERT_EQ(shell(pipe, dir, {"TMPDIR=" + dir.path().string()}).status, 0);
  EXPECT_TRUE(mask_stamp(read_file(dir / "piped.plk")) == mask_stamp(read_file(dir / "file.plk")));
  EXPECT_EQ(sorted_entries(dir.path()), (strings{"both", "file.plk", "piped.plk"}));  // the spool is gone

  const run_result nowhere = shell(pipe, dir, {"TMPDIR=/nonexistent"});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_EQ(nowhere.err, "plk: standard input: cannot hold it in a temporary file in /nonexistent: " +
                             std::string(std::strerror(ENOENT)) + "\n");
  EXPECT_EQ(lines(nowhere.err), 1u);
  ASSERT_EQ(shell("head -c 100000 both | \"$0\" | \"$0\" -d > short", dir, {"TMPDIR=/nonexistent"}).status, 0);
  EXPECT_TRUE(read_file(dir / "short") == bytes(both.begin(), both.begin() + 100000));
}

// The commands users reach for first: several files at once, existing
// targets with and without -f, --rm, -k, -c, -o, --suffix, and containers
// in and out of pipes.
TEST(PlkCommands, EverydayCommandsKeepEveryFile) {
  temp_dir dir;
  write_file(dir / "a.txt", to_bytes("alpha alpha alpha\n"));
  write_file(dir / "b.txt", to_bytes("beta\n"));
  write_file(dir / "a.dat", to_bytes("data\n"));
  plk({"a.txt", "b.txt", "a.dat"}, dir, 0);  // no two sources share a container
  EXPECT_EQ(sorted_entries(dir.path()), (strings{"a.dat", "a.dat.plk", "a.txt", "a.txt.plk", "b.txt", "b.txt.plk"}));
  const bytes a_container = read_file(dir / "a.txt.plk");
  EXPECT_EQ(parse_header(a_container)->stored_name, "a.txt");

  write_file(dir / "a.txt", to_bytes("changed\n"));
  const run_result taken = plk({"a.txt", "b.txt"}, dir, 1, "plk: a.txt.plk: already exists (use -f to overwrite)\n");
  EXPECT_EQ(lines(taken.err), 2u);
  EXPECT_TRUE(read_file(dir / "a.txt.plk") == a_container);
  plk({"--rm", "b.txt"}, dir, 1, "plk: b.txt.plk: already exists");  // a source whose container failed stays
  EXPECT_TRUE(fs::exists(dir / "b.txt"));
  // A link under the target's name is replaced as a link, never followed.
  write_file(dir / "kept", to_bytes("kept"));
  fs::create_symlink("kept", dir / "a.dat.plk.link");
  fs::rename(dir / "a.dat.plk.link", dir / "a.dat.plk");
  plk({"a.dat"}, dir, 1, "plk: a.dat.plk: already exists (use -f to overwrite)\n");
  plk({"-f", "a.dat"}, dir, 0);
  EXPECT_FALSE(fs::is_symlink(dir / "a.dat.plk"));
  EXPECT_TRUE(read_file(dir / "kept") == to_bytes("kept"));
  fs::remove(dir / "kept");
  plk({"-f", "a.txt"}, dir, 0);
  plk({"a.txt.plk"}, dir, 1, "plk: a.txt.plk: already has the .plk suffix; not compressed\n");
  plk({"-k", "--rm", "a.txt"}, dir, 2, "plk: options -k and --rm exclude each other");
  for (const strings& args : std::vector<strings>{{"-f", "-o", "./a.txt", "a.txt"}, {"-f", "-o", "a.txt", "-"}}) {
    const run_result run = shell("exec \"$0\" \"$@\" < a.txt", dir, {}, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "plk: " + args[2] + ": is the file being compressed\n");
  }

  fs::remove(dir / "a.txt");
  fs::remove(dir / "b.txt");
  plk({"-d", "a.txt.plk", "b.txt.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.txt") == to_bytes("changed\n"));
  plk({"-d", "b.txt.plk"}, dir, 1, "plk: b.txt: already exists (use -f to overwrite)\n");
  plk({"-df", "--rm", "b.txt.plk"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "b.txt") == to_bytes("beta\n"));
  EXPECT_FALSE(fs::exists(dir / "b.txt.plk"));
  plk({"--rm", "b.txt"}, dir, 0);
  EXPECT_FALSE(fs::exists(dir / "b.txt"));

  // -c: one input compressed, any number restored one after another.
  plk({"-c", "a.txt", "a.dat"}, dir, 2, "plk: option -c compresses one input");
  EXPECT_TRUE(mask_stamp(to_bytes(plk({"-c", "a.txt"}, dir, 0).out)) == mask_stamp(read_file(dir / "a.txt.plk")));
  EXPECT_EQ(plk({"-dc", "a.txt.plk", "b.txt.plk", "a.dat.plk"}, dir, 0).out, "changed\nbeta\ndata\n");
  EXPECT_EQ(shell("\"$0\" -dc < a.txt.plk && cat a.dat.plk | \"$0\" -d && \"$0\" < a.txt | \"$0\" -d", dir).out,
            "changed\ndata\nchanged\n");
  EXPECT_EQ(sorted_entries(dir.path()), (strings{"a.dat", "a.dat.plk", "a.txt", "a.txt.plk", "b.txt.plk"}));

  // -o and --suffix; a container named otherwise restores to its stored name.
  plk({"-o", "out", "a.dat"}, dir, 0);
  plk({"-d", "-o", "out.dat", "out"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "out.dat") == to_bytes("data\n"));
  plk({"--suffix=.pz", "a.dat"}, dir, 0);
  fs::remove(dir / "a.dat");
  plk({"-d", "--suffix", ".pz", "a.dat.pz"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.dat") == to_bytes("data\n"));
  fs::remove(dir / "a.dat");
  fs::rename(dir / "out", dir / "renamed");
  plk({"-d", "renamed"}, dir, 0);
  EXPECT_TRUE(read_file(dir / "a.dat") == to_bytes("data\n"));

  // -t and -l are unpelk's, and every long form does what its letter does.
  bytes damaged = read_file(dir / "a.txt.plk");
  damaged.back() ^= 1;
  write_file(dir / "bad.plk", damaged);
  const run_result listing = plk({"-l", "a.txt.plk", "a.dat.plk"}, dir, 0);
  EXPECT_EQ(lines(listing.out), 4u);  // heading, two containers, totals
  EXPECT_NE(listing.out.find(" a.txt\n"), std::string::npos) << listing.out;
  plk({"-t", "a.txt.plk", "bad.plk", "a.dat.plk"}, dir, 1, "plk: bad.plk: CRC-32 mismatch");
  const std::vector<std::pair<strings, strings>> same_runs = {
      {{"-t", "a.txt.plk", "bad.plk"}, {"--test", "a.txt.plk", "bad.plk"}},
      {{"-l", "-v", "a.txt.plk"}, {"--list", "--verbose", "a.txt.plk"}},
      {{"-dc", "a.txt.plk"}, {"--decompress", "--stdout", "a.txt.plk"}},
      {{"-dc", "a.dat.plk"}, {"--uncompress", "--to-stdout", "a.dat.plk"}},
      {{"-dfk", "-o", "x", "a.dat.plk"}, {"--decompress", "--force", "--keep", "--output=x", "a.dat.plk"}},
      {{"-qrT2", "missing"}, {"--quiet", "--recursive", "--threads", "2", "missing"}},
      {{"-h"}, {"--help"}},
      {{"-V"}, {"--version"}}};
  for (const auto& [short_form, long_form] : same_runs) {
    const run_result a = run_plk(short_form, dir), b = run_plk(long_form, dir);
    EXPECT_EQ(a.status, b.status) << short_form[0];
    EXPECT_EQ(a.out, b.out) << short_form[0];
    EXPECT_EQ(a.err, b.err) << short_form[0];
  }
  fs::remove(dir / "x");
  fs::remove(dir / "bad.plk");

  // -v: a line per file, then the totals; sizes in the order the work went.
  const run_result verbose = run_plk({"-fv", "a.txt", "a.dat"}, dir);
  const size_t container_size = read_file(dir / "a.txt.plk").size();
  char figures[96];
  std::snprintf(figures, sizeof figures, "plk: a.txt: %.2f%% (8 => %zu bytes, a.txt.plk), ", 100.0 * container_size / 8,
                container_size);
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.err.rfind(figures, 0), 0u) << verbose.err;
  EXPECT_EQ(lines(verbose.err), 3u) << verbose.err;
  const run_result restoring = run_plk({"-dfv", "a.txt.plk"}, dir);
  std::snprintf(figures, sizeof figures, "plk: a.txt.plk: %.2f%% (%zu => 8 bytes, a.txt), ",
                100.0 * container_size / 8, container_size);
  EXPECT_EQ(restoring.err.rfind(figures, 0), 0u) << restoring.err;
  plk({"a.dat"}, dir, 1, "plk: PELK_THREADS: not a positive whole number of threads\n", {"PELK_THREADS=0"});

  const std::vector<std::pair<strings, std::string>> usage_errors = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-T", "2x", "a.txt"}, "option -T needs a number of threads, not \"2x\""},
      {{"a.txt", "-T"}, "option -T needs a number of threads"},
      {{"-dt", "a.txt.plk"}, "options -d, -t and -l exclude each other"},
      {{"-o", "x", "a.txt", "a.dat"}, "option -o writes one file; give one input"},
      {{"-c", "-o", "x", "a.txt"}, "options -c and -o exclude each other"},
      {{"-t", "--rm", "a.txt.plk"}, "options -t and -l write nothing; -c, -o and --rm do not go with them"},
      {{"--name=x", "a.txt"}, "option --name names compressed standard input; a file stores its own name"},
      {{"--name=a/b", "-"}, "option --name: the stored name contains a path separator"},
      {{"--suffix="}, "option --suffix needs a suffix without \"/\", not \"\""},
      {{"a.txt", ""}, "an empty file name was given"}};
  for (const auto& [args, message] : usage_errors) {
    EXPECT_EQ(plk(args, dir, 2).err, "plk: " + message + " (plk --help shows the usage)\n");
  }
  EXPECT_EQ(plk({"-V"}, dir, 0).out, "plk " PELK_VERSION "\n");
  EXPECT_EQ(plk({"--help"}, dir, 0).out.rfind("Usage: plk [OPTION]... [FILE]...\n", 0), 0u);
  const run_result full = shell("\"$0\" --help > /dev/full", dir);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "plk: standard output: write error: " + std::string(std::strerror(ENOSPC)) + "\n");
}

struct mode_and_time {
  mode_t mode;
  timespec modified;
  bool operator==(const mode_and_time& other) const {
    return mode == other.mode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

mode_and_time mode_and_time_of(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return {static_cast<mode_t>(info.st_mode & 07777), info.st_mtim};
}

// The container file takes its source's permission bits and modification
// time, and the restored file the container's, so that compressing and
// restoring gives the file back as it was; a restore elsewhere (-o) too.
TEST(PlkAttributes, ModeAndTimeTravelToTheContainerAndBack) {
  temp_dir dir;
  for (const mode_t mode : {mode_t{0640}, mode_t{0755}, mode_t{0600}}) {
    SCOPED_TRACE(mode);
    write_file(dir / "f", random_bytes(5000, mode));
    ASSERT_EQ(::chmod((dir / "f").c_str(), mode), 0);
    const timespec times[2] = {{0, UTIME_OMIT}, {981173106, 123456789}};  // 2001-02-03, to the nanosecond
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
    const mode_and_time source = mode_and_time_of(dir / "f");
    plk({"-f", "f"}, dir, 0);
    EXPECT_TRUE(mode_and_time_of(dir / "f.plk") == source);
    plk({"-d", "-o", "g", "f.plk"}, dir, 0);
    EXPECT_TRUE(mode_and_time_of(dir / "g") == source);
    fs::remove(dir / "g");
    plk({"-d", "-f", "--rm", "f.plk"}, dir, 0);
    EXPECT_TRUE(mode_and_time_of(dir / "f") == source);
  }
}

// One input that fails stops none of the others: each failure is one line
// naming its file, and no half-written file is left anywhere.
TEST(PlkFailures, OneFailureStopsNoneOfTheOthers) {
  temp_dir dir;
  write_file(dir / "a", to_bytes("first"));
  write_file(dir / "b", to_bytes("second"));
  fs::create_directory(dir / "d");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const run_result run = plk({"a", "missing", "d", "fifo", "b"}, dir, 1);
  EXPECT_EQ(run.err, "plk: missing: " + std::string(std::strerror(ENOENT)) +
                         "\nplk: d: is a directory (-r compresses the files in it)\n"
                         "plk: fifo: is not a regular file\n");
  EXPECT_EQ(sorted_entries(dir.path()), (strings{"a", "a.plk", "b", "b.plk", "d", "fifo"}));

  // A damaged container between two good ones; --rm lets go only of those
  // restored.
  bytes damaged = read_file(dir / "a.plk");
  damaged.resize(damaged.size() - 3);
  write_file(dir / "c.plk", damaged);
  fs::remove(dir / "a");
  fs::remove(dir / "b");
  plk({"-d", "--rm", "a.plk", "c.plk", "b.plk"}, dir, 1,
      "plk: c.plk: truncated: the CRC-32 after the compressed data is missing\n");
  EXPECT_EQ(sorted_entries(dir.path()), (strings{"a", "b", "c.plk", "d", "fifo"}));
  EXPECT_TRUE(read_file(dir / "a") == to_bytes("first") && read_file(dir / "b") == to_bytes("second"));

  // An input that is standard output too would grow with its own output
  // for as long as it was read (or, opened with 1<>, be overwritten by it).
  const std::string container_text = "its container would be read back into it";
  const std::string restored_text = "what it restores would be written into it";
  const std::string listing_text = "its listing would be written into it";
  plk({"-k", "a"}, dir, 0);
  const bytes container = read_file(dir / "a.plk");
  const std::vector<std::tuple<std::string, std::string, std::string>> into_themselves = {
      {"\"$0\" -c a >> a", "a", container_text},
      {"\"$0\" < a >> a", "standard input", container_text},
      {"\"$0\" -dc a.plk >> a.plk", "a.plk", restored_text},
      {"\"$0\" -dc a.plk 1<> a.plk", "a.plk", restored_text},
      {"\"$0\" -d < a.plk >> a.plk", "standard input", restored_text},
      {"\"$0\" -l a.plk >> a.plk", "a.plk", listing_text}};
  for (const auto& [command, name, reason] : into_themselves) {
    const run_result same = shell(command, dir);
    EXPECT_EQ(same.status, 1) << command;
    EXPECT_EQ(same.err, "plk: " + name + ": is standard output too; " + reason + "\n");
    EXPECT_TRUE(read_file(dir / "a") == to_bytes("first") && read_file(dir / "a.plk") == container) << command;
  }
  fs::remove(dir / "a.plk");

  // An output that fails midway is reported against it, status 1.
  write_file(dir / "big", random_bytes(300000, 5));
  const run_result full = shell("\"$0\" -c big > /dev/full", dir);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "plk: standard output: write error: " + std::string(std::strerror(ENOSPC)) + "\n");
}

// -r takes the files of a tree, but not what links in it lead to; a link
// to a directory named on the command line is walked.
TEST(PlkRecursive, WalksTheTreeButNotItsLinks) {
  temp_dir dir;
  fs::create_directories(dir / "tree/sub");
  fs::create_directory(dir / "elsewhere");
  write_file(dir / "tree/a", to_bytes("a"));
  write_file(dir / "tree/sub/b", to_bytes("b"));
  write_file(dir / "elsewhere/c", to_bytes("c"));
  fs::create_symlink("../elsewhere/c", dir / "tree/link");
  fs::create_symlink("../elsewhere", dir / "tree/sub/dirlink");
  fs::create_symlink("elsewhere", dir / "named");
  plk({"-r", "tree", "named"}, dir, 0);
  EXPECT_EQ(sorted_entries(dir / "tree"), (strings{"a", "a.plk", "link", "sub"}));
  EXPECT_EQ(sorted_entries(dir / "tree/sub"), (strings{"b", "b.plk", "dirlink"}));
  EXPECT_EQ(sorted_entries(dir / "elsewhere"), (strings{"c", "c.plk"}));
  plk({"-r", "tree"}, dir, 1, "plk: tree/a.plk: already exists");  // the containers are not compressed again

  fs::remove(dir / "tree/a");
  fs::remove(dir / "tree/sub/b");
  plk({"-dr", "--rm", "tree"}, dir, 0);
  EXPECT_EQ(sorted_entries(dir / "tree"), (strings{"a", "link", "sub"}));
  EXPECT_EQ(sorted_entries(dir / "tree/sub"), (strings{"b", "dirlink"}));
  EXPECT_TRUE(read_file(dir / "tree/sub/b") == to_bytes("b"));
}

// A terminal is never read as input nor given compressed data; restored
// data may go there; a large file shows a progress line that is erased.
TEST(PlkTerminal, TerminalsAreNeitherReadNorGivenCompressedData) {
  temp_dir dir;
  write_file(dir / "a.txt", to_bytes("on the terminal\n"));
  plk({"a.txt"}, dir, 0);
  const attached_run typed = run_attached({PLK_BINARY_PATH}, dir, true);
  EXPECT_EQ(typed.status, 2);
  EXPECT_EQ(typed.err, "plk: no file given, and standard input is a terminal (plk --help shows the usage)\n");
  const attached_run shown = run_attached({PLK_BINARY_PATH, "-c", "a.txt"}, dir, true, "", true);
  EXPECT_EQ(shown.status, 2);
  EXPECT_EQ(shown.err, "plk: compressed data is not written to a terminal; redirect it, or use -f "
                       "(plk --help shows the usage)\n");
  const attached_run restored = run_attached({PLK_BINARY_PATH, "-dc", "a.txt.plk"}, dir, true, "", true);
  EXPECT_EQ(restored.status, 0);
  EXPECT_EQ(restored.err, "on the terminal\n");

  write_file(dir / "hole", {});
  fs::resize_file(dir / "hole", std::size_t{65} << 20);  // quick to compress
  const attached_run large = run_attached({PLK_BINARY_PATH, "hole"}, dir, true);
  EXPECT_EQ(large.status, 0);
  EXPECT_EQ(large.err.rfind("\rplk: hole:    0%\r", 0), 0u) << large.err;
  EXPECT_EQ(large.err.find('\n'), std::string::npos);
  EXPECT_EQ(large.err.back(), '\r');  // erased: the cursor back where the line began
}

// The completion offers the options, and with -d, -t or -l only the
// containers (and directories), by the suffix in force.
TEST(PlkCompletion, OffersContainersOnlyWhereContainersAreRead) {
  temp_dir dir;
  for (const char* name : {"a.txt", "a.txt.plk", "b.pz"}) write_file(dir / name, {});
  fs::create_directory(dir / "sub");
  auto complete = [&](const std::string& words) {
    const std::string script = "source \"$0\"; COMP_WORDS=(" + words + " ''); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                               "_plk; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
    return run_program("/bin/bash", {"bash", "-c", script, PELK_SOURCE_DIR "/tools/completion/plk"}, dir.path()).out;
  };
  EXPECT_EQ(complete("plk"), "a.txt\na.txt.plk\nb.pz\nsub\n");
  EXPECT_EQ(complete("plk -dk"), "a.txt.plk\nsub\n");
  EXPECT_EQ(complete("plk --list"), "a.txt.plk\nsub\n");
  EXPECT_EQ(complete("plk --suffix=.pz -t"), "b.pz\nsub\n");
  EXPECT_EQ(complete("plk -T"), "0\n1\n2\n4\n8\n");
}

}  // namespace
}  // namespace pelk::test
