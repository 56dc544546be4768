// SPDX-License-Identifier: MIT
// What unpelk does with one container: restore it to a file, write it to
// standard output, test it or list it. Each action reports its own errors
// as one line on standard error naming the file concerned, and returns
// whether it succeeded.
#pragma once

#include <string>
#include <vector>

#include "common/file_system.h"
#include "inflate/inflate.h"
#include "tools/unpelk/listing.h"

namespace pelk {

// The choices of the command line that every action heeds.
struct action_choices {
  bool overwrite = false;  // -f
  bool progress = true;    // a progress line may be drawn (not -q)
  bool verbose = false;    // -l -v
  // A restored file takes the container file's permission bits and
  // modification time, which the container was given from its source (plk).
  bool carry_attributes = false;
};

// Where a restored file goes: the named file, or the stored name inside a
// directory ("" for the current one, else ending in '/').
struct destination {
  std::string file;
  std::string directory;
};

// What a restore that succeeded tells its caller: the restored file's name,
// and the file the container was read from (which plk --rm lets go of).
struct restore_result {
  std::string path;
  file_identity container;
};

// Restores the container. An existing regular file is replaced only with
// `overwrite`; the container itself, a directory, a device, a FIFO or a
// socket never is (target_check.h). `result`, where given, is filled in.
bool restore_container(const std::string& operand, const destination& where, const action_choices& choices,
                       inflater& state, restore_result* result = nullptr);

bool write_container_to_stdout(const std::string& operand, const action_choices& choices, inflater& state);

bool test_container(const std::string& operand, const action_choices& choices, inflater& state);

// What listing several containers carries from one to the next.
struct listing_state {
  int current_year = 1980;  // dates the stamps
  bool heading_printed = false;
  list_totals totals;
};

// Prints the listing line of one container. The column heading comes
// before the first line printed, once, so a run that can read no container
// prints none. The stream is decoded with -v, or when the container's
// length is known only by reading it (a pipe); a fault found then is
// reported and fails the listing, after its line.
bool list_container(const std::string& operand, const action_choices& choices, inflater& state,
                    listing_state& listing);

// Lists every operand, ending a listing of several with their totals.
// Returns whether every one was listed.
bool list_containers(const std::vector<std::string>& operands, const action_choices& choices, inflater& state);

}  // namespace pelk
