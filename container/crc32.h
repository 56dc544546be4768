// CRC-32 of the source bytes, as the container's trailer carries it.
#pragma once

#include <cstdint>

namespace pelk {

// With a null buffer: restarts the checksum and returns 0. Otherwise runs
// the checksum over count more bytes and returns the CRC-32 of every byte
// passed since the restart (count 0 returns it unchanged).
uint32_t update_checksum(const uint8_t* buffer, uint32_t count);

}  // namespace pelk
