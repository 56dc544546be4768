// SPDX-License-Identifier: MIT
// The per-container actions: see actions.h.
//
// Every action opens the container, reads its header and, except a plain
// listing, decodes its stream into a sink: a temporary file (restore),
// standard output (-c) or nothing (-t, -l). Faults of the container are
// reported against the container's name, faults of writing against the
// output's name.
#include "tools/unpelk/actions.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/progress_line.h"
#include "common/standard_streams.h"
#include "tools/unpelk/container_input.h"
#include "tools/unpelk/output_file.h"
#include "tools/unpelk/stored_name.h"
#include "tools/unpelk/target_check.h"

namespace pelk {
namespace {

int discard_bytes(void*, const uint8_t*, size_t) { return 0; }

int current_year() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return local != nullptr ? local->tm_year + 1900 : 1980;
}
constexpr byte_sink discard{discard_bytes, nullptr};

// Decodes the rest of the container into sink and checks it, under a
// progress line when one is wanted and the container's length is known.
// Reports nothing.
body_check decode(opened_container& container, inflater& state, byte_sink sink, bool progress_wanted) {
  const std::string label = std::string(program_in_messages) + ": " + printable(container.name) + ":";
  progress_line line(label, container.size.value_or(0), progress_wanted && container.size.has_value());
  container.progress = &line;
  body_check check = read_container_body(container.source, state, sink, container.header);
  container.progress = nullptr;
  return check;
}

// Reports what decoding found; returns whether all was well.
bool report_check(const opened_container& container, const body_check& check, const std::string& output_name) {
  if (check.fault == container_fault::write_failed) {
    report(output_name, std::string("write error: ") + std::strerror(check.write_error));
    return false;
  }
  if (check.fault != container_fault::none) {
    report(container.name, check.text);
    return false;
  }
  return true;
}

// Decodes the open container into sink and reports a fault.
bool decode_into(opened_container& container, inflater& state, byte_sink sink, const std::string& output_name,
                 bool progress_wanted) {
  return report_check(container, decode(container, state, sink, progress_wanted), output_name);
}

// The file the stored name asks for in `directory`, or "" after reporting
// why it cannot be used.
std::string stored_target(const opened_container& container, const std::string& directory) {
  const container_header& header = container.header;
  if (!header.has_name) {
    report(container.name, "the container stores no name; give a target name");
    return "";
  }
  // A name cut short in the header is far too long for any file system;
  // a whole one is measured as the system counts (UTF-16 units on Windows).
  const bool whole = header.name_length == header.name.size();
  const char* reason = unsafe_name_reason(header.name, whole ? file_name_units(header.name) : header.name_length,
                                          longest_file_name(directory));
  if (reason == nullptr && refuses_windows_names) reason = windows_name_reason(header.name);
  if (reason != nullptr) {
    report(container.name, std::string("refusing the stored name \"") + printable(header.name) + "\": " + reason +
                               "; give a target name");
    return "";
  }
  return directory + header.name;
}

// The check column of -l -v.
const char* verdict_of(container_fault fault) {
  switch (fault) {
    case container_fault::none: return "ok";
    case container_fault::checksum: return "bad crc";
    case container_fault::size_mismatch: return "bad size";
    case container_fault::read_failed: return "failed";
    default: return "damaged";
  }
}

}  // namespace

bool restore_container(const std::string& operand, const destination& where, const action_choices& choices,
                       inflater& state, restore_result* result) {
  opened_container container;
  if (!open_container(operand, container)) return false;
  const std::string final_path = where.file.empty() ? stored_target(container, where.directory) : where.file;
  if (final_path.empty()) return false;

  const std::string refusal = target_refusal(final_path, container.identity, choices.overwrite);
  if (!refusal.empty()) {
    report(final_path, refusal);
    return false;
  }
  temporary_file output;
  const std::string failure = create_output(final_path, output);
  if (!failure.empty()) {
    report(final_path, "cannot create a temporary file beside it: " + failure);
    return false;
  }
  if (!decode_into(container, state, {write_descriptor, &output.fd}, final_path, choices.progress)) {
    discard_temporary(output);
    return false;
  }
  // Only a container named on the command line is a file of its own.
  const bool carried = choices.carry_attributes && container.owns_fd;
  const std::string commit_failure = commit_output(output, choices.overwrite, carried ? &container.status : nullptr);
  if (!commit_failure.empty()) {
    report(final_path, commit_failure);
    return false;
  }
  if (result != nullptr) *result = {final_path, container.identity};
  return true;
}

bool write_container_to_stdout(const std::string& operand, const action_choices& choices, inflater& state) {
  opened_container container;
  if (!open_container(operand, container)) return false;
  if (is_standard_output_file(container.status)) {
    report(container.name, "is standard output too; what it restores would be written into it");
    return false;
  }
  int output_fd = standard_output;
  return decode_into(container, state, {write_descriptor, &output_fd}, "standard output", choices.progress);
}

bool test_container(const std::string& operand, const action_choices& choices, inflater& state) {
  opened_container container;
  return open_container(operand, container) && decode_into(container, state, discard, "", choices.progress);
}

bool list_container(const std::string& operand, const action_choices& choices, inflater& state,
                    listing_state& listing) {
  opened_container container;
  if (!open_container(operand, container)) return false;
  if (is_standard_output_file(container.status)) {
    report(container.name, "is standard output too; its listing would be written into it");
    return false;
  }
  list_entry entry{&container.header, container.size.value_or(0), std::nullopt, nullptr};
  body_check check;
  if (choices.verbose || !container.size) {
    check = decode(container, state, discard, choices.progress);
    // Past these faults the stream was decoded to its end and the trailer read.
    const bool decoded_whole = check.fault == container_fault::none || check.fault == container_fault::checksum ||
                               check.fault == container_fault::size_mismatch;
    if (decoded_whole) entry.decoded_size = check.decoded_size;
    if (choices.verbose) entry.verdict = verdict_of(check.fault);
    if (!container.size) {
      // Read to its end, a pipe has given the container's length; any other
      // fault leaves it unknown, and there is no line to print.
      if (!decoded_whole) return report_check(container, check, "");
      entry.compressed_size = container.bytes_read;
    }
  }
  if (!listing.heading_printed) std::printf("%s\n", list_heading(choices.verbose).c_str());
  listing.heading_printed = true;
  std::printf("%s\n", list_line(entry, listing.current_year).c_str());
  add_to_totals(listing.totals, entry);
  if (check.fault == container_fault::none) return true;
  std::fflush(stdout);  // the line first, where both reach one terminal
  return report_check(container, check, "");
}

bool list_containers(const std::vector<std::string>& operands, const action_choices& choices, inflater& state) {
  listing_state listing;
  listing.current_year = current_year();
  bool all_ok = true;
  for (const std::string& path : operands) all_ok &= list_container(path, choices, state, listing);
  if (operands.size() > 1 && listing.heading_printed) {
    std::printf("%s\n", totals_line(listing.totals, choices.verbose).c_str());
  }
  return all_ok;
}

}  // namespace pelk
