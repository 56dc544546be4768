// SPDX-License-Identifier: MIT
// The library's reading calls: the header, and the whole container restored
// and checked, from memory or from the caller's callbacks.
//
// The stream, the CRC-32 and the size are checked by the reader and the
// inflater unpelk runs (read_container_body). The header is read here, by
// one function for the three calls, because the library's callers need what
// unpelk does not: a header read from the caller's bytes without copying or
// allocating. Like the reader's, it answers TRUNCATED for every input that
// more bytes could still make a header of, even an empty or one-byte one,
// and its checks come in the order of the bytes: magic, method, flags, the
// twelve bytes, the name's zero.
//
// Each call allocates its own inflater and input buffer, so calls share
// nothing and may run on any number of threads at once.

#include "common/byte_order.h"
#include "container/container_format.h"
#include "container/container_reader.h"
#include "inflate/byte_source.h"
#include "inflate/inflate.h"
#include "lib/callbacks.h"
#include "lib/status.h"
#include "pelk.h"

namespace pelk {
namespace {

// Reads a header through next(), which returns the next byte or -1 at the
// end of the input, leaving the input at the deflate stream. The name is
// only counted: pelk_read_header points into the caller's bytes instead,
// and the body's checks do not need it.
template <typename Next>
int read_header(Next next, container_header& header) {
  uint8_t fixed[sized_header_bytes];
  size_t got = 0;
  for (int byte; got < sized_header_bytes && (byte = next()) >= 0; ++got) fixed[got] = static_cast<uint8_t>(byte);
  if ((got > 0 && fixed[0] != container_magic[0]) || (got > 1 && fixed[1] != container_magic[1])) {
    return PELK_ERROR_NOT_CONTAINER;
  }
  if (got > 2 && fixed[2] != method_deflate) return PELK_ERROR_UNSUPPORTED;
  if (got > 3 && fixed[3] != 0 && fixed[3] != flag_name_present) return PELK_ERROR_UNSUPPORTED;
  if (got < sized_header_bytes) return PELK_ERROR_TRUNCATED;
  header.stamp = load_le32(fixed + 4);
  header.size_field = load_le32(fixed + 8);
  header.has_name = (fixed[3] & flag_name_present) != 0;
  header.name_length = 0;
  if (!header.has_name) return PELK_OK;
  for (;;) {
    const int byte = next();
    if (byte < 0) return PELK_ERROR_TRUNCATED;
    if (byte == 0) return PELK_OK;
    ++header.name_length;
  }
}

// Restores the container that source holds into sink; the status, with
// a failed sink reported as sink_failure.
int restore(byte_source& source, byte_sink sink, int sink_failure) {
  container_header header;
  const int header_status = read_header([&source] { return next_byte(source); }, header);
  if (source.read_errno != 0) return PELK_ERROR_READ;
  if (header_status != PELK_OK) return header_status;

  const inflater_ptr state = make_inflater();
  if (!state) return PELK_ERROR_NO_MEMORY;
  const body_check check = read_container_body(source, *state, sink, header);
  return check.fault == container_fault::write_failed ? sink_failure : status_of(check.fault);
}

}  // namespace
}  // namespace pelk

using namespace pelk;

int pelk_read_header(const void* data, size_t size, pelk_header* header) {
  if ((data == nullptr && size != 0) || header == nullptr) return PELK_ERROR_ARGUMENT;
  const uint8_t* const bytes = static_cast<const uint8_t*>(data);
  size_t at = 0;
  container_header fields;
  const int status = read_header([&] { return at < size ? int{bytes[at++]} : -1; }, fields);
  if (status != PELK_OK) return status;
  header->stamp = fields.stamp;
  header->size_field = fields.size_field;
  header->has_name = fields.has_name ? 1 : 0;
  header->name = fields.has_name ? reinterpret_cast<const char*>(bytes + sized_header_bytes) : nullptr;
  header->name_length = static_cast<size_t>(fields.name_length);
  header->header_size = at;
  return PELK_OK;
}

int pelk_decompress(const void* container, size_t container_size, void* out, size_t out_capacity,
                    size_t* out_size) {
  if ((container == nullptr && container_size != 0) || (out == nullptr && out_capacity != 0) ||
      out_size == nullptr) {
    return PELK_ERROR_ARGUMENT;
  }
  return without_exceptions([&] {
    memory_input input{static_cast<const uint8_t*>(container), container_size};
    byte_source source{read_memory, &input};
    memory_output output{static_cast<uint8_t*>(out), out_capacity, 0};
    const int status = restore(source, {write_memory_output, &output}, PELK_ERROR_OUTPUT_TOO_SMALL);
    if (status == PELK_OK) *out_size = output.size;
    return status;
  });
}

int pelk_decompress_stream(pelk_read_fn read, pelk_write_fn write, void* user) {
  if (read == nullptr || write == nullptr) return PELK_ERROR_ARGUMENT;
  return without_exceptions([&] {
    callbacks c{read, write, user};
    byte_source source{read_callback, &c};
    return restore(source, {write_callback, &c}, PELK_ERROR_WRITE);
  });
}
