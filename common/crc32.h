// SPDX-License-Identifier: MIT
// CRC-32 of the source bytes, as the container's trailer carries it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk {

// The CRC-32 of the bytes behind `crc` followed by data[0..size); start
// from 0 for the CRC of data alone.
uint32_t crc32_extend(uint32_t crc, const uint8_t* data, size_t size);

// The same, by the tables alone whatever the processor has: the path that
// runs where carry-less multiplication is missing, so that tests on a
// processor with it can check one against the other.
uint32_t crc32_extend_portable(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace pelk
