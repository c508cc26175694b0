// Choosing, opening and reading the input, and the messages about it.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace dvlog {

struct input_source {
  int fd = -1;
  const char* name = "";  // the path as given, or "standard input"
  bool is_stdin = false;
  bool is_regular = false;  // a regular file: its size is known and reads never wait
  uint64_t size = 0;        // of a regular file
  uint64_t start = 0;       // where reading starts in a regular file: standard input may be past its start
};

// No path, an empty path or "-" means standard input.
bool names_standard_input(const char* path);

// Opens the input `path` names. On failure to open,
// writes the message to err_fd and returns false.
bool open_input(const char* path, input_source& in, int err_fd);

void close_input(const input_source& in);

// Asks the run to stop: set by a signal handler, read between reads.
struct stop_request {
  const volatile sig_atomic_t* signal = nullptr;  // nonzero: stop
  // While the input is no regular file, the stop signals are blocked except
  // while waiting for input, so that one arriving just before a read cannot
  // be missed. This is the mask to wait with, and the stop signals.
  const sigset_t* wait_mask = nullptr;
  const sigset_t* signals = nullptr;
};

// True once a stop is requested; a stop signal pending is let in first.
bool stop_requested(const stop_request& stop);

// Reads up to `size` bytes. Returns the count, 0 at end of input or once a
// stop is requested, or -1 with errno set. Interrupted reads are retried, and
// an input left non-blocking is waited for.
ssize_t read_input(const input_source& in, uint8_t* into, size_t size, const stop_request& stop);

// Tells on err_fd that reading failed with error_number.
void report_read_error(const input_source& in, int error_number, int err_fd);

}  // namespace dvlog
