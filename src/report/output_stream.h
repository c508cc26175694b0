// Buffered writing of a log to a descriptor, and unbuffered messages to the
// error descriptor.
#pragma once

#include <cstddef>

namespace dvlog {

// Erases what a terminal line shows before output lands there; see progress.h.
class screen_line {
 public:
  virtual void erase() = 0;

 protected:
  ~screen_line() = default;
};

class output_stream {
 public:
  // Lines go to out_fd; messages, and the notice that out_fd failed, to err_fd.
  // `report_path`: out_fd is the HTML report being written there, whose
  // failure is told as such.
  output_stream(int out_fd, int err_fd, const char* report_path = nullptr);
  output_stream(const output_stream&) = delete;
  output_stream& operator=(const output_stream&) = delete;

  // A piece of at most CAPACITY - 1 bytes; a longer one is cut.
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void write(const char* data, size_t size);
  // Writes out what is gathered.
  void flush();
  // Writes out what is gathered, then the message (of a line at most),
  // unbuffered, to err_fd.
  void error(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // 0, or the errno of the first write to out_fd that failed. The failure is
  // told on err_fd as it happens; from then on nothing more is written there.
  int failure() const { return failure_; }

  // A line on the terminal to erase before writing.
  void set_screen_line(screen_line* line) { screen_line_ = line; }

 private:
  static constexpr size_t CAPACITY = 8192;

  char buffer_[CAPACITY];
  size_t used_ = 0;
  int out_fd_;
  int err_fd_;
  int failure_ = 0;
  const char* report_path_;
  screen_line* screen_line_ = nullptr;
};

// Writes all of data, retrying interrupted and short writes, and waiting when
// the descriptor was left non-blocking. Returns 0 or errno.
int write_all(int fd, const char* data, size_t size);

// Writes the parts one after the other as one message: in one write when they
// fit a line buffer, else in pieces (a path may be of any length). Nothing is
// allocated, as the C library's formatted writes to a descriptor would.
void write_message(int fd, const char* const* parts, size_t count);

// "Could not write report PATH: ERROR" on fd.
void tell_report_failure(int fd, const char* path, int error);

}  // namespace dvlog
