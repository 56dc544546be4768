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

#include "tools/unpelk/byte_source.h"
#include "tools/unpelk/inflate.h"

namespace pelk {

// Names longer than this are kept only in part; no file system takes them.
inline constexpr size_t max_kept_name = 4096;

struct container_header {
  uint8_t flags = 0;
  uint32_t stamp = 0;
  uint32_t size_field = 0;
  bool has_name = false;
  std::string name;          // the first max_kept_name bytes of the stored name
  uint64_t name_length = 0;  // the stored name's whole length
};

// Reads the header from the source's start, leaving the source at the
// deflate stream. Returns "" when it is a well-formed header, else what is
// wrong with it.
std::string read_container_header(byte_source& source, container_header& header);

struct body_check {
  bool write_failed = false;  // the sink refused; `problem` is then empty
  std::string problem;        // "" when stream, trailer, CRC and size agree
  uint64_t decoded_size = 0;
};

// Decodes the stream into sink and checks that the CRC-32 follows it and
// ends the file, that it matches the data and that the size field equals
// the decoded length modulo 2^32.
body_check read_container_body(byte_source& source, inflater& state, output_sink sink,
                               const container_header& header);

}  // namespace pelk
