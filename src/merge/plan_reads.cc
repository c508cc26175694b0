// The reads grouped into runs, and the runs into identified frames by their
// content; the reads placed by position set apart.

#include <algorithm>
#include <numeric>

#include "dv/datetime.h"
#include "dv/system.h"
#include "merge/planner.h"

namespace dvlog {

namespace {

// How often the stages look for a stop: every this many steps.
constexpr uint32_t STEPS_BETWEEN_STOPS = 4096;

// What proposes two runs for comparing: the same whole content, the same
// content of one sequence number read whole, or (key 0) the same timecode.
struct proposal {
  uint64_t key;
  uint32_t timecode;  // NO_INFO when the run read none; of key 0, as a count of frames
  int32_t run;
  bool operator<(const proposal& o) const {
    if (key != o.key) return key < o.key;
    if (timecode != o.timecode) return timecode < o.timecode;
    return run < o.run;
  }
};

// A sequence number's content as a key: never 0, never odd (a signature is).
uint64_t sequence_key(int n, uint16_t content) { return (uint64_t{static_cast<unsigned>(n) + 1} << 17 | content) << 1; }

// A read with too little read right that the capture wrote twice: the same
// content in every sequence, read right or not, and the same keys.
bool copied(const frame_entry& a, const frame_entry& b) {
  if (a.right_blocks != b.right_blocks || a.sequences != b.sequences || a.damaged_blocks != b.damaged_blocks ||
      a.packs_read != b.packs_read || keys_differ(a, b))
    return false;
  for (int n = 0; n < MAX_SEQUENCE_NUMBERS; ++n)
    if (a.content[n] != b.content[n]) return false;
  return true;
}

}  // namespace

bool planner::stopped() {
  if (++steps_ % STEPS_BETWEEN_STOPS != 0 || !stop_requested(stop_)) return false;
  refusal_.why = merge_refusal::reason::stopped;
  return true;
}

bool planner::refuse(merge_refusal::reason why, read_ref at, read_ref other) {
  refusal_.why = why;
  refusal_.at = at;
  refusal_.other = other;
  return false;
}

bool planner::fail_if_unread() {
  if (compare_.error() == 0) return false;
  refusal_.why = merge_refusal::reason::failed;
  refusal_.error = compare_.error();
  return true;
}

int32_t planner::find(int32_t r) {
  while (parent_[static_cast<size_t>(r)] != r) {
    int32_t& up = parent_[static_cast<size_t>(r)];
    up = parent_[static_cast<size_t>(up)];
    r = up;
  }
  return r;
}

planner::stamp planner::stamp_of(int32_t r) const {
  const read_run& u = runs_[static_cast<size_t>(r)];
  stamp s{-1, NO_INFO, NO_INFO, NO_INFO, false};
  for (int32_t j = u.first; j < u.first + u.count; ++j) {
    const frame_entry& f = entry({u.transfer, j});
    if (!has_time(s.timecode) && has_time(f.timecode)) {
      s.timecode = f.timecode;
      const int fps = system_of(transfers_[static_cast<size_t>(u.transfer)].system).frames_per_second;
      s.count = timecode_frames(f.timecode, fps, (f.flags & FRAME_DROP_FRAME) != 0);
    }
    if (!has_date(s.rec_date) && has_date(f.rec_date)) s.rec_date = f.rec_date;
    if (!has_time(s.rec_time) && has_time(f.rec_time)) s.rec_time = f.rec_time;
    s.recording_start |= (f.flags & FRAME_RECORDING_START) != 0;
  }
  return s;
}

// Whether run `bare`, whose timecode was not read, may be a read of run
// `timed`'s frame: not where the runs next to it in its transfer have
// timecodes one frame apart on either side of it, and `timed`'s is another.
bool planner::timecode_fits(int32_t bare, int32_t timed) const {
  const int64_t own = stamp_of(timed).count, inferred = inferred_count(bare);
  return own < 0 || inferred < 0 || own == inferred;
}

// The timecode of a run whose own was not read, where the nearest runs with
// one before and after it in its transfer (a few runs away at most, no
// frames off speed between) are as many frames apart as runs: none was
// dropped between, so each run between is the next frame. -1 when not so.
int64_t planner::inferred_count(int32_t r) const {
  int64_t lo = -1, hi = -1;
  return counts_left(r, lo, hi) && lo == hi ? lo : -1;
}

// The timecodes the nearest runs with one before and after run r leave it,
// from `lo` to `hi`, where those runs are found and leave it one at least.
bool planner::counts_left(int32_t r, int64_t& lo, int64_t& hi) const {
  constexpr int32_t LOOKED_AT = 8;
  const size_t t = static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer);
  int32_t before = -1, after = -1;
  for (int32_t s = r; s > transfer_runs_[t] && s > r - LOOKED_AT && before < 0; --s) {
    if (runs_[static_cast<size_t>(s)].after_gap) break;
    if (stamp_of(s - 1).count >= 0) before = s - 1;
  }
  for (int32_t s = r + 1; s < transfer_runs_[t + 1] && s <= r + LOOKED_AT && after < 0; ++s) {
    if (runs_[static_cast<size_t>(s)].after_gap) break;
    if (stamp_of(s).count >= 0) after = s;
  }
  if (before < 0 || after < 0) return false;
  lo = stamp_of(before).count + (r - before);
  hi = stamp_of(after).count - (after - r);
  return lo <= hi;
}

