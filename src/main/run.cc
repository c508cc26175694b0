#include "main/run.h"

#include <cstring>
#include <ctime>

#include "analysis/analysis.h"
#include "analysis/audio.h"
#include "input/scan.h"
#include "report/output.h"

namespace dvlog {

int run_on_input(const input_source& in) {
  // Load the time-zone rules before the stream is read, not while printing the
  // first recording date: nothing is allocated during the scan.
  tzset();
  analysis_reset();
  const int read_error = scan_stream(in.fd, analyse_sequence);
  close_input(in);

  // What was analysed before a read error still counts: the summary comes first.
  out_printf("============\n");
  out_printf("Total frames: %d\n", frame_count);
  out_printf("DIF Blocks analysed: %d\n", sequence_count);  // sequences, despite the label
  print_audio_verdict();

  int status = 0;
  if (read_error != 0) {
    report_read_error(in, read_error);
    status = 1;
  }
  if (int write_error = out_finish(); write_error != 0) {
    err_printf("Could not write output: %s\n", std::strerror(write_error));
    status = 1;
  }
  return status;
}

int run_dvlog(const char* path) {
  input_source in;
  if (!open_input(path, in)) return 1;
  return run_on_input(in);
}

}  // namespace dvlog
