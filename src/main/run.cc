#include "main/run.h"

#include <cerrno>

namespace dvlog {

log_run::log_run(const run_setup& setup)
    : out_(setup.out_fd, setup.err_fd),
      text_(out_, setup.year),
      log_(text_),
      analysis_(log_),
      window_(new uint8_t[SCAN_WINDOW_SIZE]),
      scan_(window_.get(), analysis_) {}

int log_run::finish() {
  analysis_.finish();
  out_.flush();
  return out_.failure() != 0 ? 1 : 0;
}

int run_on_input(const run_setup& setup, const input_source& in) {
  log_run run(setup);
  int read_error = 0;
  for (;;) {
    size_t room;
    uint8_t* into = run.scan().space(&room);
    const ssize_t got = read_input(in, into, room, setup.stop);
    if (got == 0) break;
    if (got < 0) {
      read_error = errno;
      break;
    }
    run.scan().append(static_cast<size_t>(got));
  }
  close_input(in);

  // What was analysed before a read error still counts: the summary comes first.
  int status = run.finish();
  if (read_error != 0) {
    report_read_error(in, read_error, setup.err_fd);
    status = 1;
  }
  return status;
}

}  // namespace dvlog
