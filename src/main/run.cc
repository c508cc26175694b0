#include "main/run.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "output/progress.h"
#include "output/safe_file.h"
#include "split/part_names.h"
#include "stills/still_files.h"

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif

namespace dvlog {

namespace {

// The sink the analysis talks to: the log alone when nothing else listens,
// so that a plain run pays for no fan-out.
event_sink& analysis_sink(event_sink& log, event_fanout& fanout, bool others) { return others ? fanout : log; }

}  // namespace

log_run::log_run(const run_setup& setup, output_stream& out, const input_source& in, tape_table* table, bool several,
                 split_resources* split, uint8_t* window, int frames_fd)
    : setup_(setup),
      out_(out),
      table_(table),
      // With several inputs every event names its own, standard input as "-".
      facts_{in.is_stdin ? several ? "-" : nullptr : in.name, 0, 0, several},
      text_(out_, setup.year),
      json_(out_, setup.year, facts_),
      log_(table ? static_cast<event_sink&>(*table)
                 : setup.opts.json ? static_cast<event_sink&>(json_) : static_cast<event_sink&>(text_)),
      still_lines_(out_),
      report_facts_{in.name, 0, DVLOG_VERSION, 0, 0},
      report_(setup.opts.report ? new html_report(setup.year, report_facts_) : nullptr),
      frames_out_(frames_fd >= 0 ? new output_stream(frames_fd, setup.err_fd, setup.opts.frames, &setup.wait) : nullptr),
      frames_table_(frames_out_ ? new frame_table(*frames_out_, setup.year) : nullptr),
      frames_wanted_(setup.opts.damage || table || report_ || split || frames_table_ || setup.opts.stills),
      events_(analysis_sink(log_, fanout_, report_ || split || frames_table_)),
      analysis_(events_),
      frame_analysis_(events_, setup.year(), &analysis_.audio()),
      stills_((report_ && setup.opts.pictures) || setup.opts.stills ? new still_picker : nullptr),
      frame_tee_(frame_analysis_, stills_.get()),
      frame_reader_(frame_tee_),
      tee_(frames_wanted_ ? &frame_reader_ : nullptr, analysis_),
      own_window_(window ? nullptr : new uint8_t[SCAN_WINDOW_SIZE]),
      scan_(window ? window : own_window_.get(), tee_) {
  if (split) {
    input_base_name(in.is_stdin ? nullptr : in.name, base_name_, sizeof base_name_);
    const split_setup s{setup.opts.split,
                        setup.opts.split_at,
                        base_name_,
                        in.fd,
                        in.is_regular,
                        in.start,
                        setup.year(),
                        setup.err_fd,
                        &out_,
                        {setup.opts.json && !table ? static_cast<part_listener*>(&json_) : nullptr, report_.get()},
                        split->parts.get(),
                        split_resources::PARTS_KEPT,
                        split->copy_buffer.get(),
                        split_resources::COPY_SIZE};
    splitter_.reset(new splitter(s));
    // First: the last part is named, and told, before the log's summary.
    fanout_.add(*splitter_, true);
  }
  // The table always counts damage; the log is told of it only when asked.
  fanout_.add(log_, setup.opts.damage || table);
  if (report_) fanout_.add(*report_, true);
  if (frames_table_) fanout_.add(*frames_table_, true);
  if (report_ && setup.merged) report_->merge(*setup.merged);
}

int log_run::finish(int stop_signal, int read_error) {
  facts_.bytes = report_facts_.input_bytes = scan_.bytes();
  facts_.stop_signal = report_facts_.stop_signal = stop_signal;
  report_facts_.read_error = read_error;
  if (splitter_) splitter_->set_input_end(scan_.bytes(), stop_signal != 0);
  if (frames_wanted_) {
    frame_reader_.finish(scan_.bytes(), scan_.unexamined_sequence());
    frame_analysis_.finish();
  }
  if (stills_) {
    stills_->finish();
    if (report_) report_->set_stills(stills_.get());
  }
  analysis_.finish(frames_wanted_ ? &frame_analysis_.totals() : nullptr);
  out_.flush();
  return out_.failure() != 0 ? 1 : 0;
}

bool log_run::write_report(int fd) {
  if (!report_) return true;
  output_stream page(fd, setup_.err_fd, setup_.opts.report, &setup_.wait);
  report_->write(page);
  page.flush();
  return page.failure() == 0;
}

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

// The directory of the parts or stills, made before anything is read (one
// level, as mkdir(1) makes it). One that is there must be a directory, and
// one that takes new files; else "Could not write WHAT to DIR: ERROR".
bool make_output_dir(const char* dir, const char* what, int err_fd) {
  int error = mkdir(dir, 0777) == 0 ? 0 : errno;
  struct stat st;
  if (error == EEXIST) error = stat(dir, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error == 0 && access(dir, W_OK | X_OK) != 0) error = errno;
  if (error == 0) return true;
  const char* const parts[] = {"Could not write ", what, " to ", dir, ": ", std::strerror(error), "\n"};
  write_message(err_fd, parts, std::size(parts));
  return false;
}

// What the reading of all inputs shares: the output, the table, the progress.
struct shared_run {
  const run_setup& setup;
  output_stream& out;
  tape_table* table;
  split_resources* split;
  uint8_t* window;
  progress_line& progress;
  bool show_progress;
  int files;
  uint64_t bytes_before = 0;  // of the inputs already read
};

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

// The files a run must never write: the input, and standard input's file.
size_t input_ids(const input_source& in, file_id (&inputs)[2]) {
  size_t count = 0;
  for (const int fd : {in.fd, 0})
    if (id_of_fd(fd, inputs[count])) ++count;
  return count;
}

// A file of the run's (the report, the table of frames), made before
// anything is read so that one that cannot be written wastes no reading; it
// is never the input, nor standard input's file.
std::unique_ptr<safe_file> make_output(const run_setup& setup, const input_source& in, const char* path,
                                       safe_file_options o) {
  file_id inputs[2];
  const size_t count = input_ids(in, inputs);
  o.follow_fd = setup.out_fd;
  o.inputs = inputs;
  o.input_count = count;
  o.wait = &setup.wait;
  return std::unique_ptr<safe_file>(new safe_file(path, o, setup.err_fd));
}

// Reads one input, open already, and closes it. Returns its exit status.
int run_on_input(shared_run& shared, const input_source& in, int file) {
  const run_setup& setup = shared.setup;
  // A file of frames that cannot be written ends the run before reading.
  std::unique_ptr<safe_file> frames;
  if (setup.opts.frames) {
    safe_file_options o;
    o.kind = "frame table";
    o.replace_only_prefix = frame_table::header_start();
    frames = make_output(setup, in, setup.opts.frames, o);
    if (!frames->ok()) {
      close_input(in);
      return setup.wait.stopped() ? 128 + *setup.wait.stop : 1;
    }
  }
  // A capture is read on without its report: stopping would cut off whoever
  // writes it (tee).
  std::unique_ptr<safe_file> report;
  bool report_failed = false;
  if (setup.opts.report) {
    safe_file_options o;
    o.kind = "report";
    o.replace_only_html = true;
    report = make_output(setup, in, setup.opts.report, o);
    if (!report->ok()) {
      // A stop signal ended the wait for a reader of the report.
      if (setup.wait.stopped()) return close_input(in), 128 + *setup.wait.stop;
      // A file is not read for nothing; a table still wants its row.
      if (in.is_regular && !shared.table) {
        close_input(in);
        if (shared.table) shared.table->end(tape_status::open_error, 0);
        return 1;
      }
      report.reset();
      report_failed = true;
    }
  }

  run_setup without_report;
  if (report_failed) {
    without_report = setup;
    without_report.opts.report = nullptr;
  }
  log_run run(report_failed ? without_report : setup, shared.out, in, shared.table, shared.files > 1, shared.split,
              shared.window, frames ? frames->fd() : -1);
  if (shared.show_progress) shared.out.set_screen_line(&shared.progress);
  int read_error = 0;
  for (;;) {
    size_t room;
    run.before_refill();
    uint8_t* into = run.scan().space(&room);
    const ssize_t got = read_input(in, into, room, setup.stop);
    if (got == 0) break;
    if (got < 0) {
      read_error = errno;
      break;
    }
    run.read(into, static_cast<size_t>(got));
    if (shared.show_progress)
      shared.progress.update(shared.bytes_before + run.scan().bytes(), run.analysis().frames(), file);
  }
  shared.progress.erase();
  shared.bytes_before += run.scan().bytes();
  // A signal counts if it ended the reading; one that comes later, while the
  // summary is written, changes nothing.
  const int stopped_by = setup.stop.signal ? *setup.stop.signal : 0;

  // What was analysed before a read error still counts: the summary comes first.
  int status = report_failed ? 1 : 0;
  status |= run.finish(stopped_by, read_error);
  // Open until now: the split copies its last part from it.
  close_input(in);
  if (splitter* split = run.split()) {
    if (!setup.opts.json && !shared.table) {
      split->write_lines(shared.out);
      shared.out.flush();
    }
    if (!split->ok()) status = 1;
  }
  if (setup.opts.stills && run.stills()) {
    file_id inputs[2];
    const size_t count = input_ids(in, inputs);
    char base[256];
    input_base_name(in.is_stdin ? nullptr : in.name, base, sizeof base);
    const still_files_setup files{setup.opts.stills, base, inputs, count, &setup.wait, setup.err_fd};
    if (!write_still_files(*run.stills(), files, run.still_log())) status = 1;
    shared.out.flush();
  }
  // The table of frames and the report of what was read, whatever became of
  // the log.
  if (frames && !(run.frames_written() && frames->commit())) status = 1;
  bool report_given_up = false;
  if (report && !(run.write_report(report->fd()) && report->commit())) {
    report_given_up = setup.wait.stopped();
    status = 1;
  }
  if (read_error != 0) {
    report_read_error(in, read_error, setup.err_fd);
    status = 1;
  }
  // A stop that came later, while the log or the report waited for a reader
  // that took nothing, ends the run too; one that came while they were
  // written changes nothing.
  const int stopped = stopped_by != 0 ? stopped_by : report_given_up ? *setup.wait.stop : gave_up_writing(setup, shared.out);
  if (shared.table)
    shared.table->end(stopped ? tape_status::stopped : read_error ? tape_status::read_error : tape_status::ok,
                      run.scan().bytes());
  if (stopped != 0) tell_stopped(setup, stopped, run.scan().bytes());
  // As a shell reports a run ended by that signal.
  return stopped != 0 ? 128 + stopped : status;
}

}  // namespace

