// SPDX-License-Identifier: MIT
// Shared helpers of the test suite: temporary directories, running the real
// pelk binary, reading containers back and inflating them with libdeflate.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelk::test {

using bytes = std::vector<uint8_t>;

bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const bytes& data);
bytes to_bytes(const std::string& text);

// A byte sink (function and context) that appends to the bytes at `out`.
int append_bytes(void* out, const uint8_t* data, size_t size);

// The names in a directory, sorted.
std::vector<std::string> sorted_entries(const std::filesystem::path& directory);

// A fresh directory under the system's temporary directory, removed again
// when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct run_result {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;
  std::string err;
  long peak_kib = 0;  // the process's largest resident set
};

// Runs a program with the given arguments (argv[0] is the program path) in
// working_dir, standard input empty, and collects both outputs.
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& working_dir,
                       const std::vector<std::string>& extra_env = {});

// How a run went with its standard input and error set up as a user's shell
// would: standard input a pipe holding `input` (at most 64 KiB) and standard
// error a file, or both on a terminal (a new pseudo-terminal). Standard
// output is a pipe, or with output_on_terminal the terminal too, whose
// bytes then all arrive in `err`.
struct attached_run {
  int status = -1;
  std::string out;
  std::string err;  // all the terminal received, when it was one
};

attached_run run_attached(const std::vector<std::string>& args, const temp_dir& dir, bool terminal,
                          const std::string& input = "", bool output_on_terminal = false);

// What pelk prints on standard output before anything else: the banner
// and the input line, typed in here rather than taken from the program.
std::string announced(const std::string& source);

// The pelk binary under test.
std::string pelk_binary();
run_result run_pelk(const std::vector<std::string>& args, const std::filesystem::path& working_dir,
                    const std::vector<std::string>& extra_env = {});

// Compresses data with the real binary in a fresh process, as a file named
// name, and returns the container.
bytes compress_with_pelk(const bytes& data, const std::string& name = "input.bin");

// The files of the corpus, each a test case of the programs' corpus tests.
inline constexpr const char* corpus_files[] = {
    "alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata", "html", "html_x_4", "kppkn.gtb", "lcet10.txt",
    "paper-100k.pdf", "plrabn12.txt", "urls.10K", "dickens", "mr", "reymont", "xml"};

// The corpus directory, or nothing when it is absent.
std::optional<std::filesystem::path> corpus_dir();

// A container taken apart. Throws nothing: fields are checked by the caller.
struct container_view {
  bool magic_ok = false;
  uint8_t method = 0;
  uint8_t flags = 0;
  uint32_t stamp = 0;
  uint32_t size_field = 0;
  std::string stored_name;
  size_t stream_offset = 0;  // where the deflate stream starts
};
std::optional<container_view> parse_header(const bytes& container);

// Inflates the raw deflate stream at data[offset..] with libdeflate;
// consumed receives the stream's length in bytes. Nothing on failure.
std::optional<bytes> inflate_raw(const bytes& data, size_t offset, size_t expected_size,
                                 size_t* consumed);

// The CRC-32 of data, computed here bit by bit, independently of pelk.
uint32_t reference_crc32(const bytes& data);

// Checks that a container is a faithful compression of source: header,
// stored name, a stream that inflates to source and ends right before the
// CRC trailer, and the trailer itself. Returns an empty string when all is
// well, else what went wrong.
std::string verify_container(const bytes& container, const bytes& source,
                             const std::string& expected_name);

// The container with its time stamp (bytes 4-7) zeroed, for comparisons.
bytes mask_stamp(bytes container);

// Deterministic pseudo-random bytes.
bytes random_bytes(size_t count, uint64_t seed);

// `unit` repeated to `total` bytes: runs and short periods, where chains
// are long and parses on several threads may never meet.
bytes repeat(const bytes& unit, size_t total);

// Text-like data with copies of earlier stretches, some at the farthest
// distance and just within it: long matches across window slides and
// segment edges, chains long and short.
bytes with_copies(size_t total, uint64_t seed);

// Small sources whose containers between them hold every kind of deflate
// block at level 6: a few bytes, a short text (fixed codes), random bytes
// (stored), a longer text (dynamic codes), and input that takes several
// blocks.
std::vector<bytes> sources_of_every_block_kind();

std::string hex(const bytes& data);

}  // namespace pelk::test
