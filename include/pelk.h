// SPDX-License-Identifier: MIT
/*
 * libpelk: writes and reads .plk containers, the files of the pelk and
 * unpelk programs.
 *
 * A container is a 12-byte header (magic 1F AB, method 08, flags, a packed
 * time stamp, the source size modulo 2^32), an optional zero-terminated
 * stored name, a raw deflate stream (RFC 1951) and the CRC-32 of the source.
 * pelk_compress writes, byte for byte, the container the pelk program
 * writes for the same bytes, name and stamp.
 *
 * Every function may be called from several threads at once, each on its
 * own data. Nothing is kept between calls. Functions that can fail return
 * PELK_OK (0) or one of the negative codes below; pelk_error_string names
 * them.
 */
#ifndef PELK_H
#define PELK_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

/* PELK_VERSION_MAJOR, _MINOR, _PATCH and PELK_VERSION_STRING
   ("MAJOR.MINOR.PATCH"): the version of this header. */
#include "pelk_version.h"

#if defined(_WIN32) && defined(PELK_SHARED)
#if defined(PELK_BUILDING)
#define PELK_API __declspec(dllexport)
#else
#define PELK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PELK_API __attribute__((visibility("default")))
#else
#define PELK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the library actually linked, as PELK_VERSION_STRING spells
   it; it may be newer than the header a program was built with. */
PELK_API const char *pelk_version(void);

enum pelk_status {
  PELK_OK = 0,
  PELK_ERROR_ARGUMENT = -1,         /* a required pointer is null, or options are malformed */
  PELK_ERROR_NO_MEMORY = -2,        /* working memory could not be allocated */
  PELK_ERROR_OUTPUT_TOO_SMALL = -3, /* the result does not fit the output buffer */
  PELK_ERROR_READ = -4,             /* the read callback reported an error */
  PELK_ERROR_WRITE = -5,            /* the write callback reported an error */
  PELK_ERROR_SIZE_CHANGED = -6,     /* the source did not hold source_size bytes */
  PELK_ERROR_NOT_CONTAINER = -7,    /* the data does not start with the magic bytes */
  PELK_ERROR_UNSUPPORTED = -8,      /* an unknown method or flags in the header */
  PELK_ERROR_TRUNCATED = -9,        /* the container ends too early */
  PELK_ERROR_CORRUPT = -10,         /* the compressed data is not valid deflate */
  PELK_ERROR_CHECKSUM = -11,        /* the CRC-32 does not match the restored data */
  PELK_ERROR_SIZE_MISMATCH = -12,   /* the size field does not match the restored data */
  PELK_ERROR_TRAILING_DATA = -13    /* bytes follow the CRC-32 */
};

/* A short English description of a status code, such as "output too small". */
PELK_API const char *pelk_error_string(int code);

/*
 * Reads up to capacity bytes into buffer; returns how many were read, 0 at
 * the end of the input, or a negative value on an error.
 */
typedef ptrdiff_t (*pelk_read_fn)(void *user, void *buffer, size_t capacity);

/* Takes all size bytes; returns 0, or nonzero on an error. */
typedef int (*pelk_write_fn)(void *user, const void *data, size_t size);

/* Callbacks get the `user` pointer of the call. They must not throw a C++
   exception or longjmp out of the library. */

/*
 * Settings that not every call needs. Zero-initialise one, set `size` to
 * sizeof(pelk_options), then change what you need; a null pointer means
 * the defaults. Later versions append fields; a caller built against an
 * older header passes a smaller size and gets their defaults.
 */
typedef struct pelk_options {
  size_t size;      /* sizeof(pelk_options) as the caller knows it */
  unsigned threads; /* compression threads: 0 or 1 for one (the default) */
} pelk_options;

/* --- Compression ---------------------------------------------------------- */

/*
 * The largest container pelk_compress can produce for a source of
 * source_size bytes with a stored name of name_length bytes (pass 0 when no
 * name is stored); SIZE_MAX when that does not fit in a size_t.
 */
PELK_API size_t pelk_compress_bound(size_t source_size, size_t name_length);

