// SPDX-License-Identifier: MIT
// Reading a container: see container_reader.h.
//
// The checks come in the order the bytes do, so the first fault in the file
// is the one reported: header fields, the name's terminator, the stream, the
// trailer's presence, bytes after it, and only then the CRC and the size.
#include "container/container_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/crc32.h"
#include "common/byte_order.h"
#include "container/container_format.h"

namespace pelk {
namespace {

container_problem read_problem(const byte_source& source) {
  return {container_fault::read_failed, std::string("read error: ") + std::strerror(source.read_errno)};
}

// The source ran dry: a failed read, or the end of the file where more was due.
container_problem ran_out(const byte_source& source, const char* what) {
  return source.read_errno != 0 ? read_problem(source) : container_problem{container_fault::truncated, what};
}

container_problem problem(container_fault fault, const char* pattern, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, values...);
  return {fault, text};
}

// Passes the decoded bytes on and keeps their CRC-32.
struct checked_sink {
  byte_sink next;
  uint32_t crc = 0;
};

int write_checked(void* context, const uint8_t* data, size_t size) {
  checked_sink& sink = *static_cast<checked_sink*>(context);
  sink.crc = crc32_extend(sink.crc, data, size);
  return sink.next.write(sink.next.context, data, size);
}

}  // namespace

container_problem read_container_header(byte_source& source, container_header& header) {
  uint8_t fixed[sized_header_bytes];
  size_t got = 0;
  for (; got < sized_header_bytes; ++got) {
    const int byte = next_byte(source);
    if (byte < 0) break;
    fixed[got] = static_cast<uint8_t>(byte);
  }
  if (source.read_errno != 0) return read_problem(source);
  // A file too short to hold the magic bytes is a container cut short as
  // long as what it holds begins them (an empty file included).
  if ((got > 0 && fixed[0] != container_magic[0]) || (got > 1 && fixed[1] != container_magic[1])) {
    return {container_fault::not_container, "not a pelk container (bad magic bytes)"};
  }
  if (got > 2 && fixed[2] != method_deflate) {
    return problem(container_fault::unsupported, "unknown compression method %u", unsigned{fixed[2]});
  }
  if (got > 3 && fixed[3] != 0 && fixed[3] != flag_name_present) {
    return problem(container_fault::unsupported, "unknown flags 0x%02X", unsigned{fixed[3]});
  }
  if (got < sized_header_bytes) return {container_fault::truncated, "truncated header"};

  header.stamp = load_le32(fixed + 4);
  header.size_field = load_le32(fixed + 8);
  header.has_name = (fixed[3] & flag_name_present) != 0;
  header.name.clear();
  header.name_length = 0;
  if (!header.has_name) return {};
  for (;;) {
    const int byte = next_byte(source);
    if (byte < 0) return ran_out(source, "truncated header");
    if (byte == 0) return {};
    if (header.name.size() < max_kept_name) header.name.push_back(static_cast<char>(byte));
    ++header.name_length;
  }
}

body_check read_container_body(byte_source& source, inflater& state, byte_sink sink,
                               const container_header& header) {
  checked_sink checked{sink};
  const inflate_result inflated = inflate_stream(state, source, {write_checked, &checked});
  body_check check;
  check.decoded_size = inflated.output_size;
  auto fail = [&check](container_problem found) {
    static_cast<container_problem&>(check) = std::move(found);
    return check;
  };
  switch (inflated.status) {
    case inflate_status::ok:
      break;
    case inflate_status::truncated:
      return fail({container_fault::truncated, "compressed data is truncated"});
    case inflate_status::corrupt:
      return fail({container_fault::corrupt, std::string("compressed data is corrupt: ") + inflated.detail});
    case inflate_status::read_failed:
      return fail(read_problem(source));
    case inflate_status::write_failed:
      check.write_error = inflated.write_error;
      return fail({container_fault::write_failed, ""});
  }

  uint8_t trailer[trailer_bytes];
  for (uint8_t& byte : trailer) {
    const int value = next_byte(source);
    if (value < 0) return fail(ran_out(source, "truncated: the CRC-32 after the compressed data is missing"));
    byte = static_cast<uint8_t>(value);
  }
  if (!exhausted(source)) {
    return fail(source.read_errno != 0 ? read_problem(source)
                                       : container_problem{container_fault::trailing_data,
                                                           "unexpected bytes after the CRC-32"});
  }
  const uint32_t stored_crc = load_le32(trailer);
  if (stored_crc != checked.crc) {
    return fail(problem(container_fault::checksum,
                        "CRC-32 mismatch: the container says %08" PRIX32 ", the data gives %08" PRIX32, stored_crc,
                        checked.crc));
  }
  if (header.size_field != static_cast<uint32_t>(inflated.output_size)) {
    return fail(problem(container_fault::size_mismatch,
                        "size mismatch: the header says %" PRIu32 " bytes, the data has %" PRIu64, header.size_field,
                        inflated.output_size));
  }
  return check;
}

}  // namespace pelk
