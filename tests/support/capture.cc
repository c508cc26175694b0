#include "support/capture.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "analysis/analysis.h"
#include "main/run.h"
#include "report/output.h"

namespace dvtest {

namespace {

std::string read_all(FILE* f) {
  std::string text;
  std::rewind(f);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  return text;
}

}  // namespace

captured run_in_process(const bytes& data) {
  int in_fd = memfd_create("dvlog-test-input", 0);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(in_fd, data.data() + done, data.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  lseek(in_fd, 0, SEEK_SET);

  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  dvlog::output_reset(fileno(out), fileno(err));
  captured result;
  result.status = dvlog::run_on_input({in_fd, "test input", false});
  dvlog::output_reset();
  result.out = read_all(out);
  result.err = read_all(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}

void drive(const bytes& stream, const std::function<void(size_t)>& after) {
  dvlog::analysis_reset();
  const int null_fd = open("/dev/null", O_WRONLY);
  dvlog::output_reset(null_fd, null_fd);
  for (size_t i = 0; (i + 1) * SEQ <= stream.size(); ++i) {
    ++dvlog::sequence_count;
    dvlog::analyse_sequence(&stream[i * SEQ]);
    after(i);
  }
  dvlog::out_finish();
  dvlog::output_reset();
  close(null_fd);
}

}  // namespace dvtest
