// The report's file, written whole or not at all: into a new file beside it,
// renamed over it once complete. A path that leads to something other than a
// regular file (a terminal, a pipe, /dev/stdout) is written straight through.
#pragma once

#include <climits>

namespace dvlog {

class report_file {
 public:
  // Creates the temporary file beside `path`. On failure tells
  // "Could not write report PATH: ERROR" on err_fd; ok() is then false.
  report_file(const char* path, int err_fd);
  ~report_file();  // removes the temporary file unless committed
  report_file(const report_file&) = delete;
  report_file& operator=(const report_file&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const char* path() const { return path_; }

  // Puts the written file in place; tells and returns false on failure.
  bool commit();

 private:
  const char* path_;
  int err_fd_;
  int fd_ = -1;
  bool direct_ = false;     // written straight into path_
  char target_[PATH_MAX];   // what the rename replaces: the path, links resolved
  char temp_[PATH_MAX + 8];
};

}  // namespace dvlog
