// libFuzzer target: the whole tool on one input, fed to the scanner as a
// file's bytes would be, through the decoding, the accounting, the logs and
// the summary; the output goes to /dev/null, so only crashes, sanitizer
// reports, leaks and hangs are findings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

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
  dvlog::run_setup setup;
  setup.out_fd = setup.err_fd = devnull;
  dvlog::input_source in;
  in.name = "fuzz input";
  dvlog::log_run run(setup, in);
  run.scan().feed(data, size);
  // Writing to /dev/null never fails.
  if (run.finish() != 0) std::abort();
  return 0;
}
