#include "merge/align.h"

#include <algorithm>
#include <unordered_map>

#include "merge/frame_match.h"
#include "merge/stretches.h"

namespace dvlog {

namespace {

// Between anchors, a frame that matches nothing where it stands is looked for
// this many frames further on in either: ten seconds of 525/60, more than a
// capture drops or a deck loses at once.
constexpr int64_t SEARCH_FRAMES = 300;
// Two walks go on alike for this many frames before they are taken to be in
// step: longer than the same black frames that open recordings.
constexpr int64_t RUN_FRAMES = 32;
// Or for this many up to where either ends: a still whose sound repeats
// every few frames goes on alike with itself for as long as its period.
constexpr int64_t END_RUN_FRAMES = 8;
// Passes of one transfer told apart; more (a capture put together out of
// order) share them, so that the plan stays small.
constexpr int32_t MAX_PASSES = 32;

// What makes a frame stand out: its timecode with its recording date and
// time, or, where it was all read right, its whole content.
struct anchor_key {
  frame_key keys;
  uint64_t signature;

  bool operator==(const anchor_key& o) const { return keys == o.keys && signature == o.signature; }
  bool operator<(const anchor_key& o) const {
    return keys < o.keys || (keys == o.keys && signature < o.signature);
  }
};

struct keyed_frame {
  anchor_key key;
  int64_t at;
};

// The keys a frame offers as an anchor, into `out`; how many.
int anchor_keys(const frame_key& k, uint64_t signature, anchor_key out[2]) {
  int n = 0;
  if (k.timecode != NO_INFO) out[n++] = {k, 0};
  if (signature != 0) out[n++] = {{NO_INFO, NO_INFO, NO_INFO}, signature};
  return n;
}

// One tape frame of the plan being made: a frame of the tape so far, a read
// of the stretch matched in, or both; -1 for none.
struct step {
  int64_t p, j;
};

// Matches one stretch of a transfer, going forward, to the tape so far.
class aligner {
 public:
  aligner(const std::vector<transfer_index>& transfers, const merge_plan& tape, int32_t t, const stretch_reads& s)
      : transfers_(transfers), tape_(tape), t_(t), frames_(transfers[static_cast<size_t>(t)].frames),
        stretch_(s.reads + s.begin), size_(s.end - s.begin), reach_(s.reach - s.begin) {}

  // The tape with the stretch matched in, in tape order. Where no anchor
  // places it, the stretch goes on from tape frame `follow_from`. Returns
  // the anchors found.
  size_t align(int64_t follow_from, std::vector<step>& out);
  // Reads matched, by something that tells their place (not a black frame
  // or a still alone), to frames other transfers read.
  int64_t telling() const { return telling_; }
  // Reads left out, repeating the frame before them.
  int64_t repeats() const { return repeats_; }
  // True when read j is the same as a tape frame of the same timecode, or of
  // the same whole content.
  bool on_tape(int64_t j) const;
  // The first tape frame whose keys put it where a read of the stretch is,
  // but whose content differs where both were read right, and the transfer
  // that read it: -1 when none.
  int64_t conflict() const { return conflict_; }
  int32_t conflict_transfer() const { return conflict_transfer_; }
  const frame_entry* conflict_read() const { return conflict_read_; }

 private:
  const frame_entry& read(int64_t j) const { return frames_[static_cast<size_t>(stretch_[j])]; }
  const frame_entry& tape_read(int64_t p, int32_t c) const {
    const int32_t transfer = tape_.column_transfer[static_cast<size_t>(c)];
    return transfers_[static_cast<size_t>(transfer)].frames[static_cast<size_t>(tape_.frame(p)[c])];
  }
  likeness like(int64_t p, int64_t j) const;
  frame_key tape_key(int64_t p) const;
  bool tape_plain(int64_t p) const;
  bool goes_on_alike(int64_t p, int64_t j) const;
  void find_anchors(std::vector<step>& chain) const;
  void walk(int64_t p_lo, int64_t p_hi, int64_t j_lo, int64_t j_hi, bool backward, std::vector<step>& out);
  // A match tells that the transfer shares the frame with the others when
  // the frame stands out and another transfer read it.
  void matched(int64_t p, int64_t j) {
    if (read(j).flags & FRAME_PLAIN) return;
    for (int32_t c = 0; c < tape_.columns; ++c)
      if (tape_.frame(p)[c] >= 0 && tape_.column_transfer[static_cast<size_t>(c)] != t_) {
        ++telling_;
        return;
      }
  }
  void check_conflict(int64_t p, int64_t j);

