// A run of the tool: the input read through the scanner into the analysis,
// whose events go to the chosen log.
#pragma once

#include <csignal>
#include <memory>

#include "analysis/analyser.h"
#include "input/scanner.h"
#include "input/source.h"
#include "main/options.h"
#include "report/html_report.h"
#include "report/json_log.h"
#include "report/log_and_report.h"
#include "report/output_stream.h"
#include "report/text_log.h"
#include "report/time_texts.h"

namespace dvlog {

struct run_setup {
  options opts;
  int out_fd = 1;
  int err_fd = 2;
  year_source year = clock_local_year;
  stop_request stop;  // none by default
};

// Everything one run needs, made before the stream is read: the output, the
// log, the analysis, and the scanner with its window.
class log_run {
 public:
  log_run(const run_setup& setup, const input_source& in);

  // Where the stream goes in.
  scanner& scan() { return scan_; }
  const analyser& analysis() const { return analysis_; }
  // A line on the terminal to erase before the log is written.
  void set_screen_line(screen_line* line) { out_.set_screen_line(line); }

  // Tells the summary and writes out what is left. Returns 0, or 1 when the
  // log could not be written.
  int finish(int stop_signal = 0);
  // Writes the HTML report, when one was asked for, to fd. False when it
  // could not be written (and that was told).
  bool write_report(int fd);

 private:
  output_stream out_;
  run_facts facts_;
  text_log text_;
  json_log json_;
  event_sink& log_;
  report_facts report_facts_;
  std::unique_ptr<html_report> report_;
  std::unique_ptr<log_and_report> both_;
  int err_fd_;
  const char* report_path_;
  analyser analysis_;
  std::unique_ptr<uint8_t[]> window_;
  scanner scan_;
};

// Runs on an input already open; closes it. Returns the exit status: 128 +
// the signal when a stop signal ended the reading.
int run_on_input(const run_setup& setup, const input_source& in);

}  // namespace dvlog