// Two runs without timecodes that may be one frame: not where the frames
// around them give them two.
bool planner::bare_fit(int32_t a, int32_t b) const {
  const int64_t ia = inferred_count(a), ib = inferred_count(b);
  return ia < 0 || ib < 0 || ia == ib;
}

// Two runs by their best reads, and by the keys any of their reads read.
likeness planner::compare_runs(int32_t a, int32_t b) {
  const stamp sa = stamp_of(a), sb = stamp_of(b);
  frame_entry ka{}, kb{};
  ka.timecode = sa.timecode, ka.rec_date = sa.rec_date, ka.rec_time = sa.rec_time;
  kb.timecode = sb.timecode, kb.rec_date = sb.rec_date, kb.rec_time = sb.rec_time;
  if (keys_differ(ka, kb)) return likeness::different;
  return compare_.compare(best(a), best(b));
}

// Runs: reads of a transfer next to one another, at playback speed, each one
// frame with the one before (a capture's repeat, or frames nothing tells
// apart).
bool planner::make_runs() {
  transfer_runs_.assign(transfers_.size() + 1, 0);
  for (size_t t = 0; t < transfers_.size(); ++t) {
    transfer_runs_[t] = static_cast<int32_t>(runs_.size());
    const std::vector<frame_entry>& frames = transfers_[t].frames;
    const int32_t transfer = static_cast<int32_t>(t);
    bool gap = false, any = false;
    for (int32_t j = 0; j < static_cast<int32_t>(frames.size()); ++j) {
      if (stopped()) return false;
      if (frames[static_cast<size_t>(j)].flags & FRAME_OFF_SPEED) {
        gap = any;
        continue;
      }
      // A read whose timecode was lost, next to one with it, may be the
      // next frame of black or a still: it begins a run of its own.
      const bool timed = has_time(frames[static_cast<size_t>(j)].timecode);
      if (any && !gap && timed == has_time(frames[static_cast<size_t>(j) - 1].timecode) &&
          (compare_.compare({transfer, j - 1}, {transfer, j}) == likeness::same ||
           copied(frames[static_cast<size_t>(j) - 1], frames[static_cast<size_t>(j)]))) {
        read_run& u = runs_.back();
        ++u.count;
        if (frames[static_cast<size_t>(j)].right_blocks > frames[static_cast<size_t>(u.best)].right_blocks) u.best = j;
        continue;
      }
      read_run u{transfer, j, 1, j};
      u.after_gap = gap;
      runs_.push_back(u);
      gap = false, any = true;
    }
  }
  transfer_runs_.back() = static_cast<int32_t>(runs_.size());
  return !fail_if_unread();
}

