#include "merge/align.h"

#include <algorithm>

#include "dv/dv_meta.h"
#include "merge/frame_match.h"

namespace dvlog {

namespace {

// Between anchors, a frame that matches nothing where it stands is looked for
// this many frames further on in either transfer: ten seconds of 525/60,
// more than a capture drops or a deck loses at once.
constexpr int64_t SEARCH_FRAMES = 300;
// Two walks go on alike for this many frames before they are taken to be in
// step: longer than the same black frames that open recordings.
constexpr int64_t RUN_FRAMES = 32;

struct keyed_frame {
  frame_key key;
  int64_t at;
};

// One tape frame of the plan being made: a frame of the tape so far, a read
// of the transfer matched in, or both; -1 for none.
struct step {
  int64_t p, j;
};

class aligner {
 public:
  aligner(const std::vector<transfer_index>& transfers, const merge_plan& tape, int32_t t)
      : transfers_(transfers), tape_(tape), t_(t), reads_(transfers[static_cast<size_t>(t)].frames) {}

  // The tape with transfer t matched in, in tape order.
  void align(std::vector<step>& out);
  // Frames matched by something both read.
  int64_t matched() const { return matched_; }

 private:
  likeness like(int64_t p, int64_t j) const;
  void find_anchors(std::vector<step>& chain) const;
  void walk(int64_t p_lo, int64_t p_hi, int64_t j_lo, int64_t j_hi, bool backward, std::vector<step>& out);