  const std::vector<transfer_index>& transfers_;
  const merge_plan& tape_;
  int32_t t_;
  const std::vector<frame_entry>& frames_;
  const int32_t* stretch_;  // the stretch's reads, and those after it up to `reach_`
  int64_t size_, reach_;
  int64_t telling_ = 0, repeats_ = 0;
  int64_t conflict_ = -1;
  int32_t conflict_transfer_ = -1;
  const frame_entry* conflict_read_ = nullptr;
  // The tape frames by timecode and by signature, made when first needed.
  mutable std::unordered_multimap<uint64_t, int64_t> tape_words_;
};

// The reads a tape frame has are all of one frame: the new read must differ
// from none of them, and be told the same by one.
likeness aligner::like(int64_t p, int64_t j) const {
  const int32_t* row = tape_.frame(p);
  likeness result = likeness::unknown;
  for (int32_t c = 0; c < tape_.columns; ++c) {
    if (row[c] < 0) continue;
    const likeness l = compare_frames(tape_read(p, c), read(j));
    if (l == likeness::different) return l;
    if (l == likeness::same) result = l;
  }
  return result;
}

frame_key aligner::tape_key(int64_t p) const {
  frame_key key{NO_INFO, NO_INFO, NO_INFO};
  for (int32_t c = 0; c < tape_.columns; ++c)
    if (tape_.frame(p)[c] >= 0) merge_key(key, key_of(tape_read(p, c)));
  return key;
}

// A tape frame tells no place when every read of it is the same as a frame
// next to it.
bool aligner::tape_plain(int64_t p) const {
  for (int32_t c = 0; c < tape_.columns; ++c)
    if (tape_.frame(p)[c] >= 0 && !(tape_read(p, c).flags & FRAME_PLAIN)) return false;
  return true;
}

// A timecode and a signature as one word for looking frames up: a
// signature's low bit is always set, a timecode's never.
uint64_t lookup_word(uint32_t timecode) { return uint64_t{timecode} << 1; }

bool aligner::on_tape(int64_t j) const {
  if (tape_words_.empty()) {
    for (int64_t p = 0; p < tape_.frames(); ++p)
      for (int32_t c = 0; c < tape_.columns; ++c) {
        if (tape_.frame(p)[c] < 0) continue;
        const frame_entry& g = tape_read(p, c);
        if (has_time(g.timecode)) tape_words_.emplace(lookup_word(g.timecode), p);
        if (g.signature != 0) tape_words_.emplace(g.signature, p);
      }
    tape_words_.emplace(0, -1);  // built, even for a tape without words
  }
  const frame_entry& f = read(j);
  for (const uint64_t word : {has_time(f.timecode) ? lookup_word(f.timecode) : 0, f.signature}) {
    if (word == 0) continue;
    const auto found = tape_words_.equal_range(word);
    for (auto it = found.first; it != found.second; ++it)
      if (like(it->second, j) == likeness::same) return true;
  }
  return false;
}

// Two reads whose keys put them at one place, of two transfers, that differ
// in what both read right: not transfers of one tape.
void aligner::check_conflict(int64_t p, int64_t j) {
  if (conflict_ >= 0 || !has_time(read(j).timecode)) return;
  const int32_t* row = tape_.frame(p);
  for (int32_t c = 0; c < tape_.columns; ++c) {
    const int32_t transfer = tape_.column_transfer[static_cast<size_t>(c)];
    if (row[c] < 0 || transfer == t_) continue;
    const frame_entry& other = tape_read(p, c);
    if (other.timecode != read(j).timecode || compare_frames(other, read(j)) != likeness::different) continue;
    const frame_key a = key_of(other), b = key_of(read(j));
    if ((a.rec_date != NO_INFO && b.rec_date != NO_INFO && a.rec_date != b.rec_date) ||
        (a.rec_time != NO_INFO && b.rec_time != NO_INFO && a.rec_time != b.rec_time))
      continue;  // another recording under the same timecode
    conflict_ = p, conflict_transfer_ = transfer, conflict_read_ = &other;
    return;
  }
}

// True when the tape from frame p and the transfer from read j of the stretch
// go on alike, told apart by nothing, for RUN_FRAMES frames or to the end of
// either (the transfer's where it stops reading at playback speed): the same
// black frames that open two recordings under one timecode go on alike only
// until the pictures begin. The transfer is followed past the stretch: where
// it was cut tells nothing.
bool aligner::goes_on_alike(int64_t p, int64_t j) const {
  const int64_t np = tape_.frames();
  for (const int64_t way : {1, -1}) {  // the transfer read the tape forward, or (put together so) backward
    int64_t n = 1;
    while (n < RUN_FRAMES && p + way * n >= 0 && p + way * n < np && j + n < reach_ &&
           like(p + way * n, j + n) != likeness::different)
      ++n;
    if (n >= RUN_FRAMES || (n >= END_RUN_FRAMES && ((way > 0 && p + n == np) || j + n == reach_))) return true;
  }
  return false;
}

// The frames whose keys occur once on the tape so far and once in the
// stretch, that the content does not tell apart, that stand out from the
// frames next to them, and from which both go on alike; of those, the
// longest chain that goes forward in both.
void aligner::find_anchors(std::vector<step>& chain) const {
  std::vector<keyed_frame> tape_keys, new_keys;
  tape_keys.reserve(static_cast<size_t>(tape_.frames()));
  new_keys.reserve(static_cast<size_t>(size_));
  anchor_key keys[2];
  for (int64_t p = 0; p < tape_.frames(); ++p) {
    uint64_t signature = 0;
    for (int32_t c = 0; c < tape_.columns && signature == 0; ++c)
      if (tape_.frame(p)[c] >= 0) signature = tape_read(p, c).signature;
    for (int k = anchor_keys(tape_key(p), signature, keys); k-- > 0;) tape_keys.push_back({keys[k], p});
  }
  for (int64_t j = 0; j < size_; ++j) {
    const frame_entry& f = read(j);
    for (int k = anchor_keys(key_of(f), f.signature, keys); k-- > 0;) new_keys.push_back({keys[k], j});
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
      const int64_t p = tape_keys[a].at, j = new_keys[b].at;
      if (a_end == a + 1 && b_end == b + 1 && !(read(j).flags & FRAME_PLAIN) && !tape_plain(p) &&
          like(p, j) == likeness::same && goes_on_alike(p, j))
        unique.push_back({p, j});
      a = a_end, b = b_end;
    }
  }
  // A frame may stand out by both keys; a tape frame placed at two reads
  // anchors neither.
  auto before_in_tape = [](const step& x, const step& y) { return x.p < y.p || (x.p == y.p && x.j < y.j); };
  auto same_pair = [](const step& x, const step& y) { return x.p == y.p && x.j == y.j; };
  std::sort(unique.begin(), unique.end(), before_in_tape);
  unique.erase(std::unique(unique.begin(), unique.end(), same_pair), unique.end());
  size_t kept = 0;
  for (size_t k = 0; k < unique.size(); ++k) {
    const bool alone =
        (k == 0 || unique[k - 1].p != unique[k].p) && (k + 1 == unique.size() || unique[k + 1].p != unique[k].p);
    if (alone) unique[kept++] = unique[k];
  }
  unique.resize(kept);

