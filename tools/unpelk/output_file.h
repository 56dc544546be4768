// Where decoded bytes go when they become a file: a temporary file beside
// the target, which takes the target's name only after the container has
// been verified. So a failed or interrupted run never leaves a half-written
// or unverified file under the final name, and nothing but the temporary
// file and the target is ever created.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelk {

// Why a name that is taken is not replaced without -f.
inline constexpr const char already_exists_reason[] = "already exists (use -f to overwrite)";

struct output_file {
  int fd = -1;
  std::string temp_path;
  std::string final_path;
};

// The directory part of path with its final slash ("" for a bare name).
std::string directory_of(const std::string& path);

// Creates an empty temporary file in the directory of final_path. Returns
// "" or the system's reason.
std::string create_output(const std::string& final_path, output_file& file);

// Gives the finished temporary file its final name and the permissions a
// new file gets (0666 less the umask). Without `overwrite` an existing file
// is never replaced, even one created while the data was being decoded.
// Returns "" or the reason; on failure the temporary file is removed.
std::string commit_output(output_file& file, bool overwrite);

// Closes and removes the temporary file.
void discard_output(output_file& file);

// A sink target: writes everything to fd, remembering the errno of a
// failure.
struct descriptor_writer {
  int fd;
  int write_errno = 0;
};
bool write_to_descriptor(void* descriptor_writer_pointer, const uint8_t* data, size_t size);

}  // namespace pelk
