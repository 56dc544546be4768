// Test entry: compresses SRC into TARGET like pelk, but at the level given
// on the command line, so the greedy loop (levels 1-3) and the level check
// can be exercised with the real units in a fresh process.
//
//   engine_at_level LEVEL SRC TARGET
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "container/container.h"
#include "engine/engine.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const int source_fd = ::open(argv[2], O_RDONLY);
  const int target_fd = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (source_fd < 0 || target_fd < 0) return 2;
  const off_t size = ::lseek(source_fd, 0, SEEK_END);
  ::lseek(source_fd, 0, SEEK_SET);

  pelk::compression_level = std::atoi(argv[1]);
  pelk::set_store_name(1);
  pelk::set_input_name(argv[2]);
  pelk::write_container(source_fd, target_fd, static_cast<uint64_t>(size), 0);
  return 0;
}
