#include "support/capture.h"

#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "main/run.h"

namespace dvtest {

dvlog::year_source year_for_runs = dvlog::clock_local_year;

namespace {

std::string read_all(FILE* f) {
  std::string text;
  std::rewind(f);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  return text;
}

// Takes events and does nothing with them.
class no_sink final : public dvlog::event_sink {
 public:
  void status(const dvlog::status_event&) override {}
  void recording_start(const dvlog::recording_start_event&) override {}
  void timecode_broken(const dvlog::timecode_broken_event&) override {}
  void audio_block_warning(const dvlog::audio_block_warning_event&) override {}
  void summary(const dvlog::summary_event&) override {}
};

}  // namespace

captured run_in_process(const bytes& data, const std::vector<std::string>& args) {
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
  dvlog::run_setup setup;
  std::vector<char*> argv{const_cast<char*>("dvlog")};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  dvlog::parse_options(static_cast<int>(argv.size()), argv.data(), setup.opts, fileno(err));
  setup.out_fd = fileno(out);
  setup.err_fd = fileno(err);
  setup.year = year_for_runs;
  const std::string path = "/proc/self/fd/" + std::to_string(in_fd);
  setup.opts.paths = {path.c_str()};
  captured result;
  result.status = dvlog::run_all(setup);
  close(in_fd);
  result.out = read_all(out);
  result.err = read_all(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}

void drive(const bytes& stream, const std::function<void(size_t, const dvlog::analyser&)>& after) {
  no_sink sink;
  dvlog::analyser analysis(sink);
  for (size_t i = 0; (i + 1) * SEQ <= stream.size(); ++i) {
    analysis.on_sequence(&stream[i * SEQ], i * SEQ);
    after(i, analysis);
  }
}

}  // namespace dvtest
