// SPDX-License-Identifier: MIT
// The library's small calls: its version, the names of its status codes and
// time stamps.
#include "container/stamp.h"
#include "pelk.h"

const char* pelk_version(void) { return PELK_VERSION_STRING; }

const char* pelk_error_string(int code) {
  switch (code) {
    case PELK_OK: return "success";
    case PELK_ERROR_ARGUMENT: return "invalid argument";
    case PELK_ERROR_NO_MEMORY: return "out of memory";
    case PELK_ERROR_OUTPUT_TOO_SMALL: return "output too small";
    case PELK_ERROR_READ: return "read error";
    case PELK_ERROR_WRITE: return "write error";
    case PELK_ERROR_SIZE_CHANGED: return "the source did not have the size given";
    case PELK_ERROR_NOT_CONTAINER: return "not a pelk container";
    case PELK_ERROR_UNSUPPORTED: return "unsupported method or flags";
    case PELK_ERROR_TRUNCATED: return "truncated container";
    case PELK_ERROR_CORRUPT: return "corrupt compressed data";
    case PELK_ERROR_CHECKSUM: return "CRC-32 mismatch";
    case PELK_ERROR_SIZE_MISMATCH: return "size mismatch";
    case PELK_ERROR_TRAILING_DATA: return "unexpected bytes after the CRC-32";
    default: return "unknown error";
  }
}

uint32_t pelk_stamp_from_time(time_t t) { return pelk::stamp_from_time(t); }
