// --stills DIR: the pictures of the tape as JPEG files in DIR, written once
// the input has been read, each told after the summary (text) or as an
// event (JSON).
#include <iterator>
#include <memory>

#include "main/outputs.h"
#include "main/run.h"
#include "stills/still_files.h"

namespace dvlog {

namespace {

class stills_output final : public run_output {
 public:
  int start_run(run_context& run) override {
    return make_output_dir(run.setup.opts.stills, "stills", run.setup.err_fd) ? 0 : 1;
  }
  preflight begin(input_context&) override { return preflight::ok; }
  unsigned needs() const override { return NEEDS_FRAMES | NEEDS_PICTURES; }

  int commit(input_context& c, const input_end&) override {
    const run_setup& setup = c.run.setup;
    const still_files_setup files{setup.opts.stills, c.base_name, c.never_written, c.never_written_count, &setup.wait,
                                  setup.err_fd};
    int status = write_still_files(*c.pictures, files, c.still_log) ? 0 : 1;
    c.run.out.flush();
    // Without FFmpeg's libraries no still asked for is written: each was
    // told without its picture, and the run says why, and fails.
    if (c.pictures->count() > 0 && c.pictures->failure()) {
      const char* const parts[] = {"Could not write stills to ", setup.opts.stills, ": ", c.pictures->failure(), "\n"};
      write_message(setup.err_fd, parts, std::size(parts));
      status = 1;
    }
    return status;
  }
};

}  // namespace

std::unique_ptr<run_output> make_stills_output() { return std::unique_ptr<run_output>(new stills_output); }

}  // namespace dvlog
