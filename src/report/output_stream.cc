#include "report/output_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace dvlog {

int write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return errno;
        continue;
      }
      return errno;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return 0;
}

output_stream::output_stream(int out_fd, int err_fd, const char* report_path)
    : out_fd_(out_fd), err_fd_(err_fd), report_path_(report_path) {}

void output_stream::printf(const char* format, ...) {
  if (CAPACITY - used_ < PIECE_MAX) flush();
  va_list args;
  va_start(args, format);
  const size_t room = CAPACITY - used_;
  const int n = std::vsnprintf(buffer_ + used_, room, format, args);
  va_end(args);
  // Each piece is far shorter than PIECE_MAX; should one not be, it is cut.
  if (n > 0) used_ += std::min(static_cast<size_t>(n), room - 1);
}

void output_stream::write(const char* data, size_t size) {
  while (size > 0) {
    if (used_ == CAPACITY) flush();
    const size_t n = std::min(size, CAPACITY - used_);
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
  }
}

void output_stream::flush() {
  if (used_ == 0) return;
  if (failure_ == 0) {
    if (screen_line_ != nullptr) screen_line_->erase();
    failure_ = write_all(out_fd_, buffer_, used_);
    // Told at once: on a live capture the input may never end. Reading goes
    // on, so that the capture upstream is not cut off.
    if (failure_ != 0 && report_path_ != nullptr)
      dprintf(err_fd_, "Could not write report %s: %s\n", report_path_, std::strerror(failure_));
    else if (failure_ != 0)
      dprintf(err_fd_, "Could not write output: %s\n", std::strerror(failure_));
  }
  used_ = 0;
}

void output_stream::error(const char* format, ...) {
  flush();
  if (screen_line_ != nullptr) screen_line_->erase();
  va_list args;
  va_start(args, format);
  // Unbuffered and unbounded: a message may carry a path of any length.
  // Nothing is done about a failing standard error: there is nowhere left to
  // tell.
  (void)vdprintf(err_fd_, format, args);
  va_end(args);
}

}  // namespace dvlog
