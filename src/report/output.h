// The tool's two output streams. Report lines are gathered and written to
// standard output after each sequence; a warning first writes out what is
// gathered, so that the two streams interleave in order when they share a file.
#pragma once

namespace dvlog {

// Where output goes (defaults: 1 and 2). Also forgets gathered output and any
// earlier write failure.
void output_reset(int out_fd = 1, int err_fd = 2);

void out_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void err_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes out the report lines gathered for one sequence.
void out_end_sequence();

// Writes out everything gathered. Returns 0, or the errno of the first write
// to standard output that failed.
int out_finish();

}  // namespace dvlog
