// Hostile command lines and files. Odd but legal names compress normally,
// the stored name being the raw path tail; every refusal is one report on
// standard error with status 1, and nothing in the directory is created or
// changed (in particular the source stays intact byte for byte).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include "tests/reliability/reliability.h"

namespace pelk::test {
namespace {

namespace fs = std::filesystem;

const bytes payload = to_bytes("hostile names must not change a single byte\n");

std::string long_path() {  // 19 directories of 200 characters, then the file: 4000 in all
  std::string path;
  for (int i = 0; i < 19; ++i) path += std::string(199, static_cast<char>('a' + i)) + "/";
  return path + std::string(4000 - path.size() - 4, 'f') + ".txt";
}

struct accepted_case {
  std::string source;
  std::string target;  // empty: derived from the source
  std::string expected_target;
  std::string stored_name;
};

TEST(HostileNames, CompressWithTheRawTailStored) {
  const std::string deep = long_path();
  const std::vector<accepted_case> cases = {
      {"my data file.txt", "", "my data file.plk", "my data file.txt"},
      {"two\nlines.txt", "", "two\nlines.plk", "two\nlines.txt"},
      {"-c", "-d", "-d", "-c"},  // options are not recognised: "-c" is a file
      {"--help.txt", "", "--help.plk", "--help.txt"},
      {"\xff\xfe\x80.bin", "", "\xff\xfe\x80.plk", "\xff\xfe\x80.bin"},  // not UTF-8: stored as is
      {deep, "", deep.substr(0, deep.size() - 3) + "plk", deep.substr(deep.rfind('/') + 1)},
      // Empty tails: flags stay 08 and the name is a lone zero byte.
      {"data:", "", "daplk", ""},
      {"dir\\", "", "dplk", ""},
  };
  ASSERT_EQ(deep.size(), 4000u);
  for (const accepted_case& c : cases) {
    temp_dir dir;
    fs::create_directories((dir / c.source).parent_path());
    write_file(dir / c.source, payload);
    std::vector<std::string> args = {c.source};
    if (!c.target.empty()) args.push_back(c.target);
    const run_result run = run_guarded(args, dir.path());
    EXPECT_EQ(run.status, 0) << c.source << run.err;
    EXPECT_EQ(run.out, announced(c.source));
    EXPECT_EQ(run.err, "");
    const bytes container = read_file(dir / c.expected_target);
    EXPECT_EQ(verify_container(container, payload, c.stored_name), "") << c.source;
    if (c.stored_name.empty()) {  // byte 3 is 08 and the name is the lone zero at 12
      EXPECT_EQ(container.at(3), 0x08);
      EXPECT_EQ(container.at(12), 0);
    }
  }
}

std::map<std::string, bytes> snapshot(const fs::path& dir) {
  std::map<std::string, bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const auto status = fs::symlink_status(entry.path());
    files[entry.path().string()] = fs::is_regular_file(status) ? read_file(entry.path()) : bytes{};
  }
  return files;
}

struct refused_case {
  const char* label;
  std::function<void(const fs::path&)> setup;
  std::vector<std::string> args;
  std::string file_named;
  std::string reason;
};

TEST(HostileFiles, RefusedWithoutTouchingAnything) {
  const std::string same = "source and target are the same file";
  const std::string not_regular = "not a regular file";
  const std::vector<refused_case> cases = {
      {"target is a directory", [](auto& d) { fs::create_directory(d / "sub"); }, {"x.txt", "sub"}, "sub",
       std::strerror(EISDIR)},
      {"target in a missing directory", nullptr, {"x.txt", "nowhere/x.plk"}, "nowhere/x.plk", std::strerror(ENOENT)},
      {"same string", nullptr, {"x.txt", "x.txt"}, "x.txt", same},
      {"./ spelling", nullptr, {"x.txt", "./x.txt"}, "./x.txt", same},
      {"symbolic link", [](auto& d) { fs::create_symlink("x.txt", d / "l.plk"); }, {"x.txt", "l.plk"}, "l.plk", same},
      {"hard link", [](auto& d) { fs::create_hard_link(d / "x.txt", d / "h.plk"); }, {"x.txt", "h.plk"}, "h.plk", same},
      {"source through a link", [](auto& d) { fs::create_symlink("x.txt", d / "l.txt"); }, {"l.txt", "x.txt"}, "x.txt",
       same},
      {"missing source", nullptr, {"none.txt", "out.plk"}, "none.txt", std::strerror(ENOENT)},
      {"source is a directory", [](auto& d) { fs::create_directory(d / "d.txt"); }, {"d.txt", "out.plk"}, "d.txt",
       not_regular},
      {"source is a FIFO", [](auto& d) { mkfifo((d / "f.txt").c_str(), 0600); }, {"f.txt", "out.plk"}, "f.txt",
       not_regular},
      {"source is /dev/zero", nullptr, {"/dev/zero", "out.plk"}, "/dev/zero", not_regular},
      {"source is /dev/null", nullptr, {"/dev/null", "out.plk"}, "/dev/null", not_regular},
  };
  for (const refused_case& c : cases) {
    temp_dir dir;
    write_file(dir / "x.txt", payload);
    if (c.setup) c.setup(dir.path());
    const auto before = snapshot(dir.path());
    const run_result run = run_guarded(c.args, dir.path());
    EXPECT_EQ(run.status, 1) << c.label;
    EXPECT_EQ(run.out, announced(c.args[0])) << c.label;
    EXPECT_EQ(run.err, "\npelk: " + c.file_named + ": " + c.reason + "\n") << c.label;
    EXPECT_EQ(snapshot(dir.path()), before) << c.label;
    EXPECT_EQ(read_file(dir / "x.txt"), payload) << c.label;
  }
}

}  // namespace
}  // namespace pelk::test
