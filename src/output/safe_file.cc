#include "output/safe_file.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <csignal>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dv/dif.h"
#include "dv/recognizer.h"

namespace dvlog {

namespace {

// A descriptor of 3 or above: with standard input closed, a new file could
// take descriptor 0 and be read as the stream.
int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool same(const struct stat& st, const file_id& id) { return st.st_dev == id.device && st.st_ino == id.inode; }

// Enough of a file to tell whether it holds DV: two sequences' worth.
constexpr size_t DV_SNIFF_SIZE = 2 * SEQUENCE_SIZE;

// The part of the name after the last '/', and the directory before it ("."
// when there is none, "/" for a name at the root).
void split_path(const char* path, char* directory, size_t directory_size, const char** name) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::snprintf(directory, directory_size, ".");
    *name = path;
  } else {
    std::snprintf(directory, directory_size, "%.*s", slash == path ? 1 : static_cast<int>(slash - path), path);
    *name = slash + 1;
  }
}

// Waits a tenth of a second, or less when a stop signal comes.
void pause_briefly(const wait_control* wait) {
  const timespec tenth{0, 100'000'000};
  (void)ppoll(nullptr, 0, &tenth, wait ? wait->wait_mask : nullptr);
}

// Whether a stop signal came: the stop signals are blocked outside waits,
// so one that came meanwhile is let in first (its handler runs).
bool stop_came(const wait_control* wait) {
  if (wait == nullptr || wait->stop == nullptr) return false;
  if (wait->wait_mask != nullptr) {
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, wait->wait_mask, &blocked);
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
  }
  return wait->stopped();
}

}  // namespace

bool id_of_fd(int fd, file_id& out) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  out = {st.st_dev, st.st_ino};
  return true;
}

bool is_html(const uint8_t* data, size_t size) {
  size_t p = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) p = 3;  // a byte order mark
  while (p < size && (data[p] == ' ' || data[p] == '\t' || data[p] == '\r' || data[p] == '\n')) ++p;
  for (const char* start : {"<!doctype html", "<html"}) {
    const size_t n = std::strlen(start);
    if (size - p < n) continue;
    size_t i = 0;
    while (i < n && std::tolower(data[p + i]) == start[i]) ++i;
    if (i == n) return true;
  }
  return false;
}

bool holds_dv(const uint8_t* data, size_t size) {
  constexpr size_t TESTED = 563;  // the recognizer reads s[0] to s[562]
  for (size_t p = 0; p + TESTED <= size; ++p)
    if (is_sequence_start(data + p)) return true;
  return false;
}

bool safe_file::fail(int error, const char* reason) {
  const char* const parts[] = {"Could not write ", options_.kind, " ", path_, ": ",
                               reason ? reason : error_text(error), "\n"};
  write_message(err_fd_, parts, std::size(parts));
  abandon();
  return false;
}

// Whether the file now named `name` in the target's directory must not be
// replaced: it is an input, or it holds DV where a report is written, or it
// exists where nothing may be replaced.
bool safe_file::target_refused(const char* name, int* error, const char** reason) const {
  struct stat st;
  if (fstatat(dir_fd_, name, &st, 0) != 0) return false;
  for (const file_id& input : inputs_) {
    if (same(st, input)) {
      *reason = "it is the input";
      return true;
    }
  }
  if (!options_.replace) {
    *error = EEXIST;
    return true;
  }
  if ((options_.replace_only_html || options_.replace_only_prefix) && S_ISREG(st.st_mode) && st.st_size > 0) {
    const int fd = openat(dir_fd_, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      uint8_t head[DV_SNIFF_SIZE];
      const ssize_t n = pread(fd, head, sizeof head, 0);
      close(fd);
      if (n > 0 && holds_dv(head, static_cast<size_t>(n))) {
        *reason = "it holds a DV stream";
        return true;
      }
      const char* prefix = options_.replace_only_prefix;
      if (n > 0 && prefix && (static_cast<size_t>(n) < std::strlen(prefix) || std::memcmp(head, prefix, std::strlen(prefix)) != 0)) {
        *reason = "it is not a table of frames, and is kept";
        return true;
      }
      if (n > 0 && !prefix && !is_html(head, static_cast<size_t>(n))) {
        *reason = "it is no HTML page, and is kept";
        return true;
      }
    }
  }
  return false;
}

