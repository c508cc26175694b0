#include "main/run.h"

#include <cerrno>

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif
#include <unistd.h>

#include "report/progress.h"
#include "report/report_file.h"

namespace dvlog {

log_run::log_run(const run_setup& setup, const input_source& in)
    : out_(setup.out_fd, setup.err_fd),
      facts_{in.is_stdin ? nullptr : in.name, 0, 0},
      text_(out_, setup.year),
      json_(out_, setup.year, facts_),
      log_(setup.opts.json ? static_cast<event_sink&>(json_) : text_),
      report_facts_{in.name, 0, DVLOG_VERSION},
      report_(setup.opts.report ? new html_report(setup.year, report_facts_) : nullptr),
      both_(report_ ? new log_and_report(log_, *report_, setup.opts.damage) : nullptr),
      err_fd_(setup.err_fd),
      report_path_(setup.opts.report),
      analysis_(both_ ? static_cast<event_sink&>(*both_) : log_, setup.opts.damage || report_, setup.year()),
      window_(new uint8_t[SCAN_WINDOW_SIZE]),
      scan_(window_.get(), analysis_) {}

int log_run::finish(int stop_signal) {
  facts_.bytes = report_facts_.input_bytes = scan_.bytes();
  facts_.stop_signal = stop_signal;
  analysis_.finish();
  out_.flush();
  return out_.failure() != 0 ? 1 : 0;
}

bool log_run::write_report(int fd) {
  if (!report_) return true;
  output_stream page(fd, err_fd_, report_path_);
  report_->write(page);
  page.flush();
  return page.failure() == 0;
}

// Progress is shown when asked for, or when standard error is a terminal
// and the log goes elsewhere.
bool wants_progress(const run_setup& setup) {
  switch (setup.opts.progress) {
    case progress_mode::on:
      return true;
    case progress_mode::off:
      return false;
    case progress_mode::automatic:
      break;
  }
  return isatty(setup.err_fd) && !isatty(setup.out_fd);
}

int run_on_input(const run_setup& setup, const input_source& in) {
  // The report file is made before anything is read, so that a report that
  // cannot be written wastes no reading.
  std::unique_ptr<report_file> report;
  if (setup.opts.report) {
    report.reset(new report_file(setup.opts.report, setup.out_fd, setup.err_fd));
    if (!report->ok()) {
      close_input(in);
      return 1;
    }
  }
  log_run run(setup, in);
  progress_line progress(setup.err_fd, in.is_regular ? in.size : 0);
  const bool show_progress = wants_progress(setup);
  if (show_progress) run.set_screen_line(&progress);
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
    if (show_progress) progress.update(run.scan().bytes(), run.analysis().frames());
  }
  close_input(in);
  progress.erase();
  // A signal counts if it ended the reading; one that comes later, while the
  // summary is written, changes nothing.
  const int stopped_by = setup.stop.signal ? *setup.stop.signal : 0;

  // What was analysed before a read error still counts: the summary comes first.
  int status = run.finish(stopped_by);
  // The report of what was read, whatever became of the log.
  if (report && !(run.write_report(report->fd()) && report->commit())) status = 1;
  if (read_error != 0) {
    report_read_error(in, read_error, setup.err_fd);
    status = 1;
  }
  // As a shell reports a run ended by that signal.
  return stopped_by != 0 ? 128 + stopped_by : status;
}

}  // namespace dvlog
