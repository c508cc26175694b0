#include "report/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "report/output_stream.h"

namespace dvlog {

namespace {

// The directory part of a path, into out: "." when it has none.
void directory_of(const char* path, char* out, size_t size) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::snprintf(out, size, ".");
  } else {
    std::snprintf(out, size, "%.*s", slash == path ? 1 : static_cast<int>(slash - path), path);
  }
}

// A descriptor of 3 or above: with standard input closed, a new file could
// take descriptor 0 and be read as the stream.
int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

}  // namespace

bool report_file::fail(int error) {
  tell_report_failure(err_fd_, path_, error);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  return false;
}

report_file::report_file(const char* path, int out_fd, int err_fd) : path_(path), err_fd_(err_fd) {
  struct stat st, out_st;
  if (stat(path, &st) == 0) {
    if (fstat(out_fd, &out_st) == 0 && st.st_dev == out_st.st_dev && st.st_ino == out_st.st_ino) {
      // The same file as the log: the report follows it there.
      direct_ = true;
      fd_ = above_standard(fcntl(out_fd, F_DUPFD_CLOEXEC, 3));
      if (fd_ < 0) fail(errno);
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      direct_ = true;
      fd_ = above_standard(open(path, O_WRONLY | O_CLOEXEC));
      if (fd_ < 0) fail(errno);
      return;
    }
  }
  // A link to an existing report is kept: the file it leads to is replaced.
  if (realpath(path, target_) == nullptr) {
    if (errno != ENOENT || std::strlen(path) >= sizeof target_) {
      fail(errno == ENOENT ? ENAMETOOLONG : errno);
      return;
    }
    std::strcpy(target_, path);
  }
  // In the report's directory, so that the rename stays within one file system.
  char directory[PATH_MAX];
  directory_of(target_, directory, sizeof directory);
  fd_ = above_standard(open(directory, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (fd_ >= 0) {
    unnamed_ = true;
    return;
  }
  // File systems without unnamed files: a named one, removed on failure.
  const int n = std::snprintf(temp_, sizeof temp_, "%s.XXXXXX", target_);
  if (n < 0 || static_cast<size_t>(n) >= sizeof temp_) {
    fail(ENAMETOOLONG);
    return;
  }
  fd_ = above_standard(mkstemp(temp_));
  if (fd_ < 0) {
    fail(errno);
    return;
  }
  // mkstemp makes it private to its owner; a report is an ordinary file.
  const mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd_, 0666 & ~mask);
}

report_file::~report_file() {
  if (fd_ < 0) return;
  close(fd_);
  if (!direct_ && !unnamed_) unlink(temp_);
}

bool report_file::commit() {
  if (fd_ < 0) return false;
  if (direct_) {
    const int closed = close(fd_);
    fd_ = -1;
    return closed == 0 || fail(errno);
  }
  // On the disk before it takes the report's name.
  if (fsync(fd_) != 0 && errno != EINVAL) return fail(errno);
  if (unnamed_) {
    // A name for the unnamed file, beside the report, then the rename.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    for (int attempt = 0;; ++attempt) {
      const int n = std::snprintf(temp_, sizeof temp_, "%s.%d-%d", target_, static_cast<int>(getpid()), attempt);
      if (n < 0 || static_cast<size_t>(n) >= sizeof temp_) return fail(ENAMETOOLONG);
      if (linkat(AT_FDCWD, self, AT_FDCWD, temp_, AT_SYMLINK_FOLLOW) == 0) break;
      if (errno != EEXIST || attempt >= 100) return fail(errno);
    }
    unnamed_ = false;
  }
  const int closed = close(fd_);
  const int close_errno = errno;
  fd_ = -1;
  if (closed != 0 || std::rename(temp_, target_) != 0) {
    const int error = closed != 0 ? close_errno : errno;
    unlink(temp_);
    return fail(error);
  }
  return true;
}

}  // namespace dvlog
