// libFuzzer target: the whole tool on one input, read as `dvlog FILE` reads a
// file. The bytes go into an in-memory file and run through the scan, the
// decoding, the accounting, the reports and the summary; the output goes to
// /dev/null, so only crashes, sanitizer reports, leaks and hangs are findings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "main/run.h"
#include "report/output.h"

namespace {

int input_fd = -1;

[[noreturn]] void fail(const char* what) {
  std::perror(what);
  std::abort();
}

// Replaces the contents of the in-memory file with data and rewinds it.
void load_input(const uint8_t* data, size_t size) {
  if (ftruncate(input_fd, static_cast<off_t>(size)) != 0) fail("ftruncate");
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(input_fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) fail("pwrite");
    done += static_cast<size_t>(n);
  }
  if (lseek(input_fd, 0, SEEK_SET) != 0) fail("lseek");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  input_fd = memfd_create("dvlog-fuzz-input", 0);
  if (input_fd < 0) fail("memfd_create");
  const int devnull = open("/dev/null", O_WRONLY);
  if (devnull < 0) fail("/dev/null");
  dvlog::output_reset(devnull, devnull);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  load_input(data, size);
  // The run closes the descriptor it is given; the copy shares the file and
  // its offset, so the in-memory file lives on for the next input.
  const int fd = dup(input_fd);
  if (fd < 0) fail("dup");
  const int status = dvlog::run_on_input({fd, "fuzz input", false});
  // A file that opened always yields a complete run.
  if (status != 0) std::abort();
  return 0;
}
