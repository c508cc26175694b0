// Buffered writing of a log to a descriptor, and unbuffered messages to the
// error descriptor.
#pragma once

#include <csignal>
#include <cstddef>

namespace dvlog {

// How a write (or an open) that has to wait lets a stop signal end the wait:
// the flag its handler sets, and the signal mask to wait with, which lets the
// stop signals in. Without a flag, writes wait as long as it takes.
struct wait_control {
  const volatile sig_atomic_t* stop = nullptr;
  const sigset_t* wait_mask = nullptr;
  bool stopped() const { return stop != nullptr && *stop != 0; }
};

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
  // `path`: out_fd is a file of the run being written there (of `kind`, as
  // messages name it), whose failure is told as such: "Could not write
  // report PATH: ERROR". Without it, out_fd is the log's standard output:
  // "Could not write output: ERROR".
  output_stream(int out_fd, int err_fd, const char* path = nullptr, const wait_control* wait = nullptr,
                const char* kind = "report");
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
  const char* path_;
  const char* kind_;
  const wait_control* wait_;
  bool may_block_;  // out_fd is no regular file: a write may wait for its reader
  screen_line* screen_line_ = nullptr;
};

// Writes all of data, retrying interrupted and short writes, and waiting when
// the descriptor was left non-blocking. Returns 0 or errno. With `wait`, a
// stop signal ends a wait for a reader that takes nothing (EINTR is then
// returned); `may_block` says that fd is no regular file, so that a write may
// wait.
int write_all(int fd, const char* data, size_t size, const wait_control* wait = nullptr, bool may_block = false);

// Writes the parts one after the other as one message: in one write when they
// fit a line buffer, else in pieces (a path may be of any length). Nothing is
// allocated, as the C library's formatted writes to a descriptor would.
void write_message(int fd, const char* const* parts, size_t count);

// The system's text of an error, for messages; "interrupted" for EINTR, which
// means a stop signal ended a wait.
const char* error_text(int error);

// "SIGINT" or "SIGTERM", the signals that stop a run ("a signal" for another);
// nullptr for 0, none.
const char* stop_signal_name(int sig);

// "Could not write KIND PATH: ERROR" on fd.
void tell_write_failure(int fd, const char* kind, const char* path, int error);

}  // namespace dvlog
