#include "output/output_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <climits>
#include <ctime>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvlog {

namespace {

// Once a stop is asked for, a reader that takes nothing for this long is
// given up; one that reads, however slowly, gets the rest.
constexpr int GIVE_UP_MS = 1000;

int64_t now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000 + 1;  // never 0
}

// Lets a stop signal that is pending (blocked) reach its handler.
void let_stop_in(const wait_control& wait) {
  if (wait.wait_mask == nullptr) return;
  sigset_t blocked;
  sigprocmask(SIG_SETMASK, wait.wait_mask, &blocked);
  sigprocmask(SIG_SETMASK, &blocked, nullptr);
}

}  // namespace

const char* error_text(int error) { return error == EINTR ? "interrupted" : std::strerror(error); }

int write_all(int fd, const char* data, size_t size, const wait_control* wait, bool may_block) {
  const bool watched = wait != nullptr && wait->stop != nullptr;
  int64_t interrupted_since = 0;
  while (size > 0) {
    size_t piece = size;
    if (watched && (may_block || wait->stopped())) {
      pollfd p{fd, POLLOUT, 0};
      const int ready = wait->stopped() ? poll(&p, 1, GIVE_UP_MS) : ppoll(&p, 1, nullptr, wait->wait_mask);
      if (ready == 0) return EINTR;
      if (ready < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      // A pipe with room takes this much at once, without waiting.
      piece = std::min(size, size_t{PIPE_BUF});
    }
    const ssize_t done = ::write(fd, data, piece);
    if (done >= 0) interrupted_since = 0;
    if (done < 0) {
      if (errno == EINTR) {
        // No stop signal interrupts a write (they are blocked), but a file
        // system may fail every write so: a stop pending is let in, and once
        // one came (or at once, for a write no stop watches: a message),
        // a second of such failures gives the write up.
        if (watched && !wait->stopped()) let_stop_in(*wait);
        if (watched && !wait->stopped()) continue;
        if (interrupted_since == 0) interrupted_since = now_ms();
        if (now_ms() - interrupted_since < GIVE_UP_MS) continue;
        return EINTR;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        if (!watched && poll(&p, 1, -1) < 0 && errno != EINTR) return errno;
        continue;
      }
      return errno;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return 0;
}

void write_message(int fd, const char* const* parts, size_t count) {
  char line[1024];
  size_t used = 0;
  bool fits = true;
  for (size_t i = 0; i < count && fits; ++i) {
    const size_t n = std::strlen(parts[i]);
    fits = used + n < sizeof line;
    if (fits) std::memcpy(line + used, parts[i], n), used += n;
  }
  // Nothing is done about a failing standard error: there is nowhere left to tell.
  if (fits) {
    (void)write_all(fd, line, used);
    return;
  }
  for (size_t i = 0; i < count; ++i) (void)write_all(fd, parts[i], std::strlen(parts[i]));
}

const char* stop_signal_name(int sig) {
  return sig == 0 ? nullptr : sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "a signal";
}

void tell_write_failure(int fd, const char* kind, const char* path, int error) {
  const char* const parts[] = {"Could not write ", kind, " ", path, ": ", error_text(error), "\n"};
  write_message(fd, parts, std::size(parts));
}

output_stream::output_stream(int out_fd, int err_fd, const char* path, const wait_control* wait, const char* kind)
    : out_fd_(out_fd), err_fd_(err_fd), path_(path), kind_(kind), wait_(wait) {
  struct stat st;
  may_block_ = fstat(out_fd, &st) != 0 || !S_ISREG(st.st_mode);
}


void output_stream::printf(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int n = std::vsnprintf(buffer_ + used_, CAPACITY - used_, format, args);
  if (n > 0 && static_cast<size_t>(n) >= CAPACITY - used_ && used_ > 0) {
    // It did not fit after what is gathered: write that out and format again.
    flush();
    n = std::vsnprintf(buffer_, CAPACITY, format, again);
  }
  va_end(again);
  va_end(args);
  if (n > 0) used_ += std::min(static_cast<size_t>(n), CAPACITY - 1 - used_);
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
    failure_ = write_all(out_fd_, buffer_, used_, wait_, may_block_);
    // Told at once: on a live capture the input may never end. Reading goes
    // on, so that the capture upstream is not cut off.
    if (failure_ != 0 && path_ != nullptr) {
      tell_write_failure(err_fd_, kind_, path_, failure_);
    } else if (failure_ != 0) {
      const char* const parts[] = {"Could not write output: ", error_text(failure_), "\n"};
      write_message(err_fd_, parts, std::size(parts));
    }
  }
  used_ = 0;
}

void output_stream::error(const char* format, ...) {
  flush();
  if (screen_line_ != nullptr) screen_line_->erase();
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // Nothing is done about a failing standard error: there is nowhere left to tell.
  if (n > 0) (void)write_all(err_fd_, line, std::min(static_cast<size_t>(n), sizeof line - 1), wait_, true);
}

}  // namespace dvlog
