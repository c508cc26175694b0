// --report FILE: the HTML page of the input, gathered as it is read, into a
// file made before anything is read, and written and named once the input
// has been read.
#include <memory>

#include "html/html_report.h"
#include "main/outputs.h"
#include "main/run.h"

#ifndef DVLOG_VERSION
#define DVLOG_VERSION "unknown"
#endif

namespace dvlog {

namespace {

constexpr const char* KIND = "report";

class report_output final : public run_output {
 public:
  preflight begin(input_context& c) override {
    const run_setup& setup = c.run.setup;
    safe_file_options o;
    o.kind = KIND;
    o.replace_only_html = true;
    if (!make_input_file(c, setup.opts.report, o, file_)) {
      // A stop signal ended the wait for a reader of the report; a file is
      // not read for nothing. A capture is read on without its report:
      // stopping would cut off whoever writes it (tee); so is a file whose
      // row the table of tapes still wants.
      if (setup.wait.stopped() || (c.in.is_regular && !setup.opts.table)) return preflight::skip_input;
      return preflight::read_without;
    }
    facts_ = report_facts{c.in.name, 0, DVLOG_VERSION, 0, 0};
    report_.reset(new html_report(setup.year, facts_));
    if (c.run.merged) report_->merge(*c.run.merged);
    c.parts.add(*report_);
    return preflight::ok;
  }

  event_sink* sink() override { return report_.get(); }
  unsigned needs() const override { return NEEDS_FRAMES | (pictures_ ? unsigned{NEEDS_PICTURES} : 0u); }

  void input_ended(const input_end& e) override {
    facts_.input_bytes = e.bytes;
    facts_.stop_signal = e.stop_signal;
    facts_.read_error = e.read_error;
  }

  // The report of what was read, whatever became of the log.
  int commit(input_context& c, const input_end&) override {
    const run_setup& setup = c.run.setup;
    if (pictures_) report_->set_stills(c.pictures);
    output_stream page(file_.fd(), setup.err_fd, setup.opts.report, &setup.wait, KIND);
    report_->write(page);
    page.flush();
    return page.failure() == 0 && file_.commit() ? 0 : 1;
  }

  explicit report_output(bool pictures) : pictures_(pictures) {}

 private:
  const bool pictures_;
  safe_file file_;
  report_facts facts_;
  std::unique_ptr<html_report> report_;
};

}  // namespace

std::unique_ptr<run_output> make_report_output(bool pictures) {
  return std::unique_ptr<run_output>(new report_output(pictures));
}

}  // namespace dvlog
