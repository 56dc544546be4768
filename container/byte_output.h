// Internal to the container subsystem: the 16 KiB output buffer and the
// byte-level emits that sit on it, beside the bit writer's set-up.
#pragma once

#include <cstdint>

namespace pelk {

inline constexpr uint32_t out_buffer_size = 16384;

extern uint8_t out_buffer[out_buffer_size];
extern uint32_t out_count;  // bytes waiting; always below out_buffer_size between calls
extern int output_fd;       // where the buffer goes when full
extern uint64_t bytes_flushed;  // bytes written to output_fd so far

void emit_byte(uint8_t b);
void emit_word(uint32_t w);  // low 16 bits, low byte first
void flush_output();

// Writes all count bytes, retrying short and interrupted writes; a failed
// write, or one that makes no progress, ends the run with a report.
void write_all(int descriptor, const uint8_t* buffer, uint32_t count);

// Empties the bit accumulator and, unless descriptor is -1, installs the
// container's input routine as the engine's input_hook.
void bit_writer_init(int descriptor);

}  // namespace pelk
