// The container subsystem as the rest of the program sees it.
//
// The driver hands it two open descriptors and gets one complete container
// written: header, deflate stream, CRC-32 trailer. The engine gets its input
// through `input_hook` and produces all of its output through the bit writer
// declared here; every failure ends in one of the reports at the bottom.
#pragma once

#include <cstdint>

namespace pelk {

// --- For the driver ---------------------------------------------------------

// Writes one whole container to output_fd, compressing everything readable
// from input_fd. Only the low 32 bits of source_size fit the header; a reader
// compares sizes modulo 2^32. Returns the number of source bytes read: when
// that differs from source_size, the source changed as it was read, and the
// size field holds what was read if the output could take it back. Failures
// end the run instead.
uint64_t write_container(int input_fd, int output_fd, uint64_t source_size,
                         uint32_t time_stamp);

// The source path as typed; the header stores its last component and error
// reports name it.
void set_input_name(const char* path);

// Nonzero: the header carries the stored name (the driver always sets it).
void set_store_name(int flag);

// --- For the engine: input --------------------------------------------------

// Reads up to count bytes into buffer and returns how many it stored;
// 0 means the input has ended.
using input_function = int (*)(uint8_t* buffer, uint32_t count);
extern input_function input_hook;

// --- For the engine: the bit stream -----------------------------------------

// The bit writer's pending bits. Internal to the bit writer; declared here
// only so that emit_bits can be inlined into the engine's hot loops.
namespace pending_bits {
extern uint64_t accumulator;  // the earliest pending bit in bit 0
extern int count;             // 0..31 between calls
void spill();                 // sends the low 32 bits to the output buffer
}  // namespace pending_bits

// Appends the low `length` bits of value (1..32 bits), least significant
// bit first. The value must fit in `length` bits.
inline void emit_bits(uint32_t value, int length) {
  pending_bits::accumulator |= uint64_t{value} << pending_bits::count;
  pending_bits::count += length;
  if (pending_bits::count >= 32) pending_bits::spill();
}

// The low `length` bits of code in reverse order (length >= 1). Huffman
// codes are stored reversed so that emit_bits sends them most significant
// bit first, as deflate requires.
uint32_t reverse_bits(uint32_t code, int length);

// Completes the last partial byte with zero bits.
void align_to_byte();

// Aligns to a byte, optionally writes the LEN/NLEN pair of a stored block,
// then copies the bytes unchanged.
void emit_stored(const uint8_t* buffer, uint32_t length, bool with_header);

// --- Failure ----------------------------------------------------------------

// "\n<program>: <input name>: <message>\n" on standard error, exit status 1.
[[noreturn]] void report_error(const char* message);

// "\n<program>: <file>: <reason>\n" on standard error, exit status 1.
[[noreturn]] void report_file_error(const char* file, const char* reason);

}  // namespace pelk
