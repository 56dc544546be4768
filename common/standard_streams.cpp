// SPDX-License-Identifier: MIT
// Standard streams under other names: see standard_streams.h.
//
// The comparison is by identity (device and inode, or volume and file
// index), which every name of a file shares: it needs no list of the names
// a system gives its standard streams.
#include "common/standard_streams.h"

namespace pelk {

namespace {

// The null device may stand for a stream and be the target at once
// (`pelk f /dev/null >/dev/null`, as benchmarks run it): what it is given
// is thrown away, so nothing written there can spoil anything.
bool is_null_device(const file_status& target) {
  if (target.kind != file_kind::character_device) return false;
  file_status null_device;
  return path_status("/dev/null", null_device) == 0 && same_file(null_device.identity, target.identity);
}

}  // namespace

int standard_stream_of(const file_status& target) {
  if (is_null_device(target)) return -1;
  for (const int stream : {standard_output, standard_error}) {
    file_status open_stream;
    if (descriptor_status(stream, open_stream) == 0 && same_file(open_stream.identity, target.identity)) {
      return stream;
    }
  }
  return -1;
}

bool is_standard_output_file(const file_status& file) {
  if (file.kind != file_kind::regular) return false;
  file_status output;
  return descriptor_status(standard_output, output) == 0 && same_file(output.identity, file.identity);
}

}  // namespace pelk
