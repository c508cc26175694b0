// The reads placed by position, fitted between the identified frames; the
// rows of the plan.

#include <algorithm>

#include "merge/planner.h"

namespace dvlog {

namespace {

// Fits `items` in order into distinct places of `places` (from the end when
// `from_end`), each where `fits` says nothing differs; a place where the two
// are told one frame is taken before one where nothing tells. Returns false
// when they do not fit.
template <typename Fits>
bool fit_in_order(size_t items, size_t places, bool from_end, Fits&& fits, std::vector<int64_t>& at) {
  at.assign(items, -1);
  if (items > places) return false;
  size_t next = 0;  // the first place still free, counted from the side fitted from
  for (size_t k = 0; k < items; ++k) {
    const size_t item = from_end ? items - 1 - k : k;
    const size_t last = places - (items - k);  // room is left for the items after
    int64_t chosen = -1;
    for (int pass = 0; pass < 2 && chosen < 0; ++pass)
      for (size_t p = next; p <= last && chosen < 0; ++p) {
        const size_t place = from_end ? places - 1 - p : p;
        const likeness l = fits(item, place);
        if (l == likeness::same || (pass == 1 && l == likeness::unknown)) chosen = static_cast<int64_t>(p);
      }
    if (chosen < 0) return false;
    at[item] = static_cast<int64_t>(from_end ? places - 1 - static_cast<size_t>(chosen) : static_cast<size_t>(chosen));
    next = static_cast<size_t>(chosen) + 1;
  }
  return true;
}

}  // namespace

bool planner::place_words() {
  const size_t nodes = order_.size();
  // Where each word goes: one gap (before the node at that position; `nodes`
  // after the last), or from after the node at `from` to before the node at
  // `to` when its pass missed identified frames between.
  struct target {
    int64_t gap = -1, from = -1, to = -1;
    bool from_end = false;
  };
  std::vector<target> targets(words_.size());
  std::vector<std::vector<int32_t>> by_gap(nodes + 1);
  for (size_t w = 0; w < words_.size(); ++w) {
    const word& wd = words_[w];
    target& tg = targets[w];
    const int64_t left = wd.left >= 0 ? position_[static_cast<size_t>(runs_[static_cast<size_t>(wd.left)].node)] : -1;
    const int64_t right = wd.right >= 0 ? position_[static_cast<size_t>(runs_[static_cast<size_t>(wd.right)].node)] : -1;
    switch (wd.how) {
      case word_kind::bounded:
        if (!links_[static_cast<size_t>(wd.link)].kept) {
          tg.gap = right, tg.from_end = true;  // a link not kept: the reads begin a pass
        } else if (right == left + 1) {
          tg.gap = right;
        } else {
          tg.from = left, tg.to = right;
        }
        break;
      case word_kind::start:
        tg.gap = right, tg.from_end = true;
        break;
      case word_kind::end:
        tg.gap = left + 1;
        break;
      case word_kind::floating:
        tg.gap = 0;
        break;
    }
    if (tg.gap >= 0) by_gap[static_cast<size_t>(tg.gap)].push_back(static_cast<int32_t>(w));
  }

  // Each gap holds the longest word fitted there; equal reads of a word are
  // one frame where the timecodes around the gap leave room for fewer.
  // A word's items: its reads, or, merged, runs of them; each by its first
  // read (into word_reads_), from word_items[w], item_count[w] of them.
  std::vector<int64_t> item_first;
  std::vector<int64_t> word_items(words_.size() + 1, 0), item_count(words_.size(), 0);
  // The reads of a word still placed in its gap, and those folded into the
  // frame next to it: (its position, reads from, to).
  std::vector<int64_t> word_begin(words_.size()), word_end(words_.size());
  struct fold {
    size_t position;
    int64_t begin, end;
  };
  std::vector<fold> folds;
  std::vector<int32_t> longest(nodes + 1, -1);
  std::vector<int64_t> gap_size(nodes + 1, 0);
  for (size_t w = 0; w < words_.size(); ++w) {
    word_items[w] = static_cast<int64_t>(item_first.size());
    const word& wd = words_[w];
    for (int64_t k = wd.begin; k < wd.end; ++k) item_first.push_back(k);
    item_count[w] = wd.end - wd.begin;
    word_begin[w] = wd.begin, word_end[w] = wd.end;
  }
  word_items[words_.size()] = static_cast<int64_t>(item_first.size());
  std::vector<int64_t> kept_items;
  for (size_t gap = 0; gap <= nodes; ++gap) {
    int64_t room = -1;
    if (gap > 0 && gap < nodes) {
      const stamp a = node_stamps_[static_cast<size_t>(order_[gap - 1])],
                  b = node_stamps_[static_cast<size_t>(order_[gap])];
      if (a.count >= 0 && b.count > a.count && !b.recording_start &&
          !(has_date(a.rec_date) && has_date(b.rec_date) && a.rec_date != b.rec_date))
        room = b.count - a.count - 1;
    }
    for (const int32_t w : by_gap[gap]) {
      if (stopped()) return false;
      // Items of the word: merged, two that are one frame first, where room
      // is short.
      const size_t wi = static_cast<size_t>(w);
      std::vector<int64_t> items(item_first.begin() + word_items[wi], item_first.begin() + word_items[wi + 1]);
      for (int strict = 1; strict >= 0 && room >= 0 && static_cast<int64_t>(items.size()) > room; --strict) {
        kept_items.clear();
        int64_t excess = static_cast<int64_t>(items.size()) - room;
        for (size_t k = 0; k < items.size(); ++k) {
          if (excess > 0 && !kept_items.empty()) {
            const likeness l = compare_.compare(word_reads_[static_cast<size_t>(kept_items.back())].read,
                                                word_reads_[static_cast<size_t>(items[k])].read);
            if (l == likeness::same || (!strict && l == likeness::unknown)) {
              --excess;
              continue;
            }
          }
          kept_items.push_back(items[k]);
        }
        items = kept_items;
      }
      // Still too many: the first or the last is a read of the frame next to
      // the gap (a repeat whose timecode was lost; a read after a pass's last
      // identified frame is likelier the next frame, one before its first,
      // the frame before).
      const bool after_first = words_[wi].how == word_kind::end;
      while (room >= 0 && static_cast<int64_t>(items.size()) > room) {
        bool folded = false;
        for (int strict = 1; strict >= 0 && !folded; --strict)
          for (const bool first : {!after_first, after_first}) {
            if (folded || (first ? gap == 0 : gap == nodes)) continue;
            const size_t position = first ? gap - 1 : gap;
            const int64_t item = first ? items.front() : items.back();
            const likeness l = compare_.compare(word_reads_[static_cast<size_t>(item)].read,
                                                best(node_run_[static_cast<size_t>(order_[position])]));
            if (l != likeness::same && (strict || l != likeness::unknown)) continue;
            const int64_t end = first ? (items.size() > 1 ? items[1] : word_end[wi]) : word_end[wi];
            folds.push_back({position, item, end});
            if (first) {
              word_begin[wi] = end;
              items.erase(items.begin());
            } else {
              word_end[wi] = item;
              items.pop_back();
            }
            folded = true;
          }
        if (!folded)
          return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[wi].begin)].read);
      }
      // Only the firsts of merged items are kept; item_first of the word is
      // rewritten in place, and the word's item count with it.
      std::copy(items.begin(), items.end(), item_first.begin() + word_items[wi]);
      item_count[wi] = static_cast<int64_t>(items.size());
      if (static_cast<int64_t>(items.size()) > gap_size[gap]) gap_size[gap] = static_cast<int64_t>(items.size()), longest[gap] = w;
    }
  }
  if (fail_if_unread()) return false;

  // Rows: each gap's places, then its node.
  gap_first_row_.assign(nodes + 2, 0);
  int64_t row = 0;
  for (size_t gap = 0; gap <= nodes; ++gap) {
    gap_first_row_[gap] = row;
    row += gap_size[gap] + (gap < nodes ? 1 : 0);
  }
  gap_first_row_[nodes + 1] = row;
  auto node_row = [&](size_t position) { return gap_first_row_[position] + gap_size[position]; };
  for (size_t position = 0; position < nodes; ++position) {
    const int32_t n = order_[position];
    for (int32_t k = node_runs_begin_[static_cast<size_t>(n)]; k < node_runs_begin_[static_cast<size_t>(n) + 1]; ++k) {
      const read_run& u = runs_[static_cast<size_t>(node_runs_[static_cast<size_t>(k)])];
      placed_.push_back({node_row(position), {{u.transfer, u.best}, u.pass, node_runs_[static_cast<size_t>(k)]}});
    }
  }
  for (const fold& f : folds)
    for (int64_t k = f.begin; k < f.end; ++k) placed_.push_back({node_row(f.position), word_reads_[static_cast<size_t>(k)]});
  // The reads of a word's item, into a row.
  auto place_item = [&](size_t w, size_t item, int64_t into) {
    const int64_t first = item_first[static_cast<size_t>(word_items[w]) + item];
    const bool last_item = static_cast<int64_t>(item) + 1 == item_count[w];
    const int64_t end = last_item ? word_end[w] : item_first[static_cast<size_t>(word_items[w]) + item + 1];
    for (int64_t k = first; k < end; ++k) placed_.push_back({into, word_reads_[static_cast<size_t>(k)]});
  };
  std::vector<int64_t> at;
  for (size_t gap = 0; gap <= nodes; ++gap) {
    const int32_t base = longest[gap];
    if (base < 0) continue;
    const size_t bw = static_cast<size_t>(base);
    for (int64_t k = 0; k < gap_size[gap]; ++k) place_item(bw, static_cast<size_t>(k), gap_first_row_[gap] + k);
    for (const int32_t w : by_gap[gap]) {
      if (w == base) continue;
      if (stopped()) return false;
      const size_t wi = static_cast<size_t>(w);
      const size_t items = static_cast<size_t>(item_count[wi]);
      auto fits = [&](size_t item, size_t place) {
        return compare_.compare(word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[wi]) + item])].read,
                                word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[bw]) + place])].read);
      };
      if (!fit_in_order(items, static_cast<size_t>(gap_size[gap]), targets[wi].from_end, fits, at))
        return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[wi].begin)].read);
      for (size_t k = 0; k < items; ++k) place_item(wi, k, gap_first_row_[gap] + at[k]);
    }
  }

  // Words of passes that missed identified frames: into the places and the
  // frames between the two they read.
  std::vector<int64_t> rows;
  std::vector<read_ref> stands;
  for (size_t w = 0; w < words_.size(); ++w) {
    const target& tg = targets[w];
    if (tg.gap >= 0) continue;
    if (stopped()) return false;
    rows.clear(), stands.clear();
    for (int64_t position = tg.from + 1; position <= tg.to; ++position) {
      const size_t gap = static_cast<size_t>(position);
      for (int64_t k = 0; k < gap_size[gap]; ++k) {
        rows.push_back(gap_first_row_[gap] + k);
        stands.push_back(word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[static_cast<size_t>(longest[gap])]) + static_cast<size_t>(k)])].read);
      }
      if (position < tg.to) rows.push_back(node_row(gap)), stands.push_back(best(node_run_[static_cast<size_t>(order_[gap])]));
    }
    const size_t items = static_cast<size_t>(words_[w].end - words_[w].begin);
    auto fits = [&](size_t item, size_t place) {
      return compare_.compare(word_reads_[static_cast<size_t>(words_[w].begin) + item].read, stands[place]);
    };
    if (!fit_in_order(items, rows.size(), false, fits, at))
      return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[w].begin)].read);
    for (size_t k = 0; k < items; ++k)
      placed_.push_back({rows[static_cast<size_t>(at[k])], word_reads_[static_cast<size_t>(words_[w].begin) + k]});
  }
  return !fail_if_unread();
}