// A target that is no regular file (a FIFO, a terminal, /dev/null) is
// written straight through. A FIFO is opened without waiting for its reader,
// and tried again until one comes, so that a stop signal ends the wait.
bool safe_file::open_direct(const char* resolved) {
  direct_ = true;
  for (;;) {
    fd_ = above_standard(::open(resolved, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd_ >= 0) return true;
    if (errno != ENXIO && errno != EINTR) return fail(errno);
    if (options_.wait && options_.wait->stopped()) return fail(EINTR, "interrupted");
    pause_briefly(options_.wait);
  }
}

void safe_file::start(const char* shown, const safe_file_options& options, int err_fd) {
  abandon();
  path_ = shown;
  options_ = options;
  inputs_.assign(options.inputs, options.inputs + options.input_count);
  options_.inputs = nullptr;
  options_.input_count = 0;
  err_fd_ = err_fd;
  direct_ = unnamed_ = false;
  name_[0] = '\0';
}

bool safe_file::open(const char* path, const safe_file_options& options, int err_fd) {
  start(path, options, err_fd);
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  if (exists) {
    for (const file_id& input : inputs_)
      if (same(st, input)) return fail(0, "it is the input");
    struct stat follow;
    if (options_.follow_fd >= 0 && fstat(options_.follow_fd, &follow) == 0 && st.st_dev == follow.st_dev &&
        st.st_ino == follow.st_ino) {
      // The same file as the log: written there, after the log.
      direct_ = true;
      fd_ = above_standard(fcntl(options_.follow_fd, F_DUPFD_CLOEXEC, 3));
      return fd_ >= 0 || fail(errno);
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return open_direct(path);
  }

  // A link to an existing file keeps the link: the file it leads to is the
  // target.
  char resolved[PATH_MAX];
  const char* target = path;
  if (exists && realpath(path, resolved) != nullptr) target = resolved;
  char directory[PATH_MAX];
  const char* name;
  split_path(target, directory, sizeof directory, &name);
  if (name[0] == '\0' || std::strlen(name) >= sizeof name_ || (exists && S_ISDIR(st.st_mode)))
    return fail(name[0] == '\0' || exists ? EISDIR : ENAMETOOLONG);
  std::memcpy(name_, name, std::strlen(name) + 1);
  dir_fd_ = above_standard(::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd_ < 0) return fail(errno);
  int error = 0;
  const char* reason = nullptr;
  if (target_refused(name_, &error, &reason)) return fail(error, reason);
  return make_file();
}

bool safe_file::make_file() {
  const int mode = options_.readable ? O_RDWR : O_WRONLY;
  if (!options_.hidden_while_written) {
    fd_ = above_standard(openat(dir_fd_, ".", O_TMPFILE | mode | O_CLOEXEC, 0666));
    if (fd_ >= 0) {
      unnamed_ = true;
      return true;
    }
  }
  // A short hidden name of its own, which fits wherever the target's does.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(temp_, sizeof temp_, ".dvlog-%d-%d.tmp", static_cast<int>(getpid()), attempt);
    fd_ = above_standard(openat(dir_fd_, temp_, O_CREAT | O_EXCL | mode | O_CLOEXEC, 0666));
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ >= 0) return true;
  temp_[0] = '\0';
  return fail(errno);
}

bool safe_file::open_unnamed(const char* directory, const char* shown, const safe_file_options& options, int err_fd) {
  start(shown, options, err_fd);
  dir_fd_ = above_standard(::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir_fd_ >= 0 ? make_file() : fail(errno);
}

bool safe_file::retarget(const char* path) {
  if (fd_ < 0 || direct_) return false;
  path_ = path;
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (name[0] == '\0' || std::strlen(name) >= sizeof name_) return fail(name[0] == '\0' ? EISDIR : ENAMETOOLONG);
  std::memcpy(name_, name, std::strlen(name) + 1);
  int error = 0;
  const char* reason = nullptr;
  return !target_refused(name_, &error, &reason) || fail(error, reason);
}

safe_file::~safe_file() { abandon(); }

void safe_file::abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (temp_[0] != '\0' && dir_fd_ >= 0) unlinkat(dir_fd_, temp_, 0);
  temp_[0] = '\0';
  if (dir_fd_ >= 0) close(dir_fd_);
  dir_fd_ = -1;
}

bool safe_file::commit() {
  if (fd_ < 0) return false;
  if (direct_) {
    const int closed = close(fd_);
    fd_ = -1;
    return closed == 0 || fail(errno);
  }
  if (name_[0] == '\0') return fail(EINVAL);  // never named
  // On the disk before it takes the name.
  if (fsync(fd_) != 0 && errno != EINVAL) return fail(errno);
  int error = 0;
  const char* reason = nullptr;
  // Checked again: a capture may have begun under the name since.
  if (target_refused(name_, &error, &reason)) return fail(error, reason);
  if (options_.unnamed_when_stopped && stop_came(options_.wait)) {
    abandon();
    return false;
  }

  if (unnamed_) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (!options_.replace) {
      // Linking fails when the name is taken: nothing is ever replaced.
      if (linkat(AT_FDCWD, self, dir_fd_, name_, AT_SYMLINK_FOLLOW) != 0) return fail(errno);
      unnamed_ = false;
      abandon();
      return true;
    }
    for (int attempt = 0;; ++attempt) {
      std::snprintf(temp_, sizeof temp_, ".dvlog-%d-%d.tmp", static_cast<int>(getpid()), attempt);
      if (linkat(AT_FDCWD, self, dir_fd_, temp_, AT_SYMLINK_FOLLOW) == 0) break;
      const int link_error = errno;
      temp_[0] = '\0';
      if (link_error != EEXIST || attempt >= 100) return fail(link_error);
    }
    unnamed_ = false;
  }
  if (close(fd_) != 0) {
    fd_ = -1;
    return fail(errno);
  }
  fd_ = -1;
  if (options_.replace) {
    if (renameat(dir_fd_, temp_, dir_fd_, name_) != 0) return fail(errno);
  } else {
    // Named only if the name is free: link, then drop the hidden name.
    if (linkat(dir_fd_, temp_, dir_fd_, name_, 0) != 0) return fail(errno);
    unlinkat(dir_fd_, temp_, 0);
  }
  temp_[0] = '\0';
  abandon();
  return true;
}

}  // namespace dvlog
