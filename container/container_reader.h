// SPDX-License-Identifier: MIT
// Reading a container: the header, then the deflate stream checked against
// the trailer. Knows the format's layout and every way a file can fail to be
// a container; knows nothing about files, names on disk or the command line.
//
// Layout (container/container_format.h): magic 1F AB, method 8, flags 00 or
// 08, stamp, size (low 32 bits), the name and its zero byte when flag 08 is
// set, the raw deflate stream, then the CRC-32 as the file's last 4 bytes.
#pragma once

#include <cstdint>
#include <string>

#include "inflate/byte_source.h"
#include "inflate/inflate.h"

namespace pelk {

// Names longer than this are kept only in part; no file system takes them.
inline constexpr size_t max_kept_name = 4096;

struct container_header {
  uint32_t stamp = 0;
  uint32_t size_field = 0;
  bool has_name = false;
  std::string name;          // the first max_kept_name bytes of the stored name
  uint64_t name_length = 0;  // the stored name's whole length
};

// Every way a read of a container can fail, the first fault in the file
// deciding.
enum class container_fault : uint8_t {
  none,
  read_failed,    // the source failed
  write_failed,   // the sink failed
  not_container,  // bad magic bytes
  unsupported,    // unknown method or flags
  truncated,      // the file ends inside the header, the stream or the CRC
  corrupt,        // the stream is not valid deflate
  checksum,       // the CRC-32 does not match the data
  size_mismatch,  // the size field does not match the data
  trailing_data,  // bytes after the CRC-32
};

struct container_problem {
  container_fault fault = container_fault::none;
  std::string text;  // what is wrong, for a message; "" with no fault
};

// Reads the header from the source's start, leaving the source at the
// deflate stream.
container_problem read_container_header(byte_source& source, container_header& header);

struct body_check : container_problem {
  int write_error = 0;  // the sink's error when it failed (text is then "")
  uint64_t decoded_size = 0;
};

// Decodes the stream into sink and checks that the CRC-32 follows it and
// ends the file, that it matches the data and that the size field equals
// the decoded length modulo 2^32.
body_check read_container_body(byte_source& source, inflater& state, byte_sink sink,
                               const container_header& header);

}  // namespace pelk