// The plan: the rows in order, each with its reads in the order of the
// passes (a pass's repeats of the frame after its best read); passes that
// placed none are left out. Reads of a pass beyond its first in a row count
// as repeated.
void planner::make_rows(merge_plan& plan) {
  std::sort(placed_.begin(), placed_.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.second.pass != b.second.pass) return a.second.pass < b.second.pass;
    const int ra = entry(a.second.read).right_blocks, rb = entry(b.second.read).right_blocks;
    if (ra != rb) return ra > rb;
    return a.second.read.frame < b.second.read.frame;
  });
  std::vector<int32_t> number(pass_transfer_.size(), -1);
  plan = merge_plan{};
  plan.repeated.assign(transfers_.size(), 0);
  const int64_t rows = gap_first_row_.empty() ? 0 : gap_first_row_.back();
  plan.row_begin.reserve(static_cast<size_t>(rows) + 1);
  plan.reads.reserve(placed_.size());
  std::vector<int64_t> in_plan(transfers_.size(), 0);
  size_t k = 0;
  for (int64_t row = 0; row < rows; ++row) {
    plan.row_begin.push_back(static_cast<int64_t>(plan.reads.size()));
    int32_t last_pass = -1;
    for (; k < placed_.size() && placed_[k].first == row; ++k) {
      const placed_read& p = placed_[k].second;
      if (p.pass == last_pass) ++plan.repeated[static_cast<size_t>(p.read.transfer)];
      last_pass = p.pass;
      number[static_cast<size_t>(p.pass)] = 0;  // numbered below
      plan.reads.push_back({p.pass, p.read.frame});
      ++in_plan[static_cast<size_t>(p.read.transfer)];
    }
  }
  plan.row_begin.push_back(static_cast<int64_t>(plan.reads.size()));
  // Reads in no row: the repeats within a run.
  for (size_t t = 0; t < transfers_.size(); ++t)
    plan.repeated[t] += static_cast<int64_t>(transfers_[t].frames.size()) - transfers_[t].off_speed - in_plan[t];
  for (size_t p = 0; p < number.size(); ++p)
    if (number[p] == 0) number[p] = static_cast<int32_t>(plan.pass_transfer.size()), plan.pass_transfer.push_back(pass_transfer_[p]);
  for (plan_read& r : plan.reads) r.pass = number[static_cast<size_t>(r.pass)];
}

}  // namespace dvlog
