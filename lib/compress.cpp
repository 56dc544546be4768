// SPDX-License-Identifier: MIT
// The library's compression calls: each allocates a compressor of its own,
// zero-filled, runs the container writer over memory or the caller's
// callbacks, and turns the result into a status code.
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "container/container.h"
#include "container/container_format.h"
#include "inflate/byte_source.h"
#include "lib/callbacks.h"
#include "lib/status.h"
#include "pelk.h"

namespace pelk {
namespace {

struct free_deleter {
  void operator()(void* p) const { std::free(p); }
};

// A compressor that has never run is all zeros; calloc hands out zeroed
// pages without touching them, where value-initialisation would write all
// of its 890 KiB.
std::unique_ptr<deflate_compressor, free_deleter> new_compressor() {
  return std::unique_ptr<deflate_compressor, free_deleter>(
      static_cast<deflate_compressor*>(std::calloc(1, sizeof(deflate_compressor))));
}

int overwrite_memory_output(void* context, uint64_t offset, const uint8_t* data, size_t size) {
  memory_output& output = *static_cast<memory_output*>(context);
  if (offset > output.size || size > output.size - offset) return EINVAL;
  std::memcpy(output.data + offset, data, size);
  return 0;
}

// A call on buffers can always begin again: the source is still there,
// and the output is only the caller's buffer.
struct memory_buffers {
  memory_input input;
  memory_output output;
  memory_input input_start;
};

int restart_memory(void* context) {
  memory_buffers& buffers = *static_cast<memory_buffers*>(context);
  buffers.input = buffers.input_start;
  buffers.output.size = 0;
  return 0;
}

bool options_valid(const pelk_options* options) {
  return options == nullptr || options->size >= sizeof(size_t);
}

// The settings for a call: the options' fields that the caller's size
// covers, the defaults for the rest.
container_settings settings_for(const pelk_options* options, uint64_t source_size, const char* stored_name,
                                uint32_t stamp) {
  container_settings settings{source_size, stored_name, stamp};
  if (options != nullptr && options->size >= offsetof(pelk_options, threads) + sizeof options->threads &&
      options->threads > 1) {
    settings.threads = options->threads;
  }
  return settings;
}

}  // namespace
}  // namespace pelk

using namespace pelk;

size_t pelk_compress_bound(size_t source_size, size_t name_length) {
  // A block is never coded larger than with the fixed codes, at most 9 bits
  // a byte (a literal of 144-255; every match costs less per byte), plus 10
  // bits of block header and end code. Blocks before the last hold at least
  // 4096 symbols, so there are at most source_size / 4096 + 2 of them.
  // Every sum saturates: no buffer is SIZE_MAX bytes long, so a caller
  // sizing one by the bound fails to allocate it, where a wrapped sum would
  // hand it a small size that looks like an answer.
  const auto add = [](size_t a, size_t b) { return a > SIZE_MAX - b ? SIZE_MAX : a + b; };
  const size_t header = add(sized_header_bytes, name_length != 0 ? add(name_length, 1) : 0);
  const size_t stream = add(add(add(source_size, source_size >> 3), source_size >> 10), 16);
  return add(add(header, stream), trailer_bytes);
}

int pelk_compress(const void* source, size_t source_size, const char* stored_name, uint32_t stamp, void* out,
                  size_t out_capacity, size_t* out_size) {
  return pelk_compress_with(nullptr, source, source_size, stored_name, stamp, out, out_capacity, out_size);
}

int pelk_compress_with(const pelk_options* options, const void* source, size_t source_size,
                       const char* stored_name, uint32_t stamp, void* out, size_t out_capacity, size_t* out_size) {
  if ((source == nullptr && source_size != 0) || out == nullptr || out_size == nullptr || !options_valid(options)) {
    return PELK_ERROR_ARGUMENT;
  }
  return without_exceptions([&] {
    const auto compressor = new_compressor();
    if (!compressor) return PELK_ERROR_NO_MEMORY;
    const memory_input input{static_cast<const uint8_t*>(source), source_size, SIZE_MAX};
    memory_buffers buffers{input, {static_cast<uint8_t*>(out), out_capacity, 0}, input};
    const container_result result = write_container(
        *compressor, {read_memory, &buffers.input}, {{write_memory_output, &buffers.output}, overwrite_memory_output},
        settings_for(options, source_size, stored_name, stamp), {restart_memory, &buffers});
    if (result.out_of_memory) return PELK_ERROR_NO_MEMORY;
    if (result.write_error != 0) return PELK_ERROR_OUTPUT_TOO_SMALL;
    *out_size = buffers.output.size;
    return PELK_OK;
  });
}

int pelk_compress_stream(pelk_read_fn read, pelk_write_fn write, void* user, uint64_t source_size,
                         const char* stored_name, uint32_t stamp) {
  return pelk_compress_stream_with(nullptr, read, write, user, source_size, stored_name, stamp);
}

int pelk_compress_stream_with(const pelk_options* options, pelk_read_fn read, pelk_write_fn write, void* user,
                              uint64_t source_size, const char* stored_name, uint32_t stamp) {
  if (read == nullptr || write == nullptr || !options_valid(options)) return PELK_ERROR_ARGUMENT;
  return without_exceptions([&] {
    const auto compressor = new_compressor();
    if (!compressor) return PELK_ERROR_NO_MEMORY;
    callbacks c{read, write, user};
    const container_result result =
        write_container(*compressor, {read_callback, &c}, {{write_callback, &c}, nullptr},
                        settings_for(options, source_size, stored_name, stamp));
    if (result.read_error != 0) return PELK_ERROR_READ;
    if (result.out_of_memory) return PELK_ERROR_NO_MEMORY;
    if (result.write_error != 0) return PELK_ERROR_WRITE;
    if (result.bytes_read != source_size) return PELK_ERROR_SIZE_CHANGED;
    return PELK_OK;
  });
}
