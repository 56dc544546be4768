// SPDX-License-Identifier: MIT
// Compressing one input: see compression.h.
//
// The container is written by libpelk's streaming call, the very writer of
// pelk's containers, so plk FILE and pelk FILE FILE.plk give the same bytes
// for the same stamp. Reads go through here on their way to it: they are
// what a progress line counts, and they keep the system's reason when one
// fails.
//
// A file's container is written as a temporary file beside the target,
// given the source's permission bits and modification time, and renamed
// into place only once whole (tools/unpelk/output_file.h, as a restored
// file is): a run that fails or is interrupted leaves an old target as it
// was, and without -f no existing file is replaced, even one that appears
// while the source is compressed.
#include "tools/plk/compression.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/progress_line.h"
#include "common/standard_streams.h"
#include "container/container.h"
#include "pelk.h"
#include "tools/plk/input_removal.h"
#include "tools/plk/spool.h"
#include "tools/unpelk/options.h"
#include "tools/unpelk/output_file.h"
#include "tools/unpelk/stored_name.h"
#include "tools/unpelk/target_check.h"

namespace pelk {
namespace {

// A source as the library reads it: a descriptor, or any other reader
// (spooled standard input), counted on the way.
struct counted_source {
  pelk_read_fn read;
  void* user;
  int fd = -1;  // read directly when read is null
  uint64_t done = 0;
  int error = 0;  // the errno of a failed read
  progress_line* progress = nullptr;
};

struct counted_sink {
  int fd;
  uint64_t written = 0;
  int error = 0;
};

// The library hands both callbacks one pointer.
struct counted_stream {
  counted_source& source;
  counted_sink& sink;
};

ptrdiff_t read_counted(void* context, void* buffer, size_t capacity) {
  counted_source& source = static_cast<counted_stream*>(context)->source;
  const ptrdiff_t got = source.read != nullptr ? source.read(source.user, buffer, capacity)
                                               : read_descriptor(&source.fd, static_cast<uint8_t*>(buffer), capacity);
  if (got < 0) {
    source.error = errno != 0 ? errno : EIO;
    return got;
  }
  source.done += static_cast<uint64_t>(got);
  if (source.progress != nullptr) source.progress->update(source.done);
  return got;
}

int write_counted(void* context, const void* data, size_t size) {
  counted_sink& sink = static_cast<counted_stream*>(context)->sink;
  sink.error = write_descriptor(&sink.fd, static_cast<const uint8_t*>(data), size);
  if (sink.error == 0) sink.written += size;
  return sink.error;
}

// One compression's input as messages and the header see it.
struct input_facts {
  std::string name;         // for messages
  uint64_t size;            // what the header announces
  const char* stored_name;  // null: none
};

// Compresses the source into fd, under a progress line; reports a failure
// against the input or the output. Returns whether the container is whole.
bool compress_into(counted_source& source, const input_facts& input, int fd, const std::string& output_name,
                   compression_run& run) {
  const auto start = std::chrono::steady_clock::now();
  progress_line line(std::string(program_in_messages) + ": " + printable(input.name) + ":", input.size,
                     run.progress);
  source.progress = &line;
  counted_sink sink{fd};
  counted_stream stream{source, sink};
  pelk_options settings{};
  settings.size = sizeof settings;
  settings.threads = run.threads;
  const int status = pelk_compress_stream_with(&settings, read_counted, write_counted, &stream, input.size,
                                               input.stored_name, pelk_stamp_from_time(std::time(nullptr)));
  line.finish();
  source.progress = nullptr;
  switch (status) {
    case PELK_OK: break;
    case PELK_ERROR_READ: report(input.name, std::strerror(source.error)); return false;
    case PELK_ERROR_WRITE: report(output_name, std::string("write error: ") + std::strerror(sink.error)); return false;
    case PELK_ERROR_SIZE_CHANGED: report(input.name, "file changed as it was read"); return false;
    case PELK_ERROR_NO_MEMORY: report(input.name, std::strerror(ENOMEM)); return false;
    default: report(input.name, pelk_error_string(status)); return false;
  }
  ++run.files;
  run.bytes_in += source.done;
  run.bytes_out += sink.written;
  if (run.options.verbose) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report_figures(input.name, source.done, sink.written, false, output_name, seconds);
  }
  return true;
}

// Compresses into a new file at `target` that takes the place of any old
// one only when whole; `carried` gives it a source file's mode and time.
bool compress_to_file(counted_source& source, const input_facts& input, const std::string& target,
                      const file_status* carried, compression_run& run) {
  temporary_file output;
  if (const std::string failure = create_output(target, output); !failure.empty()) {
    report(target, "cannot create a temporary file beside it: " + failure);
    return false;
  }
  if (!compress_into(source, input, output.fd, target, run)) {
    discard_temporary(output);
    return false;
  }
  if (const std::string failure = commit_output(output, run.options.overwrite, carried); !failure.empty()) {
    report(target, failure);
    return false;
  }
  return true;
}

constexpr char source_is_output_reason[] = "is standard output too; its container would be read back into it";

// "" when target may receive the container of the source, else why not:
// the checks of a restore's target (target_check.h), with the source
// itself named as what it is.
std::string compression_target_refusal(const std::string& target, const file_identity& source, bool overwrite) {
  file_status existing;
  if (path_status(target, existing) == 0 && same_file(existing.identity, source)) return "is the file being compressed";
  return target_refusal(target, source, overwrite);
}

}  // namespace

