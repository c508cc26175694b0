#include "report/output.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

namespace dvlog {

namespace {

// Room for many report lines; a line is at most a few hundred bytes.
constexpr size_t OUT_CAPACITY = 8192;
constexpr size_t LINE_MAX = 512;

char out_buffer[OUT_CAPACITY];
size_t out_used;
int out_fd = 1;
int err_fd = 2;
int out_errno;  // first failure writing standard output, 0 if none

// Writes all of data, retrying interrupted and short writes. Returns 0 or errno.
int write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return 0;
}

void flush_out() {
  if (out_used == 0) return;
  // After a failure the output is incomplete anyway: stop writing, keep the cause.
  if (out_errno == 0) out_errno = write_all(out_fd, out_buffer, out_used);
  out_used = 0;
}

}  // namespace

void output_reset(int out, int err) {
  out_fd = out;
  err_fd = err;
  out_used = 0;
  out_errno = 0;
}

void out_printf(const char* format, ...) {
  if (OUT_CAPACITY - out_used < LINE_MAX) flush_out();
  va_list args;
  va_start(args, format);
  const size_t room = OUT_CAPACITY - out_used;
  const int n = std::vsnprintf(out_buffer + out_used, room, format, args);
  va_end(args);
  // Each piece is far shorter than LINE_MAX; should one not be, it is cut.
  if (n > 0) out_used += std::min(static_cast<size_t>(n), room - 1);
}

void err_printf(const char* format, ...) {
  flush_out();
  va_list args;
  va_start(args, format);
  // Unbuffered and unbounded: a message may carry a path of any length. Nothing
  // is done about a failing standard error: there is nowhere left to tell.
  (void)vdprintf(err_fd, format, args);
  va_end(args);
}

void out_end_sequence() { flush_out(); }

int out_finish() {
  flush_out();
  return out_errno;
}

}  // namespace dvlog
