// SPDX-License-Identifier: MIT
// A file written under a temporary name beside its final name and renamed
// into place only once it is complete, for pelk's containers and unpelk's
// restored files alike.
//
// So an interrupted or failed run never leaves a half-written file under
// the final name, an old file under that name stays exactly as it was until
// the new one is whole, two runs writing one name at once each leave a
// whole file, and a name that is a link is replaced as a name: the file a
// link points to is never written.
//
// POSIX in temporary_file.cpp, the Windows API in temporary_file_windows.cpp
// (where the rename is MoveFileExW, which replaces an existing target).
#pragma once

#include <string>

#include "common/file_system.h"

namespace pelk {

struct temporary_file {
  int fd = -1;
  std::string temp_path;
  std::string final_path;
};

// The directory part of path with its final separator ("" for a bare name).
inline std::string directory_of(const std::string& path) { return path.substr(0, file_name_start(path)); }

// Creates an empty file, mode 0600, named ".<program>-XXXXXX" in the
// directory of final_path (a rename across file systems would not be
// atomic), and registers it for removal by remove_pending_temporary.
// Returns 0, or the errno of the failure.
int create_temporary(const std::string& final_path, const char* program, temporary_file& file);

// Closes the finished file and renames it over the final name. Returns 0,
// or the errno of the failure; on failure the temporary file is removed.
int commit_temporary(temporary_file& file);

// Closes the finished file and gives it the final name only if that name is
// free, even when a file appears under it meanwhile: a hard link, or on a
// file system without them a rename that refuses to replace (renameat2
// with RENAME_NOREPLACE on Linux, MoveFileExW without
// MOVEFILE_REPLACE_EXISTING on Windows), never a check and then a rename,
// except where the system has no such rename. Returns 0, EEXIST when the
// name is taken, or another errno; on failure the temporary file is
// removed.
int commit_temporary_if_absent(temporary_file& file);

// Closes and removes the temporary file.
void discard_temporary(temporary_file& file);

// Removes the registered temporary file, if any; async-signal-safe. Runs
// before any exit in failure.
void remove_pending_temporary();

// Makes every signal whose default action ends the process remove the
// registered temporary file first, then take its course: a restore killed
// by ^C, kill, a file-size limit (SIGXFSZ), a CPU limit, an alarm or a
// stray SIGUSR1 leaves nothing behind. Signals ignored when the program
// started stay ignored (nohup), and a handler already in place (a
// sanitizer's) is left alone. On Windows, the console's Ctrl+C, Ctrl+Break
// and close events, and logoff and shutdown, do the same.
void install_signal_cleanup();

}  // namespace pelk
