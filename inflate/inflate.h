// SPDX-License-Identifier: MIT
// The streaming RFC 1951 inflater: decodes one raw deflate stream from a
// byte_source into an output sink, in memory of a fixed size whatever the
// stream's length.
//
// It is the project's own because the container's trailer can only be found
// by decoding the stream to its end, and the whole-buffer decoders available
// to the tests need the whole file (and the whole output) in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/stream_io.h"
#include "inflate/byte_source.h"

namespace pelk {

enum class inflate_status : uint8_t { ok, truncated, corrupt, read_failed, write_failed };

struct inflate_result {
  inflate_status status;
  const char* detail;    // what is wrong with a corrupt stream, else ""
  uint64_t output_size;  // bytes handed to the sink
  int write_error;       // the sink's error when the status is write_failed
};

// The decoding tables and the sliding window: about 330 KiB, allocated once
// and reused for any number of streams. Null when memory is short.
struct inflater;
struct inflater_deleter {
  void operator()(inflater* state) const;
};
using inflater_ptr = std::unique_ptr<inflater, inflater_deleter>;
inflater_ptr make_inflater();

// Decodes the stream that starts at source's position, handing the bytes
// to sink in order, in pieces of up to a few hundred KiB; a sink error stops
// decoding. On success the source is left at the first byte after the
// stream (the byte after the one holding the final block's last bit).
inflate_result inflate_stream(inflater& state, byte_source& source, byte_sink sink);

// The hot loop exists in a portable form and, where the processor has
// them, in one using its bit-manipulation instructions (chosen by default).
// Tests use this to run the portable form as well.
void use_portable_fast_loop(inflater& state, bool portable);

}  // namespace pelk
