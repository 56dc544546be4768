// SPDX-License-Identifier: MIT
// Test-only shared library, preloaded into a real pelk or unpelk process: it
// makes read and write misbehave on the run's own files (descriptors 3 and
// up; the standard streams pass through), and the calls that give a file
// its name, as PELK_FAULT says, and logs each read and write on those files
// to PELK_FAULT_LOG as "r|w <count asked> <result>".
//
//   read-fail N E, write-fail N E  the Nth read or write fails with errno E;
//                                  a write with E = 0 returns 0 instead
//   read-max N, write-max N        every read or write moves at most N bytes
//   eintr N                        every Nth call fails with EINTR
//   grow N, shrink N [E]           N more bytes appear at the end of the
//                                  input; the input ends after N bytes, and
//                                  with E every pwrite fails with errno E
//   signal N S                     the Nth read raises signal S first
//   no-hard-links N E              link() fails with EPERM, as on a file
//                                  system without hard links; with N = 1 a
//                                  file appears under the new name just
//                                  before a rename moves anything there;
//                                  with E renameat2() fails with errno E
//   new-fail N                     once the input has begun to arrive, the
//                                  Nth malloc fails (logged "new N"), so
//                                  operator new throws std::bad_alloc
//   replace N FROM TO              the Nth read first renames FROM over TO,
//                                  as an editor saving a file the run is
//                                  reading does
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

ssize_t (*real_read)(int, void*, size_t);
ssize_t (*real_write)(int, const void*, size_t);
int (*real_rename)(const char*, const char*);
int (*real_renameat2)(int, const char*, int, const char*, unsigned);
char kind[16];
char replace_from[256], replace_to[256];
long n, calls, reads, writes, delivered, grown;
int error, log_fd = -1;

__attribute__((constructor)) void load_plan() {
  real_read = reinterpret_cast<decltype(real_read)>(dlsym(RTLD_NEXT, "read"));
  real_write = reinterpret_cast<decltype(real_write)>(dlsym(RTLD_NEXT, "write"));
  real_rename = reinterpret_cast<decltype(real_rename)>(dlsym(RTLD_NEXT, "rename"));
  real_renameat2 = reinterpret_cast<decltype(real_renameat2)>(dlsym(RTLD_NEXT, "renameat2"));
  if (const char* plan = std::getenv("PELK_FAULT")) {
    std::sscanf(plan, "%15s %ld %d", kind, &n, &error);
    if (std::strcmp(kind, "replace") == 0) std::sscanf(plan, "%*s %*d %255s %255s", replace_from, replace_to);
  }
  if (const char* log = std::getenv("PELK_FAULT_LOG")) log_fd = open(log, O_WRONLY | O_CREAT | O_APPEND, 0600);
}

bool is(const char* k) { return std::strcmp(kind, k) == 0; }
bool ours(int fd) { return fd >= 3 && fd != log_fd; }
bool interrupted() { return is("eintr") && n > 1 && ++calls % n == 0; }

ssize_t logged(char op, size_t count, ssize_t result, int fail = 0) {
  if (log_fd >= 0) dprintf(log_fd, "%c %zu %zd\n", op, count, result);
  if (fail != 0) errno = fail;  // last: logging may change errno
  return result;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  if (!ours(fd)) return real_read(fd, buffer, count);
  if (interrupted()) return logged('r', count, -1, EINTR);
  if (is("read-fail") && ++reads == n) return logged('r', count, -1, error);
  if (is("signal") && ++reads == n) raise(error);
  if (is("replace") && ++reads == n) real_rename(replace_from, replace_to);
  if (is("read-max")) count = std::min<size_t>(count, n);
  if (is("shrink")) count = std::min<size_t>(count, n - delivered);
  ssize_t got = real_read(fd, buffer, count);
  if (got == 0 && is("grow")) {
    auto* out = static_cast<char*>(buffer);
    while (static_cast<size_t>(got) < count && grown < n) out[got++] = static_cast<char>('A' + grown++ % 26);
  }
  delivered += std::max<ssize_t>(got, 0);
  return logged('r', count, got);
}

// Memory that runs out midway through a run: only allocations after the
// first bytes of the input count, so the run has started when one fails.
// malloc is the one call every allocation reaches (the programs link the
// C++ library in, so its operator new cannot be replaced from here; it
// throws std::bad_alloc when malloc fails). The count is shared by every
// thread; which thread's allocation fails varies, and each must cope.
extern "C" void* __libc_malloc(size_t size);

namespace {

long allocations;  // counted atomically: the workers allocate side by side

}  // namespace

extern "C" void* malloc(size_t size) {
  if (is("new-fail") && __atomic_load_n(&delivered, __ATOMIC_RELAXED) > 0 &&
      __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED) == n) {
    if (log_fd >= 0) dprintf(log_fd, "new %ld\n", n);
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  if (!ours(fd)) return real_write(fd, buffer, count);
  if (interrupted()) return logged('w', count, -1, EINTR);
  if (is("write-fail") && ++writes == n) return logged('w', count, error == 0 ? 0 : -1, error);
  return logged('w', count, real_write(fd, buffer, is("write-max") ? std::min<size_t>(count, n) : count));
}

// The size field written back where it stands, under either of the names
// the C library gives the call.
namespace {

bool pwrite_fails(int fd) {
  if (!ours(fd) || !is("shrink") || error == 0) return false;
  errno = error;
  return true;
}

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  using pwrite_function = ssize_t (*)(int, const void*, size_t, off_t);
  static const auto real_pwrite = reinterpret_cast<pwrite_function>(dlsym(RTLD_NEXT, "pwrite"));
  return pwrite_fails(fd) ? -1 : real_pwrite(fd, buffer, count, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
  using pwrite_function = ssize_t (*)(int, const void*, size_t, off64_t);
  static const auto real_pwrite64 = reinterpret_cast<pwrite_function>(dlsym(RTLD_NEXT, "pwrite64"));
  return pwrite_fails(fd) ? -1 : real_pwrite64(fd, buffer, count, offset);
}

namespace {

// Another process creating the name between a check and a rename.
void appear(const char* name) {
  if (!is("no-hard-links") || n != 1) return;
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return;
  static const char text[] = "appeared meanwhile\n";
  real_write(fd, text, sizeof text - 1);
  close(fd);
}

}  // namespace

extern "C" int link(const char* from, const char* to) noexcept {
  if (is("no-hard-links")) {
    errno = EPERM;
    return -1;
  }
  using link_function = int (*)(const char*, const char*);
  static const auto real_link = reinterpret_cast<link_function>(dlsym(RTLD_NEXT, "link"));
  return real_link(from, to);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  appear(to);
  return real_rename(from, to);
}

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) noexcept {
  if (is("no-hard-links") && error != 0) {
    errno = error;
    return -1;
  }
  appear(to);
  return real_renameat2(from_dir, from, to_dir, to, flags);
}
