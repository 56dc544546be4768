// SPDX-License-Identifier: MIT
// Files by name and by descriptor, in one vocabulary for every system: what
// a name refers to, the identity that tells two names of one file apart,
// opening files in the ways the programs need, terminals, and where a
// path's last component starts. Both programs decide on these facts with
// the same code, so they refuse the same things with the same messages
// everywhere; only how a fact is learnt differs.
//
// file_system_posix.cpp asks POSIX. file_system_windows.cpp asks the
// Windows API: paths are UTF-8 (see wide_text.h) and go to the wide calls
// as full paths with the \\?\ prefix, so they may be longer than 260
// characters; descriptors are the C runtime's, in binary mode, over
// handles opened with CreateFileW.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelk {

inline constexpr int standard_input = 0;
inline constexpr int standard_output = 1;
inline constexpr int standard_error = 2;

// The same file under any of its names: device and inode number (POSIX),
// volume serial number and file index (Windows). Something that is not a
// file on a disk, a pipe or a console, has no identity (`known` false) and
// is the same as nothing.
struct file_identity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool known = false;
};

inline bool same_file(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

enum class file_kind : uint8_t {
  regular,
  directory,
  character_device,
  block_device,
  fifo,
  socket,
  symbolic_link,  // only from link_status
  other,
};

// When a file was last modified, in seconds and nanoseconds since 1970.
struct file_time {
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
};

struct file_status {
  file_kind kind = file_kind::other;
  file_identity identity;
  uint64_t size = 0;  // of a regular file
  // POSIX permission bits, owner and group; 0 on Windows, which has none.
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
  file_time modified;
};

// What path names, following links to the end (path_status) or not
// (link_status), or what an open descriptor is. Each returns 0 or the errno
// of the failure, ENOENT when nothing is there.
int path_status(const std::string& path, file_status& status);
int link_status(const std::string& path, file_status& status);
int descriptor_status(int fd, file_status& status);

// Opens a file for reading, in binary, without blocking where opening can
// block (a FIFO with no writer). Returns the descriptor, or -1 with errno.
int open_for_reading(const std::string& path);

// Opens something that already exists for writing where it stands (a
// device, a FIFO): never creates or truncates it, and does not block in the
// opening. Returns the descriptor, or -1 with errno; make_blocking then
// readies it for plain writes.
int open_for_writing_in_place(const std::string& path);
void make_blocking(int fd);

// Closes a descriptor: 0, or the errno of a failed close (a write that
// only then turned out to fail).
int close_file(int fd);

// The descriptor's position, or -1 where it has none (a pipe).
int64_t descriptor_offset(int fd);

// Moves the descriptor's position back to the file's start: 0 or the errno.
int rewind_file(int fd);

// A terminal (a console on Windows) that a person reads or types at, and
// its width in columns (0 when unknown).
bool is_terminal(int fd);
unsigned terminal_columns(int fd);

// Gives a file that replaces another that file's owner and permission bits,
// as far as the system allows (POSIX); nothing on Windows.
void copy_permissions(int fd, const file_status& replaced);

// Gives a file the permissions a new file gets from the process (0666 less
// the umask on POSIX; Windows has no such bits). 0 or the errno.
int give_new_file_permissions(int fd);

// Gives a file the permission bits (rwx for owner, group and others; 0 on
// Windows, which has none) and the modification time of another, as a
// compressed file and its restored copy carry their source's. 0 or the
// errno.
int give_mode_and_time(int fd, const file_status& from);

// Opens a new, empty file for scratch data, for reading and writing, that
// nothing can leave behind: in the system's temporary directory ($TMPDIR,
// else /tmp, on POSIX, whose name for it is removed at once; the temporary
// directory on Windows, where the file goes when its last handle closes,
// as it does when the process ends in any way). Sets fd and returns 0, or
// returns the errno; `directory` receives where it was made, for messages.
int open_scratch_file(int& fd, std::string& directory);

// Removes a file's name (a source that --rm lets go). 0 or the errno.
int remove_file(const std::string& path);

// Where the last component of path starts: after the last separator ("/";
// on Windows also "\" and the colon of a drive, "C:name"), or 0.
size_t file_name_start(std::string_view path);

// The longest file name the directory's file system takes, in the units
// file_name_units counts: bytes on POSIX, UTF-16 units on Windows.
uint64_t longest_file_name(const std::string& directory);
uint64_t file_name_units(std::string_view name);

}  // namespace pelk
