// SPDX-License-Identifier: MIT
// Test entry: compresses SRC into TARGET like pelk, but at the level given
// on the command line, so the greedy loop (levels 1-3) can be exercised
// with the real units in a fresh process.
//
//   engine_at_level LEVEL SRC TARGET
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "container/container.h"
#include "common/file_io.h"
#include "engine/match_finder.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int level = std::atoi(argv[1]);
  if (!pelk::valid_level(level)) return 2;
  int source_fd = ::open(argv[2], O_RDONLY);
  int target_fd = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (source_fd < 0 || target_fd < 0) return 2;
  const off_t size = ::lseek(source_fd, 0, SEEK_END);
  ::lseek(source_fd, 0, SEEK_SET);

  static pelk::deflate_compressor compressor;
  const pelk::container_result result =
      pelk::write_container(compressor, {pelk::read_descriptor, &source_fd},
                            {{pelk::write_descriptor, &target_fd}, pelk::overwrite_descriptor},
                            {static_cast<uint64_t>(size), pelk::path_tail(argv[2]), 0, level});
  return result.read_error == 0 && result.write_error == 0 ? 0 : 1;
}
