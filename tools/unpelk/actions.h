// What unpelk does with one container: restore it to a file, write it to
// standard output, test it or list it. Each action reports its own errors
// as one line on standard error naming the file concerned, and returns
// whether it succeeded.
#pragma once

#include <string>

#include "inflate/inflate.h"

namespace pelk {

// Restores the container to `target`, or when that is empty to its stored
// name in the container's directory. An existing regular file is replaced
// only with `overwrite`; the container itself, a directory, a device, a
// FIFO or a socket never is (target_check.h).
bool restore_container(const std::string& path, const std::string& target, bool overwrite,
                       inflater& state);

bool write_container_to_stdout(const std::string& path, inflater& state);

bool test_container(const std::string& path, inflater& state);

// Prints the listing line of one container; current_year dates its stamp.
// The column heading comes before the first line printed, once, so a run
// that can read no container prints none.
bool list_container(const std::string& path, int current_year, bool& heading_printed);

// "unpelk: <file>: <reason>" on standard error, the file name escaped.
void report(const std::string& file, const std::string& reason);

}  // namespace pelk
