#include "merge/plan.h"

#include <type_traits>

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
    if (ok && make_graph() && check_shared() && order_nodes() && place_words()) {
      release_order();
      if (check_rows()) make_rows(plan);
    }
  }
  if (refusal_.why != merge_refusal::reason::none) plan = merge_plan{};
  return refusal_;
}

// What only the order and the placing needed, given back before the rows
// are checked: the peak of a long merge's memory is the plan's.
void planner::release_order() {
  const auto release = [](auto& v) { std::remove_reference_t<decltype(v)>().swap(v); };
  release(links_), release(silent_backs_), release(words_), release(word_reads_), release(parent_), release(group_stamps_);
  release(node_run_), release(node_runs_begin_), release(node_runs_), release(edge_begin_), release(edge_to_);
  release(in_begin_), release(in_from_), release(order_), release(position_), release(node_stamps_);
}

merge_refusal plan_merge(const std::vector<transfer_index>& transfers, read_comparer& compare,
                         const stop_request& stop, merge_plan& plan) {
  planner p(transfers, compare, stop);
  return p.run(plan);
}

}  // namespace dvlog
