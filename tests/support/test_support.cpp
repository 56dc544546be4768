// SPDX-License-Identifier: MIT
#include <algorithm>
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace pelk::test {

namespace fs = std::filesystem;

bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

int append_bytes(void* out, const uint8_t* data, size_t size) {
  static_cast<bytes*>(out)->insert(static_cast<bytes*>(out)->end(), data, data + size);
  return 0;
}

std::vector<std::string> sorted_entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bytes to_bytes(const std::string& text) { return bytes(text.begin(), text.end()); }

temp_dir::temp_dir() {
  std::string pattern = (fs::temp_directory_path() / "pelk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const fs::path& working_dir, const std::vector<std::string>& extra_env) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, 0);
    if (chdir(working_dir.c_str()) != 0) _exit(127);
    for (const std::string& assignment : extra_env) putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  run_result result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int wait_status = 0;
  rusage usage{};
  wait4(pid, &wait_status, 0, &usage);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.peak_kib = usage.ru_maxrss;
  return result;
}

attached_run run_attached(const std::vector<std::string>& args, const temp_dir& dir, bool terminal,
                          const std::string& input, bool output_on_terminal) {
  int out_pipe[2], in_pipe[2] = {-1, -1}, terminal_side = -1, program_side = -1;
  std::FILE* err_file = terminal ? nullptr : std::tmpfile();
  if (::pipe(out_pipe) != 0 || (!terminal && (err_file == nullptr || ::pipe(in_pipe) != 0))) {
    throw std::runtime_error("pipe failed");
  }
  if (terminal) {
    if (::openpty(&terminal_side, &program_side, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    termios mode;  // raw: what the program writes arrives unchanged
    ::tcgetattr(program_side, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(program_side, TCSANOW, &mode);
  } else {
    // The input fits a pipe's buffer, so nothing has to feed it during the run.
    if (input.size() > 65536 ||
        ::write(in_pipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
      throw std::runtime_error("input does not fit a pipe");
    }
    ::close(in_pipe[1]);
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(terminal ? program_side : in_pipe[0], 0);
    ::dup2(terminal && output_on_terminal ? program_side : out_pipe[1], 1);
    ::dup2(terminal ? program_side : ::fileno(err_file), 2);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(terminal ? program_side : in_pipe[0]);
  attached_run run;
  // The terminal is read as the run goes, as its buffer is small; once the
  // program has gone it reports EIO.
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {terminal_side, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  for (int open_count = terminal ? 2 : 1; open_count > 0;) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  if (err_file != nullptr) {
    std::rewind(err_file);
    for (int c; (c = std::fgetc(err_file)) != EOF;) run.err.push_back(static_cast<char>(c));
    std::fclose(err_file);
  }
  return run;
}

std::string announced(const std::string& source) {
  return "Pelk Compress ver 1.0  2004.7.8 by the Pelk developers\nin file = " + source + "\n";
}

std::string pelk_binary() { return PELK_BINARY_PATH; }

run_result run_pelk(const std::vector<std::string>& args, const fs::path& working_dir,
                    const std::vector<std::string>& extra_env) {
  std::vector<std::string> argv = {pelk_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(pelk_binary(), argv, working_dir, extra_env);
}

bytes compress_with_pelk(const bytes& data, const std::string& name) {
  temp_dir dir;
  write_file(dir / name, data);
  const run_result run = run_pelk({name, "out.plk"}, dir.path());
  if (run.status != 0) throw std::runtime_error("pelk failed: " + run.err);
  return read_file(dir / "out.plk");
}

std::optional<fs::path> corpus_dir() {
  const fs::path dir = PELK_CORPUS_DIR;
  if (fs::is_directory(dir)) return dir;
  return std::nullopt;
}

std::optional<container_view> parse_header(const bytes& c) {
  if (c.size() < 12) return std::nullopt;
  container_view view;
  view.magic_ok = c[0] == 0x1F && c[1] == 0xAB;
  view.method = c[2];
  view.flags = c[3];
  auto le32 = [&](size_t at) {
    return uint32_t{c[at]} | uint32_t{c[at + 1]} << 8 | uint32_t{c[at + 2]} << 16 |
           uint32_t{c[at + 3]} << 24;
  };
  view.stamp = le32(4);
  view.size_field = le32(8);
  size_t at = 12;
  if (view.flags & 0x08) {
    while (at < c.size() && c[at] != 0) view.stored_name.push_back(static_cast<char>(c[at++]));
    if (at == c.size()) return std::nullopt;
    ++at;
  }
  view.stream_offset = at;
  return view;
}

std::optional<bytes> inflate_raw(const bytes& data, size_t offset, size_t expected_size,
                                 size_t* consumed) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  bytes out(expected_size + 1);  // one spare byte: a longer stream fails instead of fitting
  size_t in_used = 0, out_used = 0;
  const libdeflate_result r = libdeflate_deflate_decompress_ex(
      d, data.data() + offset, data.size() - offset, out.data(), out.size(), &in_used, &out_used);
  libdeflate_free_decompressor(d);
  if (r != LIBDEFLATE_SUCCESS) return std::nullopt;
  out.resize(out_used);
  if (consumed != nullptr) *consumed = in_used;
  return out;
}

uint32_t reference_crc32(const bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

std::string verify_container(const bytes& c, const bytes& source, const std::string& expected_name) {
  const std::optional<container_view> view = parse_header(c);
  if (!view) return "header too short or name unterminated";
  if (!view->magic_ok) return "bad magic";
  if (view->method != 8) return "bad method";
  if (view->flags != 0x08) return "flags are not 08";
  if (view->stored_name != expected_name) return "stored name '" + view->stored_name + "'";
  if (view->size_field != static_cast<uint32_t>(source.size())) return "size field wrong";
  size_t consumed = 0;
  const std::optional<bytes> inflated = inflate_raw(c, view->stream_offset, source.size(), &consumed);
  if (!inflated) return "stream does not inflate";
  if (*inflated != source) return "stream inflates to other bytes";
  const size_t trailer = view->stream_offset + consumed;
  if (trailer + 4 != c.size()) {
    return "CRC is not right after the stream (" + std::to_string(c.size() - trailer) +
           " bytes follow it)";
  }
  const uint32_t crc = uint32_t{c[trailer]} | uint32_t{c[trailer + 1]} << 8 |
                       uint32_t{c[trailer + 2]} << 16 | uint32_t{c[trailer + 3]} << 24;
  if (crc != reference_crc32(source)) return "CRC trailer wrong";
  return "";
}

bytes mask_stamp(bytes container) {
  for (size_t i = 4; i < 8 && i < container.size(); ++i) container[i] = 0;
  return container;
}

bytes random_bytes(size_t count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  bytes data(count);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

bytes repeat(const bytes& unit, size_t total) {
  bytes data;
  while (data.size() < total) data.push_back(unit[data.size() % unit.size()]);
  return data;
}

bytes with_copies(size_t total, uint64_t seed) {
  const bytes noise = random_bytes(total, seed);
  bytes data = to_bytes("where two parses meet, and the keyed chains the plain ones; ");
  for (size_t i = 0; data.size() < total; ++i) {
    const uint8_t r = noise[i % noise.size()];
    if (r < 40 && data.size() > 40000) {
      const size_t back = r < 8 ? 32506 - r : 1 + (size_t{noise[(i + 1) % noise.size()]} << 6);
      const size_t from = data.size() - back;
      const size_t length = 3 + (size_t{r} << 3);
      for (size_t k = 0; k < length; ++k) data.push_back(data[from + k]);
    } else {
      data.push_back(static_cast<uint8_t>("etaoin shrdlu\n"[r % 14]));
    }
  }
  data.resize(total);
  return data;
}

std::vector<bytes> sources_of_every_block_kind() {
  std::string text;
  for (int i = 0; text.size() < 2500; ++i) {
    text += "line " + std::to_string(i * 7919 % 1000) + ": the quick brown fox jumps over the lazy dog\n";
  }
  // Three random bytes and a phrase, over and over: mostly literals (a
  // match can take in the last random byte, seldom two), yet little output
  // for the input covered, so a block ends early at each check of its
  // symbols, every 4096.
  bytes several;
  const bytes noise = random_bytes(30000, 11);
  for (size_t i = 0; several.size() < 100000; i += 3) {
    several.insert(several.end(), noise.begin() + static_cast<ptrdiff_t>(i), noise.begin() + static_cast<ptrdiff_t>(i) + 3);
    for (const char c : std::string("twenty bytes of text")) several.push_back(static_cast<uint8_t>(c));
  }
  return {to_bytes("hello"), to_bytes("abcabcabcabc, said the fox to the box"), random_bytes(600, 3), to_bytes(text),
          several};
}

std::string hex(const bytes& data) {
  std::string text;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
    text += buf;
  }
  return text;
}

}  // namespace pelk::test
