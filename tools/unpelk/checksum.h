// CRC-32 of the decoded bytes, to check against the container's trailer.
//
// The same checksum as the compressor's (reflected polynomial EDB88320,
// preset and final complement), but without its process-wide register and
// eight bytes per step, since the reader checks every byte it decodes and
// should not be slowed down by it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk {

// The CRC-32 of the bytes behind `crc` followed by data[0..size); start
// from 0 for the CRC of data alone.
uint32_t crc32_extend(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace pelk
