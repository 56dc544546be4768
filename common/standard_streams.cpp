// Standard streams under other names: see standard_streams.h.
//
// The comparison is by identity (device and inode, or volume and file
// index), which every name of a file shares: it needs no list of the names
// a system gives its standard streams.
#include "common/standard_streams.h"

namespace pelk {

int standard_stream_of(const file_status& target) {
  for (const int stream : {standard_output, standard_error}) {
    file_status open_stream;
    if (descriptor_status(stream, open_stream) == 0 && same_file(open_stream.identity, target.identity)) {
      return stream;
    }
  }
  return -1;
}

}  // namespace pelk
