// Test-only shared library, preloaded into a real pelk process: it makes
// read and write misbehave on the run's own files (descriptors 3 and up;
// the standard streams pass through) as PELK_FAULT says, and logs every such
// call to PELK_FAULT_LOG as "r|w <count asked> <result>".
//
//   read-fail N E   the Nth read fails with errno E
//   write-fail N E  the Nth write fails with errno E; E = 0: it returns 0
//   read-max N      every read returns at most N bytes
//   write-max N     every write stores at most N bytes
//   eintr N         every Nth call (reads and writes together) fails with EINTR
//   grow N          at the first end of the input, N more bytes appear
//   shrink N        the input ends after N bytes
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using read_fn = ssize_t (*)(int, void*, size_t);
using write_fn = ssize_t (*)(int, const void*, size_t);

struct fault_plan {
  char kind[16] = "";
  long n = 0;
  int error = 0;
  int log_fd = -1;
  long reads = 0, writes = 0, calls = 0, delivered = 0, grown = 0;
  read_fn real_read = nullptr;
  write_fn real_write = nullptr;
};

fault_plan& plan() {
  static fault_plan p = [] {
    fault_plan q;
    q.real_read = reinterpret_cast<read_fn>(dlsym(RTLD_NEXT, "read"));
    q.real_write = reinterpret_cast<write_fn>(dlsym(RTLD_NEXT, "write"));
    if (const char* f = std::getenv("PELK_FAULT")) std::sscanf(f, "%15s %ld %d", q.kind, &q.n, &q.error);
    if (const char* log = std::getenv("PELK_FAULT_LOG")) {
      q.log_fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    return q;
  }();
  return p;
}

bool is(const char* kind) { return std::strcmp(plan().kind, kind) == 0; }

bool interrupted() {
  fault_plan& p = plan();
  return is("eintr") && p.n > 1 && ++p.calls % p.n == 0;
}

ssize_t logged(char op, size_t count, ssize_t result) {
  fault_plan& p = plan();
  if (p.log_fd >= 0) {
    const int saved = errno;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%c %zu %zd\n", op, count, result);
    p.real_write(p.log_fd, line, static_cast<size_t>(length));
    errno = saved;
  }
  return result;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  fault_plan& p = plan();
  if (fd < 3 || fd == p.log_fd) return p.real_read(fd, buffer, count);
  if (interrupted()) return errno = EINTR, logged('r', count, -1);
  if (is("read-fail") && ++p.reads == p.n) return errno = p.error, logged('r', count, -1);
  if (is("read-max") && count > static_cast<size_t>(p.n)) count = static_cast<size_t>(p.n);
  if (is("shrink") && count > static_cast<size_t>(p.n - p.delivered)) {
    count = static_cast<size_t>(p.n - p.delivered);
    if (count == 0) return logged('r', 0, 0);
  }
  ssize_t got = p.real_read(fd, buffer, count);
  if (got == 0 && is("grow") && p.grown < p.n) {
    auto* out = static_cast<unsigned char*>(buffer);
    for (got = 0; static_cast<size_t>(got) < count && p.grown < p.n; ++got, ++p.grown) {
      out[got] = static_cast<unsigned char>('A' + p.grown % 26);
    }
  }
  if (got > 0) p.delivered += got;
  return logged('r', count, got);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  fault_plan& p = plan();
  if (fd < 3 || fd == p.log_fd) return p.real_write(fd, buffer, count);
  if (interrupted()) return errno = EINTR, logged('w', count, -1);
  if (is("write-fail") && ++p.writes == p.n) {
    if (p.error == 0) return logged('w', count, 0);
    return errno = p.error, logged('w', count, -1);
  }
  const size_t asked = count;
  if (is("write-max") && count > static_cast<size_t>(p.n)) count = static_cast<size_t>(p.n);
  return logged('w', asked, p.real_write(fd, buffer, count));
}