/*
 * Writes a whole container for the source_size bytes at source into out:
 * the header with `stamp` (pelk_stamp_from_time makes one) and the stored
 * name (none when stored_name is NULL), the deflate stream and the CRC-32.
 * Sets *out_size and returns PELK_OK, or returns a negative code
 * (PELK_ERROR_OUTPUT_TOO_SMALL when out_capacity is short of the result;
 * pelk_compress_bound is always enough).
 */
PELK_API int pelk_compress(const void *source, size_t source_size, const char *stored_name, uint32_t stamp,
                           void *out, size_t out_capacity, size_t *out_size);

/* pelk_compress with options (NULL: the defaults). */
PELK_API int pelk_compress_with(const pelk_options *options, const void *source, size_t source_size,
                                const char *stored_name, uint32_t stamp, void *out, size_t out_capacity,
                                size_t *out_size);

/*
 * The same container, streamed in constant memory: the source comes from
 * `read` until it returns 0, the container goes to `write` in pieces of at
 * most 16 KiB. source_size goes into the header's size field (its low 32
 * bits) before the source is read; a source that then yields a different
 * number of bytes ends with PELK_ERROR_SIZE_CHANGED. A failed read or write
 * ends with PELK_ERROR_READ or PELK_ERROR_WRITE. After any error, what was
 * written is not a valid container.
 */
PELK_API int pelk_compress_stream(pelk_read_fn read, pelk_write_fn write, void *user, uint64_t source_size,
                                  const char *stored_name, uint32_t stamp);

/* pelk_compress_stream with options (NULL: the defaults). */
PELK_API int pelk_compress_stream_with(const pelk_options *options, pelk_read_fn read, pelk_write_fn write,
                                       void *user, uint64_t source_size, const char *stored_name, uint32_t stamp);

/* --- Reading containers --------------------------------------------------- */

typedef struct pelk_header {
  uint32_t stamp;        /* packed local time of compression */
  uint32_t size_field;   /* the source's size modulo 2^32 */
  int has_name;          /* nonzero when a stored name follows the size */
  const char *name;      /* the stored name, zero-terminated, inside the caller's data; NULL if none */
  size_t name_length;    /* its length in bytes, without the zero */
  size_t header_size;    /* bytes before the deflate stream */
} pelk_header;

/*
 * Reads the header at the start of data without decoding anything.
 * PELK_ERROR_TRUNCATED means data ends inside the header: more bytes may
 * complete it (so an empty input, or 1F alone, is truncated, not foreign).
 * The name is not checked: before creating a file under it, refuse path
 * separators, "." and "..", and control characters.
 */
PELK_API int pelk_read_header(const void *data, size_t size, pelk_header *header);

/*
 * Restores the source from a whole container in memory into out, checking
 * the stream, the CRC-32 and the size field. Sets *out_size and returns
 * PELK_OK, or returns a negative code; on an error the bytes in out are
 * not to be used, and *out_size is not set. The size field is the source
 * size modulo 2^32, so it suggests the room needed for sources under 4 GiB.
 * The faults of the container are reported in the order of its bytes, the
 * first deciding.
 */
PELK_API int pelk_decompress(const void *container, size_t container_size, void *out, size_t out_capacity,
                             size_t *out_size);

/*
 * Restores the source of a container read from `read`, in constant memory,
 * handing it to `write` as it is decoded. The checks come at the end: a
 * return other than PELK_OK means that what was written must not be used.
 */
PELK_API int pelk_decompress_stream(pelk_read_fn read, pelk_write_fn write, void *user);

/* --- Time stamps ---------------------------------------------------------- */

/*
 * The local time of t packed as the header stores it: bits 0-4 seconds / 2,
 * 5-10 minutes, 11-15 hours, 16-20 day of the month - 1, 21-25 month
 * (January 0), 26-31 (year - 1980) mod 64. 0 when t cannot be converted.
 */
PELK_API uint32_t pelk_stamp_from_time(time_t t);

#ifdef __cplusplus
}
#endif

#endif /* PELK_H */