  // The longest run of anchors going forward in both (patience sorting):
  // tails[n] ends the best chain of n + 1 found so far.
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

// Matches tape frames p_lo .. p_hi - 1 with reads j_lo .. j_hi - 1 of the
// stretch in step. Where the two go on alike (a pair told the same, and the
// pairs after it told apart by nothing, for RUN_FRAMES frames or to the end),
// they are matched. Otherwise the nearest place ahead in either where they go
// on alike decides which frames are missing from the other; failing that,
// the place where they go on alike longest. A pair that nothing tells apart
// or alike (both read too little) is taken as one frame; what is left is in
// one of them only. A run, and not a single pair, decides, because frames may
// be alike that are not one frame: the same black frames at the start of two
// recordings. A read the same as the one before it, which was matched to a
// frame that tells its place, is that frame again (a capture repeated it):
// left out. Walked backward before the first anchor, so that a late start
// leaves the tape's first frames alone.
void aligner::walk(int64_t p_lo, int64_t p_hi, int64_t j_lo, int64_t j_hi, bool backward, std::vector<step>& out) {
  const size_t first = out.size();
  const int64_t np = p_hi - p_lo, nj = j_hi - j_lo;
  auto P = [&](int64_t k) { return backward ? p_hi - 1 - k : p_lo + k; };
  auto J = [&](int64_t k) { return backward ? j_hi - 1 - k : j_lo + k; };
  // The pairs from (a, b) on that go on alike, up to RUN_FRAMES; 0 when the
  // first is not told the same.
  // Going forward, the run goes on past the stretch, as far as the tape and
  // the transfer's reading go: where the stretch was cut tells nothing.
  const int64_t np_run = backward ? np : tape_.frames() - p_lo, nj_run = backward ? nj : reach_ - j_lo;
  auto run = [&](int64_t a, int64_t b) {
    if (like(P(a), J(b)) != likeness::same) return int64_t{0};
    int64_t n = 1;
    while (n < RUN_FRAMES && a + n < np_run && b + n < nj_run && like(P(a + n), J(b + n)) != likeness::different) ++n;
    return n;
  };
  auto enough = [&](int64_t a, int64_t b, int64_t n) { return n >= RUN_FRAMES || a + n == np_run || b + n == nj_run; };

  int64_t a = 0, b = 0, last_match = -1;  // the tape frame the read before was matched to
  while (a < np && b < nj) {
    // The best place to go on from: skip_p tape frames or skip_j reads on.
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
      for (; skip_j > 0; --skip_j) out.push_back({-1, J(b++)}), last_match = -1;
      if (enough(a, b, best)) matched(P(a), J(b));
      last_match = P(a);
      out.push_back({P(a++), J(b++)});
    } else if (!backward && last_match >= 0 && (read(J(b)).flags & FRAME_REPEATS) && !tape_plain(last_match) &&
               like(last_match, J(b)) == likeness::same) {
      ++repeats_, ++b;
    } else if (like(P(a), J(b)) == likeness::unknown) {
      last_match = -1;
      out.push_back({P(a++), J(b++)});
    } else {
      check_conflict(P(a), J(b));
      last_match = -1;
      out.push_back({P(a++), -1});
      out.push_back({-1, J(b++)});
    }
  }
  while (a < np) out.push_back({P(a++), -1});
  while (b < nj) out.push_back({-1, J(b++)});
  if (backward) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

size_t aligner::align(int64_t follow_from, std::vector<step>& out) {
  std::vector<step> chain;
  find_anchors(chain);
  out.clear();
  out.reserve(static_cast<size_t>(tape_.frames() + size_));
  int64_t p = 0, j = 0;
  if (chain.empty())
    for (; p < follow_from; ++p) out.push_back({p, -1});
  for (const step& anchor : chain) {
    walk(p, anchor.p, j, anchor.j, &anchor == &chain.front(), out);
    out.push_back(anchor);
    matched(anchor.p, anchor.j);
    p = anchor.p + 1, j = anchor.j + 1;
  }
  walk(p, tape_.frames(), j, size_, false, out);
  return chain.size();
}

// A tape frame read by one pass only is no frame of the tape when it repeats
// a frame next to it (the same timecode, nothing differing: a capture wrote a
// frame twice, and the other transfers matched either copy); or when it has
// no timecode and the frames around it have consecutive ones, leaving no room
// for it; or, with no timecode around at all, when it repeats the content of
// its own pass's read next to it and another pass read the frames around it
// one after the other.
bool is_repeat(const std::vector<transfer_index>& transfers, const merge_plan& plan, int64_t p, int64_t before) {
  const int32_t* row = plan.frame(p);
  int32_t only = -1, count = 0;
  for (int32_t c = 0; c < plan.columns; ++c)
    if (row[c] >= 0) only = c, ++count;
  if (count != 1) return false;
  auto frame_at = [&](int32_t c, int32_t index) -> const frame_entry& {
    const int32_t transfer = plan.column_transfer[static_cast<size_t>(c)];
    return transfers[static_cast<size_t>(transfer)].frames[static_cast<size_t>(index)];
  };
  auto key_at = [&](int64_t q) {
    frame_key key{NO_INFO, NO_INFO, NO_INFO};
    for (int32_t c = 0; c < plan.columns; ++c)
      if (plan.frame(q)[c] >= 0) merge_key(key, key_of(frame_at(c, plan.frame(q)[c])));
    return key;
  };
  const frame_entry& f = frame_at(only, row[only]);
  const bool last = p + 1 >= plan.frames();
  auto differs = [&](int64_t q) {
    const int32_t* reads = plan.frame(q);
    for (int32_t c = 0; c < plan.columns; ++c)
      if (reads[c] >= 0 && compare_frames(frame_at(c, reads[c]), f) == likeness::different) return true;
    return false;
  };
  auto same_timecode = [&](int64_t q) { return key_at(q).timecode == f.timecode && !differs(q); };
  if (has_time(f.timecode)) return same_timecode(before) || (!last && same_timecode(p + 1));
  if (last) return false;

  const frame_key previous = key_at(before), next = key_at(p + 1);
  if (previous.timecode != NO_INFO && next.timecode != NO_INFO)
    return timecode_follows(previous.timecode, next.timecode, transfers.front().system);
  if (previous.timecode != NO_INFO || next.timecode != NO_INFO) return false;
  const int32_t* prior = plan.frame(before);
  const int32_t* after = plan.frame(p + 1);
  bool repeats_own = false;
  for (const int32_t* near : {prior, after}) {
    const int32_t n = near[only];
    repeats_own |= n >= 0 && (n == row[only] - 1 || n == row[only] + 1) &&
                   compare_frames(frame_at(only, n), f) == likeness::same;
  }
  if (!repeats_own) return false;
  for (int32_t c = 0; c < plan.columns; ++c)
    if (c != only && prior[c] >= 0 && after[c] == prior[c] + 1) return true;
  return false;
}

void drop_repeats(const std::vector<transfer_index>& transfers, merge_plan& plan) {
  const size_t width = static_cast<size_t>(plan.columns);
  int64_t kept = 0;
  for (int64_t p = 0; p < plan.frames(); ++p) {
    if (kept > 0 && is_repeat(transfers, plan, p, kept - 1)) {
      for (int32_t c = 0; c < plan.columns; ++c)
        if (plan.frame(p)[c] >= 0) ++plan.repeated[static_cast<size_t>(plan.column_transfer[static_cast<size_t>(c)])];
      continue;
    }
    if (kept != p)
      std::copy_n(plan.reads.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(p) * width), width,
                  plan.reads.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(kept) * width));
    ++kept;
  }
  plan.reads.resize(static_cast<size_t>(kept) * width);
}