bool compress_named_file(const std::string& path, compression_run& run) {
  const plk_options& options = run.options;
  const bool derived_target = !options.to_stdout && !options.output;
  if (derived_target && has_suffix(path, options.suffix)) {
    report(path, "already has the " + printable(options.suffix) + " suffix; not compressed");
    return false;
  }
  // Checked before it is opened: opening a FIFO would block, and a device
  // or a directory has no length to announce.
  file_status named;
  if (const int error = path_status(path, named)) {
    report(path, std::strerror(error));
    return false;
  }
  if (named.kind != file_kind::regular) {
    report(path, named.kind == file_kind::directory ? "is a directory (-r compresses the files in it)"
                                                    : "is not a regular file");
    return false;
  }
  counted_source source{nullptr, nullptr, open_for_reading(path)};
  if (source.fd < 0) {
    report(path, std::strerror(errno));
    return false;
  }
  file_status info;  // the file opened, even if the name was swapped meanwhile
  const int status_error = descriptor_status(source.fd, info);
  bool ok = false;
  if (status_error != 0 || info.kind != file_kind::regular) {
    report(path, status_error != 0 ? std::strerror(status_error) : "is not a regular file");
  } else {
    const std::string name(path_tail(path.c_str()));
    const input_facts input{path, info.size, name.c_str()};
    if (options.to_stdout) {
      if (is_standard_output_file(info)) {
        report(path, source_is_output_reason);
      } else {
        ok = compress_into(source, input, standard_output, "standard output", run);
      }
    } else {
      const std::string target = options.output ? *options.output : path + options.suffix;
      const std::string refusal = compression_target_refusal(target, info.identity, options.overwrite);
      if (!refusal.empty()) {
        report(target, refusal);
      } else {
        ok = compress_to_file(source, input, target, &info, run);
      }
    }
  }
  close_file(source.fd);
  if (ok && options.remove_source && !options.to_stdout) return remove_input(path, info.identity);
  return ok;
}

bool compress_standard_input(compression_run& run) {
  const plk_options& options = run.options;
  const std::string name = "standard input";
  // Data typed in is never meant; waiting for it would look like a hang.
  if (is_terminal(standard_input)) {
    report(name, "is a terminal; give a file to compress");
    return false;
  }
  file_status info;
  if (const int error = descriptor_status(standard_input, info)) {
    report(name, std::strerror(error));
    return false;
  }
  counted_source source{nullptr, nullptr, standard_input};
  spooled_input spool;
  uint64_t size = 0;
  const int64_t offset = info.kind == file_kind::regular ? descriptor_offset(standard_input) : -1;
  if (offset >= 0 && static_cast<uint64_t>(offset) <= info.size) {
    // A file redirected in has its length already, from where it stands.
    size = info.size - static_cast<uint64_t>(offset);
  } else {
    if (const std::string failure = spool.fill(standard_input); !failure.empty()) {
      report(name, failure);
      return false;
    }
    source.read = spooled_input::read;
    source.user = &spool;
    size = spool.size();
  }
  const input_facts input{name, size, options.stored_name ? options.stored_name->c_str() : nullptr};
  if (!options.output) {
    if (is_standard_output_file(info)) {
      report(name, source_is_output_reason);
      return false;
    }
    return compress_into(source, input, standard_output, "standard output", run);
  }
  if (const std::string refusal = compression_target_refusal(*options.output, info.identity, options.overwrite);
      !refusal.empty()) {
    report(*options.output, refusal);
    return false;
  }
  return compress_to_file(source, input, *options.output, nullptr, run);
}

void report_figures(const std::string& name, uint64_t from_bytes, uint64_t to_bytes, bool restoring,
                    const std::string& output_name, double seconds) {
  const uint64_t original = restoring ? to_bytes : from_bytes;
  const uint64_t compressed = restoring ? from_bytes : to_bytes;
  char ratio[32] = "--";
  if (original != 0) std::snprintf(ratio, sizeof ratio, "%.2f%%", 100.0 * compressed / original);
  std::fprintf(stderr, "%s: %s: %s (%llu => %llu bytes, %s), %.1f MB/s\n", program_in_messages,
               printable(name).c_str(), ratio, static_cast<unsigned long long>(from_bytes),
               static_cast<unsigned long long>(to_bytes), printable(output_name).c_str(),
               seconds > 0 ? original / seconds / 1e6 : 0.0);
}

void report_compression_totals(const compression_run& run) {
  char ratio[32] = "--";
  if (run.bytes_in != 0) std::snprintf(ratio, sizeof ratio, "%.2f%%", 100.0 * run.bytes_out / run.bytes_in);
  std::fprintf(stderr, "%s: %llu files compressed: %s (%llu => %llu bytes)\n", program_in_messages,
               static_cast<unsigned long long>(run.files), ratio, static_cast<unsigned long long>(run.bytes_in),
               static_cast<unsigned long long>(run.bytes_out));
}

}  // namespace pelk
