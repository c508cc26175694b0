// A run of the tool: each input read through the scanner into the analyses,
// whose events go to the outputs the options ask for (main/outputs.h).
#pragma once

#include "events/events.h"
#include "input/source.h"
#include "main/options.h"
#include "output/output_stream.h"
#include "texts/time_texts.h"

namespace dvlog {

struct run_setup {
  options opts;
  int out_fd = 1;
  int err_fd = 2;
  year_source year = clock_local_year;
  stop_request stop;  // none by default
  wait_control wait;  // the same stop, for waits on outputs
};

// Progress is shown when asked for, or when standard error is a terminal
// and the log goes elsewhere.
bool wants_progress(const run_setup& setup);

// Runs on every input the options name, in turn (with --merge, on the
// stream the merge writes), through the outputs they ask for; returns the
// exit status: 1 when some input failed or some output could not be
// written, 128 + the signal when a stop signal ended the reading (the inputs
// after it are left untouched).
int run_all(const run_setup& setup);

}  // namespace dvlog
