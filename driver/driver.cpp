// SPDX-License-Identifier: MIT
// The per-file step: name checks, measuring and opening both files, handing
// them to the container writer, and giving the container its name.
//
// Every refusal is one line on standard error with exit status 1, and
// comes after the banner and the input line but for one: a source or
// target that is the file standard output goes to, which the banner would
// change. Nothing is created or changed before the last refusal has been
// passed. The target must not be the
// source under another name (a link, ./x against x, another letter case on
// a case-insensitive file system): the check compares the files themselves.
//
// A container is written under a temporary name beside the target and
// renamed over it only once complete, so a failed or interrupted run leaves
// the old target as it was, and a link planted under the target's name is
// replaced rather than followed. Nothing is ever truncated: an existing
// target is replaced by the rename, after every check.
//
// The checks are made on the facts common/file_system.h gives on every
// system (on Windows the volume serial number and file index tell "X.TXT",
// ".\x.txt", "C:\dir\..\x.txt" and a hard link from another file), so
// each system refuses the same things with the same messages.
#include "driver/driver.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "container/container.h"
#include "common/bulk_memory.h"
#include "common/file_io.h"
#include "common/file_system.h"
#include "common/printable_text.h"
#include "common/progress_line.h"
#include "common/standard_streams.h"
#include "container/stamp.h"
#include "container/temporary_file.h"
#include "driver/thread_count.h"
#include "engine/engine.h"

