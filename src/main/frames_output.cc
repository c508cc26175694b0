// --frames FILE: one CSV row a frame, written as the frames pass into a file
// made before anything is read, and named once the input has been read.
#include <memory>

#include "main/outputs.h"
#include "main/run.h"
#include "tables/frame_table.h"

namespace dvlog {

namespace {

// In messages: "Could not write table of frames PATH: ERROR".
constexpr const char* KIND = "table of frames";

class frames_output final : public run_output {
 public:
  // A file of frames that cannot be written ends the run before reading.
  preflight begin(input_context& c) override {
    const run_setup& setup = c.run.setup;
    safe_file_options o;
    o.kind = KIND;
    o.replace_only_prefix = frame_table::header_start();
    if (!make_input_file(c, setup.opts.frames, o, file_)) return preflight::skip_input;
    out_.reset(new output_stream(file_.fd(), setup.err_fd, setup.opts.frames, &setup.wait, KIND));
    table_.reset(new frame_table(*out_, setup.year));
    return preflight::ok;
  }

  event_sink* sink() override { return table_.get(); }
  unsigned needs() const override { return NEEDS_FRAMES; }

  int commit(input_context&, const input_end&) override {
    out_->flush();
    return out_->failure() == 0 && file_.commit() ? 0 : 1;
  }

 private:
  safe_file file_;
  std::unique_ptr<output_stream> out_;
  std::unique_ptr<frame_table> table_;
};

}  // namespace

std::unique_ptr<run_output> make_frames_output() { return std::unique_ptr<run_output>(new frames_output); }

}  // namespace dvlog