// Adds a column for another pass of transfer t, after the transfer's others.
int32_t add_column(merge_plan& plan, int32_t t) {
  int32_t at = 0;
  while (at < plan.columns && plan.column_transfer[static_cast<size_t>(at)] <= t) ++at;
  const int64_t frames = plan.frames();
  const size_t width = static_cast<size_t>(plan.columns) + 1;
  std::vector<int32_t> reads(static_cast<size_t>(frames) * width, -1);
  for (int64_t p = 0; p < frames; ++p)
    for (int32_t c = 0; c < plan.columns; ++c)
      reads[static_cast<size_t>(p) * width + static_cast<size_t>(c + (c >= at))] = plan.frame(p)[c];
  plan.reads.swap(reads);
  plan.column_transfer.insert(plan.column_transfer.begin() + at, t);
  ++plan.columns;
  return at;
}

}  // namespace

merge_refusal plan_merge(const std::vector<transfer_index>& transfers, merge_plan& plan) {
  plan = merge_plan{};
  plan.repeated.assign(transfers.size(), 0);
  std::vector<stretch_reads> stretches;
  std::vector<int32_t> order;
  std::vector<step> steps;
  std::vector<int32_t> reads;
  for (int32_t t = 0; t < static_cast<int32_t>(transfers.size()); ++t) {
    cut_stretches(transfers[static_cast<size_t>(t)], order, stretches, plan.repeated[static_cast<size_t>(t)]);
    if (stretches.empty()) continue;
    int64_t telling = 0, follow_from = 0;
    for (const stretch_reads& stretch : stretches) {
      aligner placed(transfers, plan, t, stretch), from_start(transfers, plan, t, stretch);
      const aligner* used = &placed;
      // A stretch that no anchor places goes on where the one before it
      // ended, unless it matches nothing there and the tape from its start
      // goes on alike with it (a pass that began in frames that do not
      // stand out: the black before a recording).
      if (placed.align(follow_from, steps) == 0 && placed.telling() == 0 && follow_from > 0) {
        std::vector<step> again;
        from_start.align(0, again);
        if (from_start.telling() > 0 && from_start.conflict() < 0) {
          steps.swap(again);
          used = &from_start;
        }
      }
      const aligner& a = *used;
      // A read of a later transfer that is no tape frame yet, but the same
      // as one in its timecode or whole content, is that frame read out of
      // order: left out rather than put on the tape twice.
      if (t > 0) {
        size_t kept = 0;
        for (const step& s : steps)
          if (s.p >= 0 || !a.on_tape(s.j)) steps[kept++] = s;
          else ++plan.repeated[static_cast<size_t>(t)];
        steps.resize(kept);
      }
      if (a.conflict() >= 0)
        return {merge_refusal::reason::differs, t, a.conflict_transfer(), a.conflict_read()->timecode,
                (a.conflict_read()->flags & FRAME_DROP_FRAME) != 0};
      telling += a.telling();
      plan.repeated[static_cast<size_t>(t)] += a.repeats();

      // A stretch that goes back over tape frames the transfer read already
      // is another pass; one that goes on forward stays in the pass it
      // continues. Past MAX_PASSES (a capture put together out of order),
      // stretches share the first pass that holds none of their frames.
      int32_t column = -1, passes = 0, last = -1;
      for (int32_t c = 0; c < plan.columns; ++c)
        if (plan.column_transfer[static_cast<size_t>(c)] == t) ++passes, last = c;
      // It goes back when it reads a frame the pass it would continue read,
      // or one before the last that pass read.
      bool back = last < 0;  // the transfer's first stretch: a pass of its own
      size_t first_read = steps.size(), last_of_pass = 0;
      for (size_t k = 0; k < steps.size() && last >= 0; ++k) {
        const bool of_pass = steps[k].p >= 0 && plan.frame(steps[k].p)[last] >= 0;
        if (of_pass) last_of_pass = k;
        if (steps[k].j >= 0 && first_read == steps.size()) first_read = k;
        back |= of_pass && steps[k].j >= 0;
      }
      back |= first_read < last_of_pass;
      if (!back) column = last;
      for (int32_t c = 0; c < plan.columns && column < 0 && last >= 0 && passes >= MAX_PASSES; ++c) {
        if (plan.column_transfer[static_cast<size_t>(c)] != t) continue;
        bool free = true;
        for (const step& s : steps) free &= s.p < 0 || s.j < 0 || plan.frame(s.p)[c] < 0;
        if (free) column = c;
      }
      if (column < 0) column = add_column(plan, t);
      const size_t width = static_cast<size_t>(plan.columns);
      reads.assign(steps.size() * width, -1);
      for (size_t k = 0; k < steps.size(); ++k) {
        if (steps[k].p >= 0)
          std::copy_n(plan.frame(steps[k].p), width, reads.begin() + static_cast<std::ptrdiff_t>(k * width));
        if (steps[k].j >= 0) {
          reads[k * width + static_cast<size_t>(column)] = stretch.reads[stretch.begin + steps[k].j];
          follow_from = static_cast<int64_t>(k) + 1;
        }
      }
      plan.reads.swap(reads);
    }
    if (t > 0 && telling == 0) return {merge_refusal::reason::shares_nothing, t, 0, NO_INFO};
    drop_repeats(transfers, plan);
  }
  return {};
}

}  // namespace dvlog