int run_all(const run_setup& setup) {
  const std::vector<const char*> paths = setup.opts.paths.empty() ? std::vector<const char*>{"-"} : setup.opts.paths;
  const int files = static_cast<int>(paths.size());
  output_stream out(setup.out_fd, setup.err_fd, nullptr, &setup.wait);
  std::unique_ptr<tape_table> table(setup.opts.table ? new tape_table(out, setup.year) : nullptr);
  std::unique_ptr<split_resources> split;
  if (setup.opts.split) {
    if (!make_output_dir(setup.opts.split, "parts", setup.err_fd)) return 1;
    split.reset(new split_resources);
  }
  if (setup.opts.stills) {
    char why[256];
    if (!picture_libraries_present(why, sizeof why)) {
      const char* const parts[] = {"Could not write stills to ", setup.opts.stills, ": ", why, "\n"};
      write_message(setup.err_fd, parts, std::size(parts));
      return 1;
    }
    if (!make_output_dir(setup.opts.stills, "stills", setup.err_fd)) return 1;
  }
  if (table) table->write_header();
  progress_line progress(setup.err_fd, total_size(paths), files);
  // One window for all inputs: memory stays the same however many there are.
  std::unique_ptr<uint8_t[]> window(new uint8_t[SCAN_WINDOW_SIZE]);
  shared_run shared{setup, out, table.get(), split.get(), window.get(), progress, wants_progress(setup), files};

  int status = 0;
  bool headed = false;
  for (int i = 0; i < files; ++i) {
    // A stop ends the run with the input being read; those after it are
    // left untouched. One that came before the first is told with its
    // summary, of nothing read.
    if (i > 0 && stop_requested(setup.stop)) break;
    if (table) table->begin(paths[i]);
    input_source in;
    if (!open_input(paths[i], in, setup.err_fd)) {
      if (table) table->end(tape_status::open_error, 0);
      status = 1;
      continue;
    }
    // With several inputs, each log is headed by its name, and set off from
    // the one before by an empty line, as head(1) does.
    if (files > 1 && !table && !setup.opts.json) {
      out.printf("%s==> ", headed ? "\n" : "");
      write_name(out, in.is_stdin ? "standard input" : paths[i]);
      out.printf(" <==\n");
      headed = true;
    }
    const int file_status = run_on_input(shared, in, i + 1);
    if (file_status >= 128) return file_status;
    if (file_status != 0) status = 1;
  }
  out.flush();
  if (const int stopped = gave_up_writing(setup, out)) {
    tell_stopped(setup, stopped, shared.bytes_before);
    return 128 + stopped;
  }
  return out.failure() != 0 ? 1 : status;
}

}  // namespace dvlog
