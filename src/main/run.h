// A run of the tool: each input read through the scanner into the analysis,
// whose events go to the chosen log, report, table and split.
#pragma once

#include <csignal>
#include <memory>

#include "analysis/analyser.h"
#include "input/scanner.h"
#include "input/source.h"
#include "main/options.h"
#include "report/event_fanout.h"
#include "report/html_report.h"
#include "report/json_log.h"
#include "report/output_stream.h"
#include "report/tape_table.h"
#include "report/text_log.h"
#include "report/time_texts.h"

namespace dvlog {

struct run_setup {
  options opts;
  int out_fd = 1;
  int err_fd = 2;
  year_source year = clock_local_year;
  stop_request stop;  // none by default
  wait_control wait;  // the same stop, for waits on outputs
};

// Everything the log of one input needs, made before its stream is read: the
// log, the report, the analysis, and the scanner with its window.
class log_run {
 public:
  // `table`: where the input's row goes, instead of a log; `several`: the
  // input is one of several, named in every event of the JSON log.
  log_run(const run_setup& setup, output_stream& out, const input_source& in, tape_table* table = nullptr,
          bool several = false);

  // Where the stream goes in.
  scanner& scan() { return scan_; }
  const analyser& analysis() const { return analysis_; }

  // Tells the summary (told as stopped by `stop_signal`, or as ended by
  // `read_error`, when not 0) and writes out what is left. Returns 0, or 1
  // when the log could not be written.
  int finish(int stop_signal = 0, int read_error = 0);
  // Writes the HTML report, when one was asked for, to fd. False when it
  // could not be written (and that was told).
  bool write_report(int fd);

 private:
  const run_setup& setup_;
  output_stream& out_;
  run_facts facts_;
  text_log text_;
  json_log json_;
  event_sink& log_;
  report_facts report_facts_;
  std::unique_ptr<html_report> report_;
  event_fanout fanout_;
  analyser analysis_;
  std::unique_ptr<uint8_t[]> window_;
  scanner scan_;
};

// Runs on every input the options name, in turn; returns the exit status:
// 1 when some input failed, 128 + the signal when a stop signal ended the
// reading (the inputs after it are left untouched).
int run_all(const run_setup& setup);

// With --merge: writes the tape rebuilt from the inputs to the path given,
// then its log and the merge's facts. Returns the exit status.
int run_merge(const run_setup& setup);

}  // namespace dvlog