// Runs read as one frame: those that the keys propose and the comparison
// confirms. First the runs with a timecode, among themselves; then each run
// without one joins the frame it is equal to, unless it is equal to two that
// differ (it is placed by position).
bool planner::group_runs() {
  const int32_t n = static_cast<int32_t>(runs_.size());
  parent_.resize(static_cast<size_t>(n));
  std::iota(parent_.begin(), parent_.end(), 0);
  group_.assign(static_cast<size_t>(n), -1);
  std::vector<proposal> proposals;
  proposals.reserve(static_cast<size_t>(n) * 3);
  std::vector<uint32_t> timecodes(static_cast<size_t>(n));
  for (int32_t r = 0; r < n; ++r) {
    read_run& u = runs_[static_cast<size_t>(r)];
    const frame_entry& f = entry(best(r));
    if (f.right_blocks < compare_.enough()) {
      u.how = kind::too_little;
      continue;
    }
    const uint32_t tc = stamp_of(r).timecode;
    timecodes[static_cast<size_t>(r)] = has_time(tc) ? tc : NO_INFO;
    const uint32_t keyed_tc = timecodes[static_cast<size_t>(r)];
    bool looked_up = false;
    // By the timecode as a count of frames: its own, or, where it was lost,
    // those the reads around it leave, a few at most (so that a read whose
    // subcode and some blocks were lost still meets the other reads of its
    // frame, frames dropped next to it or not).
    constexpr int64_t LEFT_COUNTS = 4;
    int64_t first_count = stamp_of(r).count, last_count = first_count;
    if (keyed_tc == NO_INFO && (!counts_left(r, first_count, last_count) || last_count - first_count >= LEFT_COUNTS))
      first_count = 0, last_count = -1;
    for (int64_t count = first_count; count <= last_count; ++count)
      if (count >= 0 && count < NO_INFO) proposals.push_back({0, static_cast<uint32_t>(count), r});
    if (f.signature != 0) proposals.push_back({f.signature, keyed_tc, r}), looked_up = true;
    if (f.content_read != 0) {
      const int lo = __builtin_ctz(f.content_read), hi = 31 - __builtin_clz(f.content_read);
      proposals.push_back({sequence_key(lo, f.content[lo]), keyed_tc, r});
      if (hi != lo) proposals.push_back({sequence_key(hi, f.content[hi]), keyed_tc, r});
      looked_up = true;
    }
    if (!looked_up && keyed_tc == NO_INFO) u.how = kind::unkeyed;
  }
  std::sort(proposals.begin(), proposals.end());

  // With a timecode: within each key, the runs of one timecode.
  std::vector<std::pair<int32_t, int32_t>> matched;  // a run without timecode, a root with one
  std::vector<int32_t> roots;
  for (size_t a = 0; a < proposals.size();) {
    size_t b = a;
    while (b < proposals.size() && proposals[b].key == proposals[a].key && proposals[b].timecode == proposals[a].timecode) ++b;
    if (proposals[a].timecode != NO_INFO) {
      roots.clear();
      for (size_t k = a; k < b; ++k) {
        if (stopped()) return false;
        const int32_t r = proposals[k].run;
        if (timecodes[static_cast<size_t>(r)] == NO_INFO) continue;
        bool joined = false;
        for (const int32_t root : roots) joined |= find(root) == find(r);
        for (size_t i = 0; i < roots.size() && !joined; ++i)
          if (compare_runs(r, roots[i]) == likeness::same) parent_[static_cast<size_t>(find(r))] = find(roots[i]), joined = true;
        if (!joined) roots.push_back(r);
      }
      // A run proposed by the timecode the runs around it leave is matched
      // as runs without timecode are (below).
      for (size_t k = a; k < b && proposals[a].key == 0; ++k) {
        const int32_t r = proposals[k].run;
        if (timecodes[static_cast<size_t>(r)] != NO_INFO) continue;
        for (const int32_t root : roots)
          if (compare_runs(r, root) == likeness::same) {
            matched.push_back({r, find(root)});
            break;
          }
      }
    }
    a = b;
  }
  if (fail_if_unread()) return false;

  // Without: runs equal one to another join; each notes the frames with a
  // timecode it is equal to (two at most are looked for).
  std::vector<int32_t> bare_roots;
  for (size_t a = 0; a < proposals.size();) {
    size_t b = a;
    while (b < proposals.size() && proposals[b].key == proposals[a].key) ++b;
    if (proposals[a].key == 0) {
      a = b;
      continue;
    }
    roots.clear();
    bare_roots.clear();
    for (size_t k = a; k < b; ++k) {
      const int32_t r = proposals[k].run;
      if (proposals[k].timecode == NO_INFO) continue;
      bool known = false;
      for (const int32_t root : roots) known |= find(root) == find(r);
      if (!known) roots.push_back(r);
    }
    for (size_t k = a; k < b; ++k) {
      if (stopped()) return false;
      const int32_t r = proposals[k].run;
      if (proposals[k].timecode != NO_INFO) continue;
      int found = 0;
      for (size_t i = 0; i < roots.size() && found < 2; ++i)
        if (compare_runs(r, roots[i]) == likeness::same && timecode_fits(r, roots[i]))
          matched.push_back({r, find(roots[i])}), ++found;
      bool joined = false;
      for (const int32_t root : bare_roots) joined |= find(root) == find(r);
      for (size_t i = 0; i < bare_roots.size() && !joined; ++i)
        if (compare_runs(r, bare_roots[i]) == likeness::same && bare_fit(r, bare_roots[i]))
          parent_[static_cast<size_t>(find(r))] = find(bare_roots[i]), joined = true;
      if (!joined) bare_roots.push_back(r);
    }
    a = b;
  }
  if (fail_if_unread()) return false;

  // A run that no key joined to another, or whose frame some transfer has
  // not read: compared with the runs next to it in its transfer (a repeat
  // that lost what the keys need), and with those next to the other reads of
  // the frames next to it (a damaged read whose timecode was lost; reads
  // that lost the same sequences, keyed alike, but not as the others).
  std::vector<std::pair<int32_t, int32_t>> by_group;  // root, run
  auto eligible = [&](int32_t r) {
    const kind how = runs_[static_cast<size_t>(r)].how;
    return how == kind::identified || how == kind::unkeyed;
  };
  for (int32_t r = 0; r < n; ++r)
    if (eligible(r)) by_group.push_back({find(r), r});
  std::sort(by_group.begin(), by_group.end());
  auto members = [&](int32_t root) {
    const auto from = std::lower_bound(by_group.begin(), by_group.end(), std::make_pair(root, int32_t{-1}));
    auto to = from;
    while (to != by_group.end() && to->first == root) ++to;
    return std::make_pair(from, to);
  };
  // The run `step` runs from r in its transfer, with no frames off speed
  // between; -1 when none.
  auto next_to = [&](int32_t r, int step) {
    const int32_t s = r + step;
    const size_t t = static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer);
    if (s < transfer_runs_[t] || s >= transfer_runs_[t + 1]) return int32_t{-1};
    for (int32_t k = std::min(r, s) + 1; k <= std::max(r, s); ++k)
      if (runs_[static_cast<size_t>(k)].after_gap) return int32_t{-1};
    return s;
  };
  constexpr size_t MEMBERS_LOOKED_AT = 8;
  constexpr int32_t NEAR_RUNS = 4, RETAKE_RUNS = 128;
  std::vector<int32_t> candidates;
  for (int32_t r = 0; r < n; ++r) {
    if (!eligible(r)) continue;
    const auto own = members(find(r));
    size_t transfers_read = 0;  // the transfers that read its frame
    for (auto m = own.first; m != own.second; ++m)
      transfers_read += m == own.first || runs_[static_cast<size_t>(m->second)].transfer !=
                                              runs_[static_cast<size_t>((m - 1)->second)].transfer;
    if (own.second - own.first > 1 && transfers_read == transfers_.size()) continue;
    if (stopped()) return false;
    candidates.clear();
    for (const int side : {-1, 1}) {
      // The nearest run that may be compared, past a stand-in or two.
      int32_t beside = next_to(r, side);
      for (int step = 2; beside >= 0 && !eligible(beside) && step <= 3; ++step) beside = next_to(r, side * step);
      if (beside < 0 || !eligible(beside)) continue;
      candidates.push_back(beside);
      const auto others = members(find(beside));
      size_t looked = 0;
      for (auto m = others.first; m != others.second && looked < MEMBERS_LOOKED_AT; ++m, ++looked)
        for (const int step : {1, 2})
          if (m->second != beside) candidates.push_back(next_to(m->second, -side * step));
    }
    // And the runs near it in its transfer, across frames off speed too: a
    // pass that read only this before the deck shuttled says nothing of
    // where it lies.
    const size_t t = static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer);
    for (int32_t s = std::max(transfer_runs_[t], r - NEAR_RUNS); s <= std::min(transfer_runs_[t + 1] - 1, r + NEAR_RUNS); ++s)
      if (s != r) candidates.push_back(s);
    // And further, as far as a retake goes back, where the sequences both
    // read whole are alike, one at least (only these are read again to
    // compare): a frame the capture read again whose keys met nothing, its
    // neighbours as damaged.
    // A read with nothing whole where a pass begins (its place there says
    // nothing: the deck may have gone back just after it) is compared with
    // all of them.
    bool opens_pass = runs_[static_cast<size_t>(r)].how == kind::unkeyed;
    for (int32_t s = r; opens_pass && s > transfer_runs_[t] && !runs_[static_cast<size_t>(s)].after_gap; --s)
      opens_pass = s > r - NEAR_RUNS;
    for (int32_t s = std::max(transfer_runs_[t], r - RETAKE_RUNS); s <= std::min(transfer_runs_[t + 1] - 1, r + RETAKE_RUNS); ++s) {
      if ((s >= r - NEAR_RUNS && s <= r + NEAR_RUNS) || !eligible(s)) continue;
      int common = 0;
      if (opens_pass || (compare_.compare_whole(best(r), best(s), &common) != likeness::different && common > 0))
        candidates.push_back(s);
    }
    const bool timed = timecodes[static_cast<size_t>(r)] != NO_INFO && runs_[static_cast<size_t>(r)].how != kind::unkeyed;
    for (const int32_t c : candidates) {
      if (c < 0 || c == r || !eligible(c) || find(c) == find(r) || compare_runs(r, c) != likeness::same) continue;
      const bool c_timed = runs_[static_cast<size_t>(c)].how != kind::unkeyed && timecodes[static_cast<size_t>(c)] != NO_INFO;
      // (A timecode inferred from the frames around a read is a guess: a
      // capture that dropped frames and went back counts the same. Against
      // a picture read twice, not black or a still, it gives way.)
      // (Looked at only where it decides: it reads blocks again.)
      const auto picture = [&] { return !picture_held(r) && !picture_held(c); };
      if (timed == c_timed && (timed || bare_fit(r, c) || picture()))
        parent_[static_cast<size_t>(find(r))] = find(c);
      else if (timed != c_timed && ((timed ? timecode_fits(c, r) : timecode_fits(r, c)) || picture()))
        matched.push_back(timed ? std::make_pair(c, find(r)) : std::make_pair(r, find(c)));
      else
        continue;
      runs_[static_cast<size_t>(r)].how = runs_[static_cast<size_t>(c)].how = kind::identified;
    }
  }
  if (fail_if_unread()) return false;

  // A group without timecode joins the one frame with a timecode its runs
  // are equal to; equal to two, it is placed by position.
  for (auto& m : matched) m.first = find(m.first);
  std::sort(matched.begin(), matched.end());
  matched.erase(std::unique(matched.begin(), matched.end()), matched.end());
  std::vector<bool> ambiguous(static_cast<size_t>(n), false);
  std::vector<std::pair<int32_t, int32_t>> joins;
  for (size_t a = 0; a < matched.size();) {
    size_t b = a;
    while (b < matched.size() && matched[b].first == matched[a].first) ++b;
    if (b - a == 1)
      joins.push_back(matched[a]);
    else
      ambiguous[static_cast<size_t>(matched[a].first)] = true;
    a = b;
  }
  for (const auto& j : joins) parent_[static_cast<size_t>(find(j.first))] = find(j.second);
  // The ambiguous groups joined nothing: they are roots still.
  for (int32_t r = 0; r < n; ++r) {
    read_run& u = runs_[static_cast<size_t>(r)];
    if (u.how == kind::identified && ambiguous[static_cast<size_t>(find(r))]) u.how = kind::ambiguous;
  }
  for (int32_t r = 0; r < n; ++r)
    if (runs_[static_cast<size_t>(r)].how == kind::identified) group_[static_cast<size_t>(r)] = find(r);
  plain_.assign(static_cast<size_t>(n), false);
  group_stamps_.resize(static_cast<size_t>(n));
  for (int32_t r = 0; r < n; ++r) group_stamps_[static_cast<size_t>(r)] = stamp_of(r);
  for (int32_t r = 0; r < n; ++r) {
    const int32_t g = group_[static_cast<size_t>(r)];
    if (g < 0 || g == r) continue;
    stamp& into = group_stamps_[static_cast<size_t>(g)];
    const stamp s = stamp_of(r);
    if (into.count < 0 && s.count >= 0) into.timecode = s.timecode, into.count = s.count;
    if (!has_date(into.rec_date)) into.rec_date = s.rec_date;
    if (!has_time(into.rec_time)) into.rec_time = s.rec_time;
    into.recording_start |= s.recording_start;
  }
  return true;
}

