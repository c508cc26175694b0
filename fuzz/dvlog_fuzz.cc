// libFuzzer target: the whole tool on one input, fed to the scanner as a
// file's bytes would be, through the decoding, the accounting, the frame
// model, the damage count, the logs and the summary, three times: the text
// log; the JSON log with damage and the table of frames; the text log with
// the HTML report. The output goes to
// /dev/null, so only crashes, sanitizer reports, leaks and hangs are findings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "main/reading.h"
#include "main/run.h"

namespace {

int devnull = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  devnull = open("/dev/null", O_WRONLY);
  if (devnull < 0) {
    std::perror("/dev/null");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int mode = 0; mode < 3; ++mode) {
    dvlog::run_setup setup;
    setup.out_fd = setup.err_fd = devnull;
    setup.opts.json = setup.opts.damage = mode == 1;
    setup.opts.report = mode == 2 ? "/dev/null" : nullptr;
    // The report's pictures load FFmpeg and decode frames with its decoder,
    // some 40 ms an input: not dvlog's code, and too slow to fuzz.
    setup.opts.pictures = false;
    dvlog::input_source in;
    in.name = "fuzz input";
    setup.opts.frames = mode == 1 ? "/dev/null" : nullptr;
    setup.opts.paths = {in.name};
    dvlog::output_stream out(devnull, devnull);
    dvlog::run_context run{setup, out, setup.opts.paths};
    dvlog::output_list outputs = dvlog::make_outputs(setup);
    dvlog::input_context c(run, in, in.name, 1);
    // The input is in memory: /dev/null, which the outputs write, is no input
    // of this run even when the fuzzer's standard input is.
    c.never_written_count = 0;
    std::vector<dvlog::run_output*> reading;
    for (auto& o : outputs) {
      if (o->start_run(run) != 0 || o->begin(c) != dvlog::preflight::ok) std::abort();
      reading.push_back(o.get());
    }
    dvlog::input_reading r(setup, reading, nullptr, nullptr);
    r.scan().feed(data, size);
    const dvlog::input_end end{size, 0, 0};
    for (dvlog::run_output* o : reading) o->input_ended(end);
    r.finish();
    out.flush();
    // Writing to /dev/null never fails.
    if (out.failure() != 0) std::abort();
    for (dvlog::run_output* o : reading)
      if (o->commit(c, end) != 0) std::abort();
    // No frame is counted damaged twice.
    const dvlog::damage_totals& t = r.frame_totals();
    if (t.damaged_frames > t.frames || t.frames_repeated > t.frames || t.frames_off_speed > t.frames) std::abort();
  }
  return 0;
}