namespace pelk {

std::optional<std::string> derive_target_name(const char* source) {
  std::string target = source;
  const size_t suffix_length = sizeof derived_suffix - 1;
  // The letters replace the end of the file's own name, never reach into
  // its directory's: "d/ab" would otherwise become "dplk" beside d, and
  // "d/a", "e/b" and "abc" would all become one "plk".
  const size_t name_start = file_name_start(target);
  if (target.size() - name_start < suffix_length) return std::nullopt;
  target.replace(target.size() - suffix_length, suffix_length, derived_suffix);
  return target;
}

void announce(const char* source) {
  std::printf("%s", banner);
  std::printf("in file = %s\n", source);
  std::fflush(stdout);  // before any report on standard error
}

void show_usage() {
  std::printf("%s", usage_text);
  std::exit(0);
}

namespace {

// Every failure ends here: the temporary target goes, so an old target
// stays as it was; standard output is flushed by the normal exit, so the
// banner lines printed before the failure still appear.
[[noreturn]] void end_in_failure() {
  remove_pending_temporary();
  std::exit(1);
}

[[noreturn]] void report_line(const std::string& text) {
  std::fprintf(stderr, "\n%s: %s\n", program_name, text.c_str());
  end_in_failure();
}

}  // namespace

// The name is escaped as unpelk escapes it: it may come from a glob or a
// script and hold bytes a terminal would act on.
void report_file_error(const char* file, const char* reason) { report_line(printable(file) + ": " + reason); }

void report_system_error(int error) { report_line(std::strerror(error)); }

namespace {

// The program's one compressor: static, so a run allocates nothing for it,
// and zero-filled, so it costs no space in the executable.
//
// Built by GCC for x86-64 Linux, it sits alone in one huge page's worth of
// address space, which a sequential run offers for a huge page: faulting
// in the compressor's 190 small pages one by one takes longer than
// compressing a small file. A parallel run keeps it in small pages, also
// where the system would give huge ones unasked: it uses only the block
// and output parts, and a huge page would cost it 2 MiB of memory for
// them. Alone means in a section of its own (.lbss, which the linker maps
// after the other zero-filled data, in a segment of its own): among them,
// its alignment would let the first small variable bring in a huge page
// of its own wherever the system gives them unasked. (Clang writes a
// section of that name into the executable itself, 2 MiB of zeros.)
#if defined(__linux__) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
struct alignas(huge_page_bytes) compressor_page {
  deflate_compressor compressor;
  uint8_t unused[huge_page_bytes - sizeof(deflate_compressor)];
};
static_assert(sizeof(compressor_page) == huge_page_bytes);
__attribute__((section(".lbss"))) constinit compressor_page compressor_storage{};
deflate_compressor& compressor = compressor_storage.compressor;
void prepare_compressor(const container_settings& settings) {
  if (compression_threads(settings) < 2) {
    offer_huge_pages(&compressor_storage, sizeof compressor_storage);
  } else {
    decline_huge_pages(&compressor_storage, sizeof compressor_storage);
  }
}
#else
constinit deflate_compressor compressor{};
void prepare_compressor(const container_settings&) {}
#endif

[[noreturn]] void refuse_with_error(const char* file, int error) {
  report_file_error(file, std::strerror(error));
}

[[noreturn]] void refuse_with_errno(const char* file) { refuse_with_error(file, errno); }

struct source_file {
  int fd;
  file_status info;  // its size is the one the header announces
};

source_file open_source(const char* source) {
  // Checked before it is opened: opening a FIFO would block, and opening a
  // device can have effects of its own; a directory or device has no length
  // to measure anyway.
  file_status named;
  if (const int error = path_status(source, named)) refuse_with_error(source, error);
  if (named.kind != file_kind::regular) report_file_error(source, "not a regular file");

  source_file input;
  input.fd = open_for_reading(source);
  if (input.fd < 0) refuse_with_errno(source);
  // The file opened is the one measured, even if the name was swapped in
  // between.
  if (const int error = descriptor_status(input.fd, input.info)) refuse_with_error(source, error);
  if (input.info.kind != file_kind::regular) report_file_error(source, "not a regular file");
  return input;
}

// Where the container goes. A regular file, or a name not yet taken, is
// written as a temporary file and renamed over the name once complete;
// a device such as /dev/null or a FIFO is written directly. Standard
// output and standard error are refused under any name: they carry the
// program's own messages.
struct target_file {
  int fd = -1;
  temporary_file replacement;  // used when fd is its descriptor
  bool direct = false;
};

target_file open_direct(const char* target, const file_status& source_info) {
  target_file output;
  output.direct = true;
  // Without blocking (a FIFO with no reader) and without creating: the
  // name was there a moment ago, and if it has gone, it is not ours to make.
  output.fd = open_for_writing_in_place(target);
  if (output.fd < 0) refuse_with_errno(target);
  file_status info;
  if (const int error = descriptor_status(output.fd, info)) refuse_with_error(target, error);
  if (same_file(source_info.identity, info.identity)) report_file_error(target, "source and target are the same file");
  make_blocking(output.fd);
  return output;
}

target_file open_target(const char* target, const file_status& source_info) {
  file_status link_info, info;
  bool exists = true;
  if (const int error = link_status(target, link_info)) {
    if (error != ENOENT) refuse_with_error(target, error);
    exists = false;
  }
  // A link is followed only to learn what it names: a link to a regular
  // file, or one that leads nowhere, is replaced as a link.
  const bool is_link = exists && link_info.kind == file_kind::symbolic_link;
  bool leads_somewhere = exists;
  if (is_link) {
    const int error = path_status(target, info);
    if (error == 0) {
      leads_somewhere = true;
    } else if (error == ENOENT) {
      leads_somewhere = false;
    } else {
      refuse_with_error(target, error);
    }
  } else {
    info = link_info;
  }
  if (leads_somewhere) {
    if (same_file(source_info.identity, info.identity)) {
      report_file_error(target, "source and target are the same file");
    }
    // Written to, the stream would mix the container with the banner or a
    // report; written as a file, it would be replaced (the /dev/stdout link
    // itself) or, reopened from its start, overwrite what the shell had
    // appended to it.
    switch (standard_stream_of(info)) {
      case standard_output: report_file_error(target, "is standard output, which carries pelk's messages");
      case standard_error: report_file_error(target, "is standard error, which carries pelk's messages");
      default: break;
    }
    if (info.kind == file_kind::directory) refuse_with_error(target, EISDIR);
    // A device or FIFO: renaming a file over such a name would replace the
    // name, not write to what it stands for.
    if (info.kind != file_kind::regular) return open_direct(target, source_info);
  }

  target_file output;
  const int error = create_temporary(target, program_name, output.replacement);
  if (error != 0) refuse_with_error(target, error);
  output.fd = output.replacement.fd;
  // The new container takes the old file's place with its permissions and,
  // where the system allows, its owner, as writing it in place would have.
  if (leads_somewhere && !is_link) copy_permissions(output.fd, info);
  return output;
}

// Gives the complete container its name, or reports why it cannot have it.
void finish_target(target_file& output) {
  if (output.direct) {
    if (const int error = close_file(output.fd)) report_system_error(error);
    return;
  }
  const int error = commit_temporary(output.replacement);
  if (error != 0) report_system_error(error);
}

// Memory that runs out midway through a run on several threads is not the
// end of it: the source, a regular file, is read again from its start into
// the temporary file, emptied, on one thread. A target written directly (a
// device, a FIFO) cannot take back what it was given.
struct restart_files {
  int source_fd;
  const target_file* target;
};

int restart_run(void* context) {
  const restart_files& files = *static_cast<const restart_files*>(context);
  if (files.target->direct) return ESPIPE;
  if (const int error = rewind_descriptor(files.source_fd, false)) return error;
  return rewind_descriptor(files.target->fd, true);
}

// A source or target that is the regular file standard output goes to
// (`pelk a b.plk >> a`, `pelk a b.plk >> b.plk`) would take the banner: the
// source would be compressed with it inside, an old target left changed.
// Refused before anything is printed, as nothing else keeps them as they
// were.
void refuse_standard_output_files(const char* source, const char* target) {
  for (const char* name : {source, target}) {
    file_status info;
    if (path_status(name, info) == 0 && is_standard_output_file(info)) {
      report_file_error(name, "is standard output, which carries pelk's messages");
    }
  }
}

}  // namespace

int compress_file(const char* source, const char* target) {
  const uint32_t time_stamp = stamp_from_time(std::time(nullptr));
  refuse_standard_output_files(source, target);
  announce(source);

  // Refused before anything is opened: an empty name (a script's unset
  // variable) names no file, and the system would only say so once the
  // whole source had been compressed.
  if (*source == '\0') report_line("an empty source name was given");
  if (*target == '\0') report_line("an empty target name was given");
  if (std::strcmp(source, target) == 0) report_file_error(target, "source and target are the same file");
  const std::optional<unsigned> threads = compression_threads();
  if (!threads) report_file_error("PELK_THREADS", "not a positive whole number of threads");

  source_file input = open_source(source);
  target_file output = open_target(target, input.info);

  const uint64_t measured = input.info.size;
  // Shown only on a terminal, and gone before any report below.
  progress_line progress("pelk:", measured);
  container_settings settings{measured, path_tail(source), time_stamp};
  settings.progress = progress_line::on_progress;
  settings.progress_context = &progress;
  settings.threads = *threads;
  prepare_compressor(settings);
  // A device or a FIFO cannot take back the size field of a source that
  // changed as it was read; the report below then says why it is wrong.
  const container_output sink{{write_descriptor, &output.fd}, output.direct ? nullptr : overwrite_descriptor};
  restart_files restart{input.fd, &output};
  const container_result result =
      write_container(compressor, {read_descriptor, &input.fd}, sink, settings, {restart_run, &restart});
  progress.finish();
  // A read error comes first: the writes after it only finished what it cut short.
  if (result.read_error != 0) report_system_error(result.read_error);
  if (result.out_of_memory) report_system_error(ENOMEM);
  if (result.write_error != 0) report_system_error(result.write_error);
  close_file(input.fd);
  finish_target(output);
  if (result.bytes_read != measured) report_file_error(source, "file changed as it was read");
  return 0;
}

}  // namespace pelk