// Content the tape holds more than once, when no timecode tells its frames
// apart: a run of PLAIN_RUN equal reads or more without a timecode, silent
// (the tape's sound runs on from frame to frame: equal reads in which it
// was heard are one frame); and a
// group (not a recording's first frame) that comes again in a transfer with
// nothing between but such content (the phases of a black leader's sound, a
// still).
void planner::find_plain() {
  const size_t n = runs_.size();
  for (size_t r = 0; r < n; ++r)
    if (group_[r] >= 0 && runs_[r].count >= PLAIN_RUN && stamp_of(static_cast<int32_t>(r)).count < 0 &&
        !heard(runs_[r]))
      plain_[static_cast<size_t>(group_[r])] = true;
  std::vector<int32_t> seen_in(n, -1), last_at(n, -1);
  std::vector<int64_t> others_at(n, 0);
  for (bool changed = true; changed;) {
    changed = false;
    std::fill(seen_in.begin(), seen_in.end(), -1);
    for (size_t t = 0; t + 1 < transfer_runs_.size(); ++t) {
      int64_t others = 0;  // runs so far that are not of such content
      int32_t last_plain = -1;
      for (int32_t r = transfer_runs_[t]; r < transfer_runs_[t + 1]; ++r) {
        const int32_t g = group_[static_cast<size_t>(r)];
        if (g < 0) {
          ++others;
          continue;
        }
        const size_t gi = static_cast<size_t>(g);
        // (A recording's first frame marks its place: it comes again only
        // where the deck went back, or a recording began alike. And the
        // content between shows the same picture, whose sound differs: a
        // picture of its own come again is the deck gone back.)
        if (seen_in[gi] == static_cast<int32_t>(t) && last_at[gi] != r - 1 && others_at[gi] == others && !plain_[gi] &&
            !group_stamps_[gi].recording_start && last_plain > last_at[gi] &&
            compare_.pictures(best(r), best(last_plain)) != likeness::different)
          plain_[gi] = true, changed = true;
        seen_in[gi] = static_cast<int32_t>(t), last_at[gi] = r;
        if (!plain_[gi]) ++others;
        else last_plain = r;
        others_at[gi] = others;
      }
    }
  }
  for (size_t r = 0; r < n; ++r)
    if (group_[r] >= 0) runs_[r].how = plain_[static_cast<size_t>(group_[r])] ? kind::plain : kind::identified;
}

}  // namespace dvlog
