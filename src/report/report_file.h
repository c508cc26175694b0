// The report's file, written whole or not at all: into an unnamed file in the
// same directory, given a name and renamed over the report once complete, so
// that nothing is left behind when dvlog is killed. A path that leads to no
// regular file (a terminal, a pipe), or to the file that standard output
// already writes, is written straight through, after the log.
#pragma once

#include <climits>

namespace dvlog {

class report_file {
 public:
  // Opens the file for the report at `path`. On failure tells
  // "Could not write report PATH: ERROR" on err_fd; ok() is then false.
  report_file(const char* path, int out_fd, int err_fd);
  ~report_file();  // removes what it made unless committed
  report_file(const report_file&) = delete;
  report_file& operator=(const report_file&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Puts the written file in place; tells and returns false on failure.
  bool commit();

 private:
  bool fail(int error);

  const char* path_;
  int err_fd_;
  int fd_ = -1;
  bool direct_ = false;    // written straight into the path (or standard output)
  bool unnamed_ = false;   // made with O_TMPFILE: no name until commit
  char target_[PATH_MAX];  // what the rename replaces: the path, links resolved
  char temp_[PATH_MAX + 8];
};

}  // namespace dvlog
