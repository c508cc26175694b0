#include "merge/plan.h"

#include "merge/planner.h"
#include <cstdio>
#include <cstdlib>

namespace dvlog {

merge_refusal planner::run(merge_plan& plan) {
  plan = merge_plan{};
  plan.repeated.assign(transfers_.size(), 0);
  if (make_runs() && group_runs()) {
    bool ok = true;
    for (bool again = true; again && ok;) {
      find_plain();
      ok = cut_passes(again);
    }
    ok = ok && make_graph();
    if (getenv("DVLOG_PLAN_DEBUG")) debug_dump();
    if (ok && check_shared() && order_nodes() && place_words() && check_rows()) { make_rows(plan); if (getenv("DVLOG_PLAN_DEBUG")) for (size_t r = 0; r + 1 < plan.row_begin.size(); ++r) { fprintf(stderr, "row %zu:", r); for (int64_t k = plan.row_begin[r]; k < plan.row_begin[r + 1]; ++k) fprintf(stderr, " t%d/f%d", plan.pass_transfer[plan.reads[k].pass], plan.reads[k].frame); fprintf(stderr, "\n"); } }
  }
  if (refusal_.why != merge_refusal::reason::none) plan = merge_plan{};
  return refusal_;
}

merge_refusal plan_merge(const std::vector<transfer_index>& transfers, read_comparer& compare,
                         const stop_request& stop, merge_plan& plan) {
  planner p(transfers, compare, stop);
  return p.run(plan);
}

}  // namespace dvlog


namespace dvlog {
void planner::debug_dump() {
  for (size_t r = 0; r < runs_.size(); ++r) {
    const read_run& u = runs_[r];
    const stamp st = stamp_of(static_cast<int32_t>(r));
    fprintf(stderr, "run %zu t%d f%d x%d kind%d group%d node%d pass%d gap%d tc%lld rs%d right%d\n", r, u.transfer, u.first, u.count,
            (int)u.how, group_[r], u.node, u.pass, u.after_gap, (long long)st.count, st.recording_start, entry(best((int32_t)r)).right_blocks);
  }
  for (const link& l : links_) fprintf(stderr, "link %d->%d soft%d kept%d prio%d\n", l.from, l.to, l.soft, l.kept, l.priority);
  for (const word& w : words_) fprintf(stderr, "word %d l%d r%d link%d n%lld\n", (int)w.how, w.left, w.right, w.link, (long long)(w.end - w.begin));
}
}
