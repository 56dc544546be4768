// Internal to the container subsystem: the writer's own state and helpers.
#pragma once

#include <cstdint>
#include <string>

namespace pelk {

extern std::string input_name;  // the source path as typed
extern int store_name;
extern int input_fd;
extern uint32_t input_crc;  // CRC-32 of all source bytes read so far

// The engine's input routine: fills buffer with up to count source bytes,
// keeping input_crc up to date. It returns fewer than count only at the end
// of the input, so the engine never depends on how the system splits reads.
// A read error ends the run with a report.
int read_input_chunk(uint8_t* buffer, uint32_t count);

// The start of the last component of path: what follows its last slash,
// backslash or colon, or the whole path when it has none.
const char* path_tail(const char* path);

}  // namespace pelk
