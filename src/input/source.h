// Choosing, opening and closing the input, and the messages about it.
#pragma once

namespace dvlog {

struct input_source {
  int fd;
  const char* name;  // the path as given, or "standard input"
  bool is_stdin;
};

// No path, an empty path or "-" means standard input. On failure to open,
// writes the message to standard error and returns false.
bool open_input(const char* path, input_source& in);

void close_input(const input_source& in);

// Tells on standard error that reading failed with error_number.
void report_read_error(const input_source& in, int error_number);

}  // namespace dvlog
