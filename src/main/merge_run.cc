#include <initializer_list>

#include "main/run.h"
#include "merge/merge.h"

namespace dvlog {

// The merged stream is written whole, then logged as `dvlog OUT` would log
// it, and the merge's own facts follow that log.
int run_merge(const run_setup& setup) {
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
  merge_tally tally;
  const int status = merge_transfers(request, tally);
  if (status != 0) return status;

  run_setup of_output = setup;
  of_output.opts.paths = {setup.opts.merge};
  of_output.opts.merge = nullptr;
  of_output.merged = &tally.totals;
  const int log_status = run_all(of_output);
  if (log_status >= 128) return log_status;

  output_stream out(setup.out_fd, setup.err_fd, nullptr, &setup.wait);
  run_facts facts;
  json_log json(out, setup.year, facts);
  text_log text(out, setup.year);
  (setup.opts.json ? static_cast<event_sink&>(json) : static_cast<event_sink&>(text)).merge(tally.totals);
  out.flush();
  return out.failure() != 0 ? 1 : log_status;
}

}  // namespace dvlog
