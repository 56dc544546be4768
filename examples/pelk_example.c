// SPDX-License-Identifier: MIT
/*
 * pelk_example FILE: compresses FILE into FILE.plk and restores it, both
 * through libpelk's streaming calls over stdio, then checks the result.
 *
 * pelk_compress_stream reads FILE and writes the container; pelk_read_header
 * shows the container's header; pelk_decompress_stream restores it into a
 * callback that compares every byte with FILE as it arrives, so nothing is
 * held in memory whatever the file's size. Exit status 0 when the restored
 * bytes equal FILE and every check of the container passed, 1 otherwise.
 */
#define _POSIX_C_SOURCE 200809L

#include <pelk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

/* What the callbacks of one call share through their `user` pointer. */
struct io {
  FILE *in;       /* read by read_in */
  FILE *out;      /* written by write_out */
  FILE *original; /* compared by compare_with_original */
  unsigned long long written;
  int differs;
};

static ptrdiff_t read_in(void *user, void *buffer, size_t capacity) {
  struct io *io = user;
  size_t got = fread(buffer, 1, capacity, io->in);
  return got == 0 && ferror(io->in) ? -1 : (ptrdiff_t)got;
}

static int write_out(void *user, const void *data, size_t size) {
  struct io *io = user;
  io->written += size;
  return fwrite(data, 1, size, io->out) == size ? 0 : -1;
}

static int compare_with_original(void *user, const void *data, size_t size) {
  struct io *io = user;
  const unsigned char *bytes = data;
  unsigned char expected[4096];
  while (size > 0 && !io->differs) {
    size_t want = size < sizeof expected ? size : sizeof expected;
    if (fread(expected, 1, want, io->original) != want || memcmp(expected, bytes, want) != 0) io->differs = 1;
    bytes += want;
    size -= want;
  }
  /* Decoding goes on either way: a restored file that is too long must
     still be seen by the CRC-32 and size checks at the end. */
  return 0;
}

static int fail(const char *file, const char *reason) {
  fprintf(stderr, "pelk_example: %s: %s\n", file, reason);
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: pelk_example FILE\n");
    return 2;
  }
  const char *path = argv[1];
  const char *slash = strrchr(path, '/');
  const char *name = slash != NULL ? slash + 1 : path;
  char *container_path = malloc(strlen(path) + sizeof ".plk");
  if (container_path == NULL) return fail(path, "out of memory");
  strcpy(container_path, path);
  strcat(container_path, ".plk");

  /* Compress. */
  struct stat info;
  if (stat(path, &info) != 0) return fail(path, "cannot read its size");
  struct io io = {fopen(path, "rb"), fopen(container_path, "wb"), NULL, 0, 0};
  if (io.in == NULL) return fail(path, "cannot open");
  if (io.out == NULL) return fail(container_path, "cannot create");
  int status = pelk_compress_stream(read_in, write_out, &io, (uint64_t)info.st_size, name,
                                    pelk_stamp_from_time(time(NULL)));
  if (fclose(io.out) != 0 && status == PELK_OK) status = PELK_ERROR_WRITE;
  fclose(io.in);
  if (status != PELK_OK) return fail(container_path, pelk_error_string(status));

  /* Show the header, from the container's first bytes. */
  FILE *container = fopen(container_path, "rb");
  if (container == NULL) return fail(container_path, "cannot open");
  unsigned char head[512];
  size_t head_size = fread(head, 1, sizeof head, container);
  pelk_header header;
  status = pelk_read_header(head, head_size, &header);
  if (status != PELK_OK) return fail(container_path, pelk_error_string(status));
  printf("%s: libpelk %s, stored name \"%.*s\", size field %lu, stream at byte %lu\n", container_path,
         pelk_version(), (int)header.name_length, header.has_name ? header.name : "",
         (unsigned long)header.size_field, (unsigned long)header.header_size);

  /* Restore and compare. */
  rewind(container);
  const unsigned long long container_size = io.written;
  io = (struct io){container, NULL, fopen(path, "rb"), 0, 0};
  if (io.original == NULL) return fail(path, "cannot open");
  status = pelk_decompress_stream(read_in, compare_with_original, &io);
  int longer = fgetc(io.original) != EOF; /* the original has bytes the restored file lacks */
  fclose(io.original);
  fclose(container);
  if (status != PELK_OK) return fail(container_path, pelk_error_string(status));
  if (io.differs || longer) return fail(container_path, "restored bytes differ from the original");
  printf("%s: %llu bytes, %llu in the container, restored exactly\n", path,
         (unsigned long long)info.st_size, container_size);
  free(container_path);
  return 0;
}
