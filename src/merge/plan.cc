#include "merge/plan.h"

#include "merge/planner.h"

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
    if (ok && make_graph() && check_shared() && order_nodes() && place_words() && check_rows()) make_rows(plan);
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
