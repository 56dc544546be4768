// Reading a container: see container_reader.h.
//
// The checks come in the order the bytes do, so the first fault in the file
// is the one reported: header fields, the name's terminator, the stream, the
// trailer's presence, bytes after it, and only then the CRC and the size.
#include "tools/unpelk/container_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "container/container_format.h"
#include "container/crc32.h"

namespace pelk {
namespace {

constexpr size_t header_fixed_size = fixed_header_bytes + 4;  // ... and the size field

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string read_problem(const byte_source& source) {
  return std::string("read error: ") + std::strerror(source.read_errno);
}

std::string format(const char* pattern, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}

// Passes the decoded bytes on and keeps their CRC-32.
struct checked_sink {
  output_sink next;
  uint32_t crc = 0;
};

bool write_checked(void* context, const uint8_t* data, size_t size) {
  checked_sink& sink = *static_cast<checked_sink*>(context);
  sink.crc = crc32_extend(sink.crc, data, size);
  return sink.next.write(sink.next.context, data, size);
}

}  // namespace

std::string read_container_header(byte_source& source, container_header& header) {
  uint8_t fixed[header_fixed_size];
  size_t got = 0;
  for (; got < header_fixed_size; ++got) {
    const int byte = next_byte(source);
    if (byte < 0) break;
    fixed[got] = static_cast<uint8_t>(byte);
  }
  if (source.read_errno != 0) return read_problem(source);
  if (got < 2 || fixed[0] != container_magic[0] || fixed[1] != container_magic[1]) {
    return "not a pelk container (bad magic bytes)";
  }
  if (got > 2 && fixed[2] != method_deflate) {
    return format("unknown compression method %u", unsigned{fixed[2]});
  }
  if (got > 3 && fixed[3] != 0 && fixed[3] != flag_name_present) {
    return format("unknown flags 0x%02X", unsigned{fixed[3]});
  }
  if (got < header_fixed_size) return "truncated header";

  header.flags = fixed[3];
  header.stamp = le32(fixed + 4);
  header.size_field = le32(fixed + 8);
  header.has_name = (header.flags & flag_name_present) != 0;
  header.name.clear();
  header.name_length = 0;
  if (!header.has_name) return "";
  for (;;) {
    const int byte = next_byte(source);
    if (byte < 0) {
      return source.read_errno != 0 ? read_problem(source)
                                    : "stored name has no terminating zero byte";
    }
    if (byte == 0) return "";
    if (header.name.size() < max_kept_name) header.name.push_back(static_cast<char>(byte));
    ++header.name_length;
  }
}

body_check read_container_body(byte_source& source, inflater& state, output_sink sink,
                               const container_header& header) {
  checked_sink checked{sink};
  const inflate_result inflated = inflate_stream(state, source, {write_checked, &checked});
  body_check check;
  check.decoded_size = inflated.output_size;
  switch (inflated.status) {
    case inflate_status::ok:
      break;
    case inflate_status::truncated:
      check.problem = "compressed data is truncated";
      return check;
    case inflate_status::corrupt:
      check.problem = std::string("compressed data is corrupt: ") + inflated.detail;
      return check;
    case inflate_status::read_failed:
      check.problem = read_problem(source);
      return check;
    case inflate_status::write_failed:
      check.write_failed = true;
      return check;
  }

  uint8_t trailer[4];
  for (uint8_t& byte : trailer) {
    const int value = next_byte(source);
    if (value < 0) {
      check.problem = source.read_errno != 0 ? read_problem(source)
                                             : "truncated: the CRC-32 after the compressed data is missing";
      return check;
    }
    byte = static_cast<uint8_t>(value);
  }
  if (!exhausted(source)) {
    check.problem = source.read_errno != 0 ? read_problem(source) : "unexpected bytes after the CRC-32";
    return check;
  }
  const uint32_t stored_crc = le32(trailer);
  if (stored_crc != checked.crc) {
    check.problem = format("CRC-32 mismatch: the container says %08" PRIX32 ", the data gives %08" PRIX32,
                           stored_crc, checked.crc);
    return check;
  }
  if (header.size_field != static_cast<uint32_t>(inflated.output_size)) {
    check.problem = format("size mismatch: the header says %" PRIu32 " bytes, the data has %" PRIu64,
                           header.size_field, inflated.output_size);
  }
  return check;
}

}  // namespace pelk
