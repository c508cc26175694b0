// dvlog: logs the settings, recording starts and audio sync of DV streams.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "ffmpeg/still_encoder.h"
#include "main/options.h"
#include "main/run.h"
#include "main/stop_signals.h"
#include "output/output_stream.h"

int main(int argc, char** argv) {
  using namespace dvlog;
  run_setup setup;
  switch (parse_options(argc, argv, setup.opts, 2)) {
    case parse_result::usage_error:
      return 2;
    case parse_result::help:
      return write_all(1, USAGE_TEXT, std::strlen(USAGE_TEXT)) == 0 ? 0 : 1;
    case parse_result::version: {
      // The libraries that decode the pictures, as loaded at run time.
      char text[256];
      int n = std::snprintf(text, sizeof text, "%s", VERSION_TEXT);
      picture_library_versions(text + n, sizeof text - static_cast<size_t>(n) - 1);
      n = static_cast<int>(std::strlen(text));
      text[n++] = '\n';
      return write_all(1, text, static_cast<size_t>(n)) == 0 ? 0 : 1;
    }
    case parse_result::run:
      break;
  }
  if (check_output_files(setup.opts, setup.out_fd, setup.err_fd) != parse_result::run) return 2;

  // Load the time-zone rules before a stream is read, not while printing the
  // first recording date: nothing is allocated during the scan.
  tzset();
  // Before anything is opened: an input or an output may make the run wait.
  sigset_t wait_mask, stops;
  catch_stop_signals(wait_mask, stops);
  setup.stop = {&stop_signal, &wait_mask, &stops};
  setup.wait = {&stop_signal, &wait_mask};

  return run_all(setup);
}