  const std::vector<transfer_index>& transfers_;
  const merge_plan& tape_;
  int32_t t_;
  const std::vector<frame_entry>& reads_;
  int64_t matched_ = 0;
};

// The reads a tape frame has are all of one frame: the new read must differ
// from none of them, and be told the same by one.
likeness aligner::like(int64_t p, int64_t j) const {
  const int32_t* row = tape_.frame(p);
  likeness result = likeness::unknown;
  for (int32_t s = 0; s < t_; ++s) {
    if (row[s] < 0) continue;
    const likeness l = compare_frames(transfers_[static_cast<size_t>(s)].frames[static_cast<size_t>(row[s])],
                                      reads_[static_cast<size_t>(j)]);
    if (l == likeness::different) return l;
    if (l == likeness::same) result = l;
  }
  return result;
}

frame_key tape_key(const std::vector<transfer_index>& transfers, const merge_plan& tape, int64_t p) {
  frame_key key{NO_INFO, NO_INFO, NO_INFO};
  const int32_t* row = tape.frame(p);
  for (int32_t s = 0; s < tape.transfers; ++s)
    if (row[s] >= 0) merge_key(key, key_of(transfers[static_cast<size_t>(s)].frames[static_cast<size_t>(row[s])]));
  return key;
}

// The frames whose timecode, date and time occur once on the tape so far and
// once in the new transfer, and that the content does not tell apart; of
// those, the longest chain that goes forward in both.
void aligner::find_anchors(std::vector<step>& chain) const {
  std::vector<keyed_frame> tape_keys, new_keys;
  tape_keys.reserve(static_cast<size_t>(tape_.frames()));
  new_keys.reserve(reads_.size());
  for (int64_t p = 0; p < tape_.frames(); ++p) {
    const frame_key k = tape_key(transfers_, tape_, p);
    if (k.timecode != NO_INFO) tape_keys.push_back({k, p});
  }
  for (size_t j = 0; j < reads_.size(); ++j) {
    const frame_key k = key_of(reads_[j]);
    if (k.timecode != NO_INFO) new_keys.push_back({k, static_cast<int64_t>(j)});
  }
  auto by_key = [](const keyed_frame& a, const keyed_frame& b) { return a.key < b.key || (a.key == b.key && a.at < b.at); };
  std::sort(tape_keys.begin(), tape_keys.end(), by_key);
  std::sort(new_keys.begin(), new_keys.end(), by_key);

  std::vector<step> unique;
  auto run_end = [](const std::vector<keyed_frame>& v, size_t i) {
    size_t e = i + 1;
    while (e < v.size() && v[e].key == v[i].key) ++e;
    return e;
  };
  for (size_t a = 0, b = 0; a < tape_keys.size() && b < new_keys.size();) {
    const size_t a_end = run_end(tape_keys, a), b_end = run_end(new_keys, b);
    if (tape_keys[a].key < new_keys[b].key) {
      a = a_end;
    } else if (new_keys[b].key < tape_keys[a].key) {
      b = b_end;
    } else {
      if (a_end == a + 1 && b_end == b + 1 && like(tape_keys[a].at, new_keys[b].at) == likeness::same)
        unique.push_back({tape_keys[a].at, new_keys[b].at});
      a = a_end, b = b_end;
    }
  }
  std::sort(unique.begin(), unique.end(), [](const step& x, const step& y) { return x.p < y.p; });

  // The longest run of anchors going forward in the new transfer too
  // (patience sorting): tails[n] ends the best chain of n + 1 found so far.
  std::vector<size_t> tails, before(unique.size());
  for (size_t k = 0; k < unique.size(); ++k) {
    const auto at = std::lower_bound(tails.begin(), tails.end(), unique[k].j,
                                     [&](size_t t, int64_t j) { return unique[t].j < j; });
    before[k] = at == tails.begin() ? SIZE_MAX : *(at - 1);
    if (at == tails.end())
      tails.push_back(k);
    else
      *at = k;
  }
  chain.clear();
  for (size_t k = tails.empty() ? SIZE_MAX : tails.back(); k != SIZE_MAX; k = before[k]) chain.push_back(unique[k]);
  std::reverse(chain.begin(), chain.end());
}

// Matches tape frames p_lo .. p_hi - 1 with new reads j_lo .. j_hi - 1 in
// step. Where the two go on alike (a pair told the same, and the pairs after
// it told apart by nothing, for RUN_FRAMES frames or to the end), they are
// matched. Otherwise the nearest place ahead in either where they go on alike
// decides which frames are missing from the other; failing that, the place
// where they go on alike longest. A pair that nothing tells apart or alike
// (both read too little) is taken as one frame; what is left is in one
// transfer only. A run, and not a single pair, decides, because frames may
// be alike that are not one frame: the same black frames at the start of two
// recordings. Walked backward before the first anchor, so that a late start
// leaves the tape's first frames alone.
void aligner::walk(int64_t p_lo, int64_t p_hi, int64_t j_lo, int64_t j_hi, bool backward, std::vector<step>& out) {
  const size_t first = out.size();
  const int64_t np = p_hi - p_lo, nj = j_hi - j_lo;
  auto P = [&](int64_t k) { return backward ? p_hi - 1 - k : p_lo + k; };
  auto J = [&](int64_t k) { return backward ? j_hi - 1 - k : j_lo + k; };
  // The pairs from (a, b) on that go on alike, up to RUN_FRAMES; 0 when the
  // first is not told the same.
  auto run = [&](int64_t a, int64_t b) {
    if (like(P(a), J(b)) != likeness::same) return int64_t{0};
    int64_t n = 1;
    while (n < RUN_FRAMES && a + n < np && b + n < nj && like(P(a + n), J(b + n)) != likeness::different) ++n;
    return n;
  };
  auto enough = [&](int64_t a, int64_t b, int64_t n) { return n >= RUN_FRAMES || a + n == np || b + n == nj; };

  int64_t a = 0, b = 0;
  while (a < np && b < nj) {
    // The best place to go on from: skip_p tape frames or skip_j new reads on.
    int64_t skip_p = 0, skip_j = 0, best = run(a, b);
    for (int64_t d = 1; !enough(a, b, best) && d <= SEARCH_FRAMES && (a + d < np || b + d < nj); ++d) {
      for (const bool on_tape : {true, false}) {
        const int64_t ta = on_tape ? a + d : a, tb = on_tape ? b : b + d;
        if (ta >= np || tb >= nj) continue;
        const int64_t n = run(ta, tb);
        if (n > best || (n == best && enough(ta, tb, n))) best = n, skip_p = ta - a, skip_j = tb - b;
        if (enough(ta, tb, best)) break;
      }
    }
    if (best > 0) {
      for (; skip_p > 0; --skip_p) out.push_back({P(a++), -1});
      for (; skip_j > 0; --skip_j) out.push_back({-1, J(b++)});
      out.push_back({P(a++), J(b++)});
      ++matched_;
    } else if (like(P(a), J(b)) == likeness::unknown) {
      out.push_back({P(a++), J(b++)});
    } else {
      out.push_back({P(a++), -1});
      out.push_back({-1, J(b++)});
    }
  }
  while (a < np) out.push_back({P(a++), -1});
  while (b < nj) out.push_back({-1, J(b++)});
  if (backward) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

void aligner::align(std::vector<step>& out) {
  std::vector<step> chain;
  find_anchors(chain);
  out.clear();
  out.reserve(static_cast<size_t>(tape_.frames()) + reads_.size());
  int64_t p = 0, j = 0;
  for (const step& anchor : chain) {
    walk(p, anchor.p, j, anchor.j, &anchor == &chain.front(), out);
    out.push_back(anchor);
    ++matched_;
    p = anchor.p + 1, j = anchor.j + 1;
  }
  walk(p, tape_.frames(), j, static_cast<int64_t>(reads_.size()), false, out);
}

// A tape frame read by one transfer only is no frame of the tape when it
// repeats a frame next to it (the same timecode, nothing differing: a capture
// wrote a frame twice, and the other transfers matched either copy); or when
// it has no timecode and the frames around it have consecutive ones, leaving
// no room for it; or, with no timecode around at all, when it repeats the
// content of its own transfer's read next to it and another transfer read the
// frames around it one after the other.
bool is_repeat(const std::vector<transfer_index>& transfers, const merge_plan& plan, int64_t p, int64_t before) {
  const int32_t* row = plan.frame(p);
  int32_t only = -1, count = 0;
  for (int32_t s = 0; s < plan.transfers; ++s)
    if (row[s] >= 0) only = s, ++count;
  if (count != 1) return false;
  const transfer_index& own = transfers[static_cast<size_t>(only)];
  const frame_entry& f = own.frames[static_cast<size_t>(row[only])];
  const bool last = p + 1 >= plan.frames();
  auto differs = [&](int64_t q) {
    const int32_t* reads = plan.frame(q);
    for (int32_t s = 0; s < plan.transfers; ++s)
      if (reads[s] >= 0 && compare_frames(transfers[static_cast<size_t>(s)].frames[static_cast<size_t>(reads[s])], f) ==
                               likeness::different)
        return true;
    return false;
  };
  auto same_timecode = [&](int64_t q) { return tape_key(transfers, plan, q).timecode == f.timecode && !differs(q); };
  if (has_time(f.timecode)) return same_timecode(before) || (!last && same_timecode(p + 1));
  if (last) return false;

  const frame_key previous = tape_key(transfers, plan, before), next = tape_key(transfers, plan, p + 1);
  if (previous.timecode != NO_INFO && next.timecode != NO_INFO)
    return timecode_follows(previous.timecode, next.timecode, transfers.front().system);
  if (previous.timecode != NO_INFO || next.timecode != NO_INFO) return false;
  const int32_t* prior = plan.frame(before);
  const int32_t* after = plan.frame(p + 1);
  bool repeats_own = false;
  for (const int32_t* near : {prior, after}) {
    const int32_t n = near[only];
    repeats_own |= (n == row[only] - 1 || n == row[only] + 1) &&
                   compare_frames(own.frames[static_cast<size_t>(n)], f) == likeness::same;
  }
  if (!repeats_own) return false;
  for (int32_t s = 0; s < plan.transfers; ++s)
    if (s != only && prior[s] >= 0 && after[s] == prior[s] + 1) return true;
  return false;
}

void drop_repeats(const std::vector<transfer_index>& transfers, merge_plan& plan) {
  const size_t width = static_cast<size_t>(plan.transfers);
  int64_t kept = 0;
  for (int64_t p = 0; p < plan.frames(); ++p) {
    if (kept > 0 && is_repeat(transfers, plan, p, kept - 1)) continue;
    if (kept != p)
      std::copy_n(plan.reads.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(p) * width), width,
                  plan.reads.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(kept) * width));
    ++kept;
  }
  plan.reads.resize(static_cast<size_t>(kept) * width);
}

}  // namespace

int32_t plan_merge(const std::vector<transfer_index>& transfers, merge_plan& plan) {
  const int32_t count = static_cast<int32_t>(transfers.size());
  const size_t width = static_cast<size_t>(count);
  plan.transfers = count;
  plan.reads.assign(transfers.front().frames.size() * width, -1);
  for (size_t j = 0; j < transfers.front().frames.size(); ++j) plan.reads[j * width] = static_cast<int32_t>(j);
  drop_repeats(transfers, plan);

  std::vector<step> steps;
  std::vector<int32_t> reads;
  for (int32_t t = 1; t < count; ++t) {
    aligner a(transfers, plan, t);
    a.align(steps);
    if (a.matched() == 0) return t;
    reads.assign(steps.size() * width, -1);
    for (size_t k = 0; k < steps.size(); ++k) {
      if (steps[k].p >= 0) std::copy_n(plan.frame(steps[k].p), width, reads.begin() + static_cast<std::ptrdiff_t>(k * width));
      reads[k * width + static_cast<size_t>(t)] = static_cast<int32_t>(steps[k].j);
    }
    plan.reads.swap(reads);
    drop_repeats(transfers, plan);
  }
  return -1;
}

}  // namespace dvlog
