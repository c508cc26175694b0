#include "input/source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvlog {

bool open_input(const char* path, input_source& in, int err_fd) {
  in = input_source{};
  if (path == nullptr || path[0] == '\0' || std::strcmp(path, "-") == 0) {
    in.fd = 0;
    in.name = "standard input";
    in.is_stdin = true;
  } else {
    in.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) {
      dprintf(err_fd, "Could not open file %s: %s\n", path, std::strerror(errno));
      return false;
    }
    in.name = path;
  }
  struct stat st;
  if (fstat(in.fd, &st) == 0 && S_ISREG(st.st_mode)) {
    in.is_regular = true;
    in.size = static_cast<uint64_t>(st.st_size);
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
    if (!in.is_regular) {
      // Wait for input with the stop signals let through, then read what is there.
      pollfd p{in.fd, POLLIN, 0};
      if (ppoll(&p, 1, nullptr, can_stop ? stop.wait_mask : nullptr) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
    }
    const ssize_t got = read(in.fd, into, size);
    if (got >= 0) return got;
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return -1;
  }
}

void report_read_error(const input_source& in, int error_number, int err_fd) {
  dprintf(err_fd, "Could not read %s: %s\n", in.name, std::strerror(error_number));
}

}  // namespace dvlog
