// The log on standard output: the text log, the JSON Lines log, or with
// --table a row of the table of tapes an input; and the word of each still
// and part after (text) or among (JSON) its events.
#include <memory>

#include "log/file_lines.h"
#include "log/json_log.h"
#include "log/text_log.h"
#include "main/outputs.h"
#include "main/run.h"

namespace dvlog {

namespace {

class log_output final : public run_output {
 public:
  explicit log_output(const run_setup& setup)
      : json_mode_(setup.opts.json), table_mode_(setup.opts.table), damage_(setup.opts.damage || setup.opts.table) {}

  int start_run(run_context& run) override {
    out_ = &run.out;
    text_.reset(new text_log(run.out, run.setup.year));
    json_.reset(new json_log(run.out, run.setup.year, facts_));
    still_lines_.reset(new still_lines(run.out));
    if (table_mode_) table_.reset(new tape_table(run.out, run.setup.year));
    return 0;
  }

  preflight begin(input_context& c) override {
    start_row(c.path);
    const bool several = c.several();
    // With several inputs, each log is headed by its name, and set off from
    // the one before by an empty line, as head(1) does.
    if (several && !table_mode_ && !json_mode_) {
      out_->printf("%s==> ", headed_ ? "\n" : "");
      write_name(*out_, c.in.is_stdin ? "standard input" : c.path);
      out_->printf(" <==\n");
      headed_ = true;
    }
    // With several inputs every event names its own, standard input as "-".
    facts_ = run_facts{c.in.is_stdin ? several ? "-" : nullptr : c.in.name, 0, 0, several};
    if (json_mode_ && !table_mode_) c.parts.add(*json_);
    c.still_log = json_mode_ ? static_cast<still_listener*>(json_.get()) : table_mode_ ? nullptr : still_lines_.get();
    return preflight::ok;
  }

  event_sink* sink() override {
    return table_mode_ ? static_cast<event_sink*>(table_.get())
                       : json_mode_ ? static_cast<event_sink*>(json_.get()) : static_cast<event_sink*>(text_.get());
  }
  // The table always counts damage; the log is told of it only when asked.
  bool takes_damage() const override { return damage_; }
  unsigned needs() const override { return damage_ ? unsigned{NEEDS_FRAMES} : 0u; }

  void input_ended(const input_end& e) override {
    facts_.bytes = e.bytes;
    facts_.stop_signal = e.stop_signal;
  }

  // The input's row, whatever became of it: one that could not be opened
  // keeps its row too.
  void input_done(const char* path, tape_status how, uint64_t bytes) override {
    if (!table_mode_) return;
    if (!row_started_) start_row(path);
    table_->end(how, bytes);
    row_started_ = false;
  }

 private:
  void start_row(const char* path) {
    if (!table_mode_) return;
    if (!header_written_) table_->write_header();
    header_written_ = true;
    table_->begin(path);
    row_started_ = true;
  }

  const bool json_mode_, table_mode_, damage_;
  output_stream* out_ = nullptr;
  run_facts facts_;
  std::unique_ptr<text_log> text_;
  std::unique_ptr<json_log> json_;
  std::unique_ptr<still_lines> still_lines_;
  std::unique_ptr<tape_table> table_;
  bool headed_ = false, header_written_ = false, row_started_ = false;
};

}  // namespace

std::unique_ptr<run_output> make_log_output(const run_setup& setup) {
  return std::unique_ptr<run_output>(new log_output(setup));
}

}  // namespace dvlog
