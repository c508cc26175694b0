#include "output/byte_copy.h"

#include <cerrno>
#include <unistd.h>

#include "output/output_stream.h"

namespace dvlog {

int copy_range(int from_fd, uint64_t from, int to_fd, uint64_t length, uint8_t* buffer, size_t buffer_size,
               bool* reading) {
  off_t in = static_cast<off_t>(from);
  *reading = false;
  while (length > 0) {
    const ssize_t n = copy_file_range(from_fd, &in, to_fd, nullptr, length, 0);
    if (n > 0) {
      length -= static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) return *reading = true, EIO;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) return errno;
    break;  // not between these files: through the buffer
  }
  while (length > 0) {
    const ssize_t n = pread(from_fd, buffer, length < buffer_size ? static_cast<size_t>(length) : buffer_size, in);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return *reading = true, n < 0 ? errno : EIO;
    if (const int error = write_all(to_fd, reinterpret_cast<const char*>(buffer), static_cast<size_t>(n))) return error;
    in += n;
    length -= static_cast<uint64_t>(n);
  }
  return 0;
}

}  // namespace dvlog
