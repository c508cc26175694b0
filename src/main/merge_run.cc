// --merge OUT: before anything else, OUT is written whole from the
// transfers; it is then the run's one input, logged as `dvlog OUT` would log
// it (its report shows where each stretch came from), and the merge's own
// facts follow that log.
#include <memory>

#include "log/json_log.h"
#include "log/text_log.h"
#include "main/outputs.h"
#include "main/run.h"
#include "merge/merge.h"
#include "output/progress.h"

namespace dvlog {

namespace {

class merge_output final : public run_output {
 public:
  int start_run(run_context& run) override {
    const run_setup& setup = run.setup;
    if (check_merge_files(setup.opts, setup.out_fd, setup.err_fd) != parse_result::run) return 2;
    const std::vector<const char*>& paths = setup.opts.paths;
    if (paths.size() > static_cast<size_t>(MAX_TRANSFERS)) {
      const char* const parts[] = {"dvlog: a merge takes 64 transfers at most\n"};
      write_message(setup.err_fd, parts, 1);
      return 1;
    }
    progress_line progress(setup.err_fd, 0);
    const merge_request request{paths.data(), static_cast<int>(paths.size()), setup.opts.merge, setup.err_fd,
                                setup.stop, setup.wait, wants_progress(setup) ? &progress : nullptr};
    if (const int status = merge_transfers(request, tally_)) return status;
    run.inputs = {setup.opts.merge};
    run.merged = &tally_.totals;
    return 0;
  }

  preflight begin(input_context&) override { return preflight::ok; }

  int end_run(run_context& run, int status) override {
    run_facts facts;
    json_log json(run.out, run.setup.year, facts);
    text_log text(run.out, run.setup.year);
    (run.setup.opts.json ? static_cast<event_sink&>(json) : static_cast<event_sink&>(text)).merge(tally_.totals);
    return status;
  }

 private:
  merge_tally tally_;
};

}  // namespace

std::unique_ptr<run_output> make_merge_output() { return std::unique_ptr<run_output>(new merge_output); }

}  // namespace dvlog
