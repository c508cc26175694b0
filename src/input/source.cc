#include "input/source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvlog {

namespace {

// "BEFORE NAME: ERROR", in one write when it fits a line, else in pieces: a
// path may be of any length. Nothing is allocated, as the C library's
// formatted writes to a descriptor would.
void tell(int fd, const char* before, const char* name, int error) {
  const char* const parts[] = {before, name, ": ", std::strerror(error), "\n"};
  char line[1024];
  const int n = std::snprintf(line, sizeof line, "%s%s%s%s%s", parts[0], parts[1], parts[2], parts[3], parts[4]);
  // Nothing is done about a failing standard error: there is nowhere left to tell.
  if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
    (void)!write(fd, line, static_cast<size_t>(n));
    return;
  }
  for (const char* part : parts) (void)!write(fd, part, std::strlen(part));
}

// True when a stop signal was pending, after letting it in.
bool stop_pending(const stop_request& stop) {
  sigset_t pending;
  if (stop.signals == nullptr || sigpending(&pending) != 0) return false;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (!sigismember(stop.signals, sig) || !sigismember(&pending, sig)) continue;
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, stop.wait_mask, &blocked);  // the handler runs here
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
    return true;
  }
  return false;
}

}  // namespace

bool stop_requested(const stop_request& stop) {
  if (stop.signal == nullptr) return false;
  if (*stop.signal == 0) stop_pending(stop);
  return *stop.signal != 0;
}

bool names_standard_input(const char* path) {
  return path == nullptr || path[0] == '\0' || std::strcmp(path, "-") == 0;
}

bool open_input(const char* path, input_source& in, int err_fd) {
  in = input_source{};
  if (names_standard_input(path)) {
    in.fd = 0;
    in.name = "standard input";
    in.is_stdin = true;
  } else {
    // Without waiting: a FIFO opened for reading would wait for its writer
    // in open(), where no stop signal can end the wait. It waits in ppoll
    // instead, when it is read.
    in.fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in.fd < 0) {
      tell(err_fd, "Could not open file ", path, errno);
      return false;
    }
    in.name = path;
  }
  struct stat st;
  const bool stat_ok = fstat(in.fd, &st) == 0;
  if (!in.is_stdin && !(stat_ok && S_ISFIFO(st.st_mode))) {
    const int flags = fcntl(in.fd, F_GETFL);
    if (flags >= 0) (void)fcntl(in.fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  if (stat_ok && S_ISREG(st.st_mode)) {
    in.is_regular = true;
    in.size = static_cast<uint64_t>(st.st_size);
    const off_t at = lseek(in.fd, 0, SEEK_CUR);
    in.start = at > 0 ? static_cast<uint64_t>(at) : 0;
    // Read far ahead: a cold file on a disk then comes at the disk's speed.
    (void)posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return true;
}

void close_input(const input_source& in) {
  if (!in.is_stdin) close(in.fd);
}

ssize_t read_input(const input_source& in, uint8_t* into, size_t size, const stop_request& stop) {
  const bool can_stop = stop.signal != nullptr;
  for (;;) {
    if (can_stop && *stop.signal) return 0;
    // A regular file never makes a read wait: a stop signal pending is let
    // in between reads.
    if (in.is_regular && can_stop && stop_pending(stop)) continue;
    if (!in.is_regular) {
      // Wait for input with the stop signals let through, then read what is there.
      pollfd p{in.fd, POLLIN, 0};
      if (ppoll(&p, 1, nullptr, can_stop ? stop.wait_mask : nullptr) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      // ppoll lets a pending signal in only when it has to wait, and a busy
      // capture pipe never makes it wait: a stop signal pending is let in here.
      if (can_stop && stop_pending(stop)) continue;
    }
    const ssize_t got = read(in.fd, into, size);
    if (got >= 0) return got;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return -1;
  }
}

void report_read_error(const input_source& in, int error_number, int err_fd) {
  tell(err_fd, "Could not read ", in.name, error_number);
}

}  // namespace dvlog
