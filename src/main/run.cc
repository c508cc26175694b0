#include "main/run.h"

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "main/outputs.h"
#include "main/reading.h"
#include "output/progress.h"

namespace dvlog {

bool wants_progress(const run_setup& setup) {
  switch (setup.opts.progress) {
    case progress_mode::on:
      return true;
    case progress_mode::off:
      return false;
    case progress_mode::automatic:
      break;
  }
  return isatty(setup.err_fd) && !isatty(setup.out_fd);
}

namespace {

// The bytes of all inputs, when all are regular files; 0 when some size
// cannot be known beforehand.
uint64_t total_size(const std::vector<const char*>& paths) {
  uint64_t total = 0;
  for (const char* path : paths) {
    struct stat st;
    if (names_standard_input(path) || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    total += static_cast<uint64_t>(st.st_size);
  }
  return total;
}

// The signal that ended a wait for a reader of the output that took nothing,
// 0 if none did.
int gave_up_writing(const run_setup& setup, const output_stream& out) {
  return out.failure() == EINTR && setup.wait.stopped() ? static_cast<int>(*setup.wait.stop) : 0;
}

// "dvlog: stopped by SIGINT after N bytes; ...": the log is not of the whole
// input.
void tell_stopped(const run_setup& setup, int sig, uint64_t bytes) {
  char count[24];
  std::snprintf(count, sizeof count, "%llu", static_cast<unsigned long long>(bytes));
  const char* const parts[] = {"dvlog: stopped by ", stop_signal_name(sig), " after ", count,
                               " bytes; the log covers what was read\n"};
  write_message(setup.err_fd, parts, std::size(parts));
}

// What the reading of all inputs shares.
struct run_state {
  run_context& run;
  output_list& outputs;
  picture_worker* worker;  // when an output wants pictures
  uint8_t* window;
  progress_line& progress;
  bool show_progress;
  uint64_t bytes_before = 0;  // of the inputs already read
};

void tell_done(run_state& r, const char* path, tape_status how, uint64_t bytes) {
  for (auto& o : r.outputs) o->input_done(path, how, bytes);
}

// Reads one input through the outputs. Returns its exit status.
int run_input(run_state& r, const char* path, int number) {
  const run_setup& setup = r.run.setup;
  input_source in;
  if (!open_input(path, in, setup.err_fd)) {
    tell_done(r, path, tape_status::open_error, 0);
    return 1;
  }
  input_context c(r.run, in, path, number);
  // The preflights, before anything is read.
  std::vector<run_output*> reading_outputs;
  reading_outputs.reserve(r.outputs.size());
  int status = 0;
  for (auto& o : r.outputs) {
    switch (o->begin(c)) {
      case preflight::ok:
        reading_outputs.push_back(o.get());
        break;
      case preflight::read_without:
        status = 1;
        break;
      case preflight::skip_input:
        close_input(in);
        // A stop signal ended the wait for a reader of an output.
        if (setup.wait.stopped()) return 128 + *setup.wait.stop;
        tell_done(r, path, tape_status::open_error, 0);
        return 1;
    }
  }

  input_reading reading(setup, reading_outputs, r.worker, r.window);
  if (r.show_progress) r.run.out.set_screen_line(&r.progress);
  int read_error = 0;
  for (;;) {
    size_t room;
    reading.before_refill();
    uint8_t* into = reading.scan().space(&room);
    const ssize_t got = read_input(in, into, room, setup.stop);
    if (got == 0) break;
    if (got < 0) {
      read_error = errno;
      break;
    }
    reading.read(into, static_cast<size_t>(got));
    if (r.show_progress) r.progress.update(r.bytes_before + reading.scan().bytes(), reading.analysis().frames(), number);
  }
  r.progress.erase();
  r.bytes_before += reading.scan().bytes();
  // A signal counts if it ended the reading; one that comes later, while the
  // summary is written, changes nothing.
  const input_end end{reading.scan().bytes(), setup.stop.signal ? *setup.stop.signal : 0, read_error};

  // What was analysed before a read error still counts: the summary comes first.
  for (run_output* o : reading_outputs) o->input_ended(end);
  reading.finish();
  c.pictures = reading.pictures();
  r.run.out.flush();
  if (r.run.out.failure() != 0) status = 1;
  // Open until now: the split copies its last part from it.
  close_input(in);
  // What each output writes of what was read, whatever became of the log.
  bool given_up = false;
  for (run_output* o : reading_outputs) {
    if (o->commit(c, end) == 0) continue;
    status = 1;
    given_up |= setup.wait.stopped();
  }
  if (read_error != 0) {
    report_read_error(in, read_error, setup.err_fd);
    status = 1;
  }
  // A stop that came later, while the log or an output waited for a reader
  // that took nothing, ends the run too; one that came while they were
  // written changes nothing.
  const int stopped = end.stop_signal != 0 ? end.stop_signal
                      : given_up           ? static_cast<int>(*setup.wait.stop)
                                           : gave_up_writing(setup, r.run.out);
  tell_done(r, path, stopped ? tape_status::stopped : read_error ? tape_status::read_error : tape_status::ok,
            end.bytes);
  if (stopped != 0) tell_stopped(setup, stopped, end.bytes);
  // As a shell reports a run ended by that signal.
  return stopped != 0 ? 128 + stopped : status;
}

}  // namespace

int run_all(const run_setup& setup) {
  output_stream out(setup.out_fd, setup.err_fd, nullptr, &setup.wait);
  run_context run{setup, out, setup.opts.paths};
  if (run.inputs.empty()) run.inputs.push_back("-");
  output_list outputs = make_outputs(setup);
  for (auto& o : outputs)
    if (const int status = o->start_run(run)) return status;
  unsigned needs = 0;
  for (const auto& o : outputs) needs |= o->needs();
  // Started before the first input is read, the worker loads FFmpeg's
  // libraries while the reading begins.
  std::unique_ptr<picture_worker> worker(needs & NEEDS_PICTURES ? new picture_worker : nullptr);
  const int files = static_cast<int>(run.inputs.size());
  progress_line progress(setup.err_fd, total_size(run.inputs), files);
  // One window for all inputs: memory stays the same however many there are.
  std::unique_ptr<uint8_t[]> window(new uint8_t[SCAN_WINDOW_SIZE]);
  run_state r{run, outputs, worker.get(), window.get(), progress, wants_progress(setup)};

  int status = 0;
  for (int i = 0; i < files; ++i) {
    // A stop ends the run with the input being read; those after it are
    // left untouched. One that came before the first is told with its
    // summary, of nothing read.
    if (i > 0 && stop_requested(setup.stop)) break;
    const int input_status = run_input(r, run.inputs[static_cast<size_t>(i)], i + 1);
    if (input_status >= 128) return input_status;
    if (input_status != 0) status = 1;
  }
  out.flush();
  if (const int stopped = gave_up_writing(setup, out)) {
    tell_stopped(setup, stopped, r.bytes_before);
    return 128 + stopped;
  }
  if (out.failure() != 0) status = 1;
  for (auto& o : outputs) status = o->end_run(run, status);
  out.flush();
  return out.failure() != 0 ? 1 : status;
}

}  // namespace dvlog
