#include "report/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvlog {

report_file::report_file(const char* path, int err_fd) : path_(path), err_fd_(err_fd) {
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    direct_ = true;
    fd_ = open(path, O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(errno));
    return;
  }
  // A link to the report is kept: the file it leads to is replaced.
  if (realpath(path, target_) == nullptr) {
    if (errno != ENOENT || std::strlen(path) >= sizeof target_) {
      dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(errno == ENOENT ? ENAMETOOLONG : errno));
      return;
    }
    std::strcpy(target_, path);
  }
  // Beside the report, so that the rename stays within one file system.
  const int n = std::snprintf(temp_, sizeof temp_, "%s.XXXXXX", target_);
  if (n < 0 || static_cast<size_t>(n) >= sizeof temp_) {
    dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(ENAMETOOLONG));
    return;
  }
  fd_ = mkstemp(temp_);
  if (fd_ < 0) {
    dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(errno));
    return;
  }
  // mkstemp makes it private to its owner; a report is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

report_file::~report_file() {
  if (fd_ < 0) return;
  close(fd_);
  if (!direct_) unlink(temp_);
}

bool report_file::commit() {
  if (fd_ < 0) return false;
  const int closed = close(fd_);
  const int close_errno = errno;
  fd_ = -1;
  if (direct_) {
    if (closed == 0) return true;
    dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(close_errno));
    return false;
  }
  if (closed != 0 || std::rename(temp_, target_) != 0) {
    dprintf(err_fd_, "Could not write report %s: %s\n", path_, std::strerror(closed != 0 ? close_errno : errno));
    unlink(temp_);
    return false;
  }
  return true;
}

}  // namespace dvlog
