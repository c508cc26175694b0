// The reads placed by position, fitted between the identified frames; the
// rows of the plan.

#include <algorithm>

#include "merge/planner.h"

namespace dvlog {

namespace {

// Fits `items` in order into distinct places of `places`, counted from the
// end when `from_end`, each where `fits` says nothing differs. All must fit,
// unless `may_stop`: then those that do, from the side fitted from, and the
// rest are left at -1. Of the ways to fit them all, one with the most places
// where the two are told one frame is taken (a place nothing tells stays for
// a read nothing tells either); on large stretches, the nearest place that
// fits (`nearest`: the nearest place that fits, for reads that tell nothing
// of their own). Returns how many fit.
constexpr size_t MOST_WEIGHED = 1 << 20;  // items times places weighed one against another
template <typename Fits>
size_t fit_in_order(size_t items, size_t places, bool from_end, bool may_stop, Fits&& fits, std::vector<int64_t>& at,
                    bool nearest = false) {
  at.assign(items, -1);
  if (items > places && !may_stop) return 0;
  auto item_at = [&](size_t k) { return from_end ? items - 1 - k : k; };
  auto place_at = [&](size_t p) { return from_end ? places - 1 - p : p; };
  if (!may_stop && items * places <= MOST_WEIGHED) {
    // best[k][p]: the most places told one frame with the first k items fit
    // into the first p places; -1 where they cannot be.
    std::vector<int32_t> best((items + 1) * (places + 1), -1);
    auto cell = [&](size_t k, size_t p) -> int32_t& { return best[k * (places + 1) + p]; };
    for (size_t p = 0; p <= places; ++p) cell(0, p) = 0;
    for (size_t k = 1; k <= items; ++k)
      for (size_t p = k; p <= places; ++p) {
        int32_t value = cell(k, p - 1);
        if (cell(k - 1, p - 1) >= 0) {
          const likeness l = fits(item_at(k - 1), place_at(p - 1));
          if (l != likeness::different) value = std::max(value, cell(k - 1, p - 1) + (l == likeness::same ? 1 : 0));
        }
        cell(k, p) = value;
      }
    if (cell(items, places) < 0) return 0;
    // Back from the end: the last item takes the nearest place that keeps the best.
    for (size_t k = items, p = places; k > 0; --p) {
      if (cell(k, p) == cell(k, p - 1)) continue;
      at[item_at(k - 1)] = static_cast<int64_t>(place_at(p - 1));
      --k;
    }
    return items;
  }
  size_t next = 0;  // the first place still free, counted from the side fitted from
  for (size_t k = 0; k < items; ++k) {
    // Room is left for the items after, unless they may stay out.
    const size_t last = may_stop ? places : places - (items - k) + 1;
    int64_t chosen = -1;
    for (int pass = nearest ? 1 : 0; pass < 2 && chosen < 0; ++pass)
      for (size_t p = next; p < last && chosen < 0; ++p) {
        const likeness l = fits(item_at(k), place_at(p));
        if (l == likeness::same || (pass == 1 && l == likeness::unknown)) chosen = static_cast<int64_t>(p);
      }
    if (chosen < 0) return k;
    at[item_at(k)] = static_cast<int64_t>(place_at(static_cast<size_t>(chosen)));
    next = static_cast<size_t>(chosen) + 1;
  }
  return items;
}

// As fit_in_order, all items, where a read may also make a new place next
// to a place whose read it equals (a longer run of that content than others
// read there): `at` holds -2 - that place for such an item. Of the ways, one
// with the fewest new places, then the most places told one frame. False
// when there is none, or the stretch is too large to weigh.
template <typename Fits>
bool fit_growing(size_t items, size_t places, bool from_end, Fits&& fits, std::vector<int64_t>& at) {
  at.assign(items, -1);
  if (items * places > MOST_WEIGHED) return false;
  constexpr int64_t NONE = INT64_MIN, GROWN = int64_t{1} << 32;
  auto item_at = [&](size_t k) { return from_end ? items - 1 - k : k; };
  auto place_at = [&](size_t p) { return from_end ? places - 1 - p : p; };
  // best[k][p]: the first k items within the first p places, the last at or
  // next to one of them: the places told one frame less GROWN a new place.
  std::vector<int64_t> best((items + 1) * (places + 1), NONE);
  auto cell = [&](size_t k, size_t p) -> int64_t& { return best[k * (places + 1) + p]; };
  for (size_t p = 0; p <= places; ++p) cell(0, p) = 0;
  auto at_place = [&](size_t k, size_t p) {  // item k - 1 at place p - 1
    if (cell(k - 1, p - 1) == NONE) return NONE;
    const likeness l = fits(item_at(k - 1), place_at(p - 1));
    return l == likeness::different ? NONE : cell(k - 1, p - 1) + (l == likeness::same ? 1 : 0);
  };
  auto next_to = [&](size_t k, size_t p) {  // item k - 1 a new place next to place p - 1
    if (cell(k - 1, p) == NONE || fits(item_at(k - 1), place_at(p - 1)) != likeness::same) return NONE;
    return cell(k - 1, p) - GROWN;
  };
  for (size_t k = 1; k <= items; ++k)
    for (size_t p = 1; p <= places; ++p) cell(k, p) = std::max({cell(k, p - 1), at_place(k, p), next_to(k, p)});
  if (cell(items, places) == NONE) return false;
  for (size_t k = items, p = places; k > 0;) {
    if (cell(k, p) == cell(k, p - 1)) {
      --p;
    } else if (cell(k, p) == at_place(k, p)) {
      at[item_at(k - 1)] = static_cast<int64_t>(place_at(p - 1));
      --k, --p;
    } else {
      at[item_at(k - 1)] = -2 - static_cast<int64_t>(place_at(p - 1));
      --k;
    }
  }
  return true;
}

}  // namespace

// Each gap between identified frames (and before the first, after the last)
// holds places for the reads placed by position. A gap's places are the
// longest word read right between its two frames, or, before the first (after
// the last), the longest word of the passes that read from there; every other
// such word fits into them in order. Then the words of passes that missed
// identified frames between two they read, and those that begin before or end
// after frames they missed, fit into the places and frames of all that lies
// there; what reaches beyond the tape's first or last place extends it.
bool planner::place_words() {
  const size_t nodes = order_.size();
  auto position_of = [&](int32_t r) {
    return r >= 0 ? static_cast<int64_t>(position_[static_cast<size_t>(runs_[static_cast<size_t>(r)].node)]) : -1;
  };
  // Where each word goes: one gap (`gap`, before the node at that position;
  // `nodes` after the last), or all from after the node at `from` to before
  // the node at `to` (-1: the tape's start; `nodes`: its end).
  struct target {
    int64_t gap = -1, from = -1, to = -1;
    bool from_end = false;
    // Where a pass went back with nothing to say where, its reads must fit
    // wholly after the frame before or before the frame after: no place is
    // made for them.
    bool either = false;
  };
  std::vector<target> targets(words_.size());
  std::vector<std::vector<int32_t>> by_gap(nodes + 1);
  const int64_t last_gap = static_cast<int64_t>(nodes);
  for (size_t w = 0; w < words_.size(); ++w) {
    const word& wd = words_[w];
    target& tg = targets[w];
    int64_t left = position_of(wd.left), right = position_of(wd.right);
    word_kind how = wd.how;
    if (how == word_kind::bounded && !links_[static_cast<size_t>(wd.link)].kept) how = word_kind::either;
    switch (how) {
      case word_kind::bounded:
        tg.from = left, tg.to = right;
        break;
      case word_kind::start:
        tg.from = -1, tg.to = right, tg.from_end = true;
        break;
      case word_kind::end:
        tg.from = left, tg.to = last_gap;
        break;
      case word_kind::either:  // tried as an end first, then as a start
        tg.from = left, tg.to = last_gap, tg.either = true;
        break;
      case word_kind::floating:
        tg.from = -1, tg.to = last_gap;
        break;
    }
    // Words of one gap: read between two frames next to one another, or
    // from the tape's start to its first frame, or from its last to its end.
    if (!tg.either && (tg.to == tg.from + 1 || (how == word_kind::start && tg.to == 0) ||
                       (how == word_kind::end && tg.from == last_gap - 1) || (how == word_kind::floating && nodes == 0)))
      tg.gap = tg.to;
  }

  // Reads that tell nothing of their own (too little read right, or equal to
  // several identified frames) never make a frame where a pass begins (the
  // deck may have gone back just after them): at that end of a word they
  // are set apart, and fit at last where nothing differs among the places
  // and frames there, or are left out (they add nothing another read lacks).
  struct apart {
    target where;
    int64_t begin, end;
  };
  std::vector<apart> set_apart;
  auto weak = [&](int64_t k) {
    const kind how = runs_[static_cast<size_t>(word_reads_[static_cast<size_t>(k)].run)].how;
    return how == kind::too_little || how == kind::ambiguous;
  };
  for (size_t w = 0; w < words_.size(); ++w) {
    word& wd = words_[w];
    const target& tg = targets[w];
    // (Where a pass ends, such reads are the frames it read on to: kept.)
    const bool opens = tg.from_end || tg.either, closes = tg.either;
    if (opens && wd.right >= 0) {
      // Nor do reads of content the tape holds more than once just before a
      // recording start: the leader after it, read before the deck went
      // back to the start, as likely as another recording's end.
      const bool start = run_stamp(wd.right).recording_start;
      auto apart = [&](int64_t k) {
        return weak(k) || (start && runs_[static_cast<size_t>(word_reads_[static_cast<size_t>(k)].run)].how == kind::plain);
      };
      const int64_t from = wd.begin;
      while (wd.begin < wd.end && apart(wd.begin)) ++wd.begin;
      if (wd.begin > from) set_apart.push_back({{-1, -1, position_of(wd.right), true}, from, wd.begin});
    }
    if (closes && wd.left >= 0) {
      const int64_t to = wd.end;
      while (wd.end > wd.begin && weak(wd.end - 1)) --wd.end;
      if (wd.end < to) set_apart.push_back({{-1, position_of(wd.left), last_gap, false}, wd.end, to});
    }
  }

  for (size_t w = 0; w < words_.size(); ++w)
    if (targets[w].gap >= 0 && words_[w].begin < words_[w].end)
      by_gap[static_cast<size_t>(targets[w].gap)].push_back(static_cast<int32_t>(w));

  // A word's items: its reads, or, merged, runs of them; each by its first
  // read (into word_reads_), from word_items[w], item_count[w] of them. The
  // reads of a word still placed in its gap, and those folded into the frame
  // next to it: (its position, reads from, to).
  std::vector<int64_t> item_first;
  std::vector<int64_t> word_items(words_.size() + 1, 0), item_count(words_.size(), 0);
  std::vector<int64_t> word_begin(words_.size()), word_end(words_.size());
  for (size_t w = 0; w < words_.size(); ++w) {
    word_items[w] = static_cast<int64_t>(item_first.size());
    const word& wd = words_[w];
    // (A run of reads with too little read right, or with nothing read whole
    // to look them up by, is one item: equal reads next to one another are
    // a frame the capture repeated. Of content the tape holds more than once,
    // each read is an item.)
    for (int64_t k = wd.begin; k < wd.end; ++k) {
      const int32_t run = word_reads_[static_cast<size_t>(k)].run;
      const kind how = runs_[static_cast<size_t>(run)].how;
      if (k == wd.begin || run != word_reads_[static_cast<size_t>(k) - 1].run ||
          (how != kind::too_little && how != kind::unkeyed))
        item_first.push_back(k);
    }
    item_count[w] = static_cast<int64_t>(item_first.size()) - word_items[w];
    word_begin[w] = wd.begin, word_end[w] = wd.end;
  }
  word_items[words_.size()] = static_cast<int64_t>(item_first.size());
  auto item_read = [&](size_t w, size_t item) {
    return word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[w]) + item])].read;
  };
  // The reads of a word's item: to the first read of the next, or the word's end.
  auto item_end = [&](size_t w, size_t item) {
    return static_cast<int64_t>(item) + 1 == item_count[w] ? word_end[w]
                                                           : item_first[static_cast<size_t>(word_items[w]) + item + 1];
  };

  // Places, by gap, in order: each stands for the frame of a read.
  std::vector<std::vector<int32_t>> gap_places(nodes + 1);
  std::vector<read_ref> place_read;
  // Where reads went: a place (>= 0) or a node (-1 - its position); reads
  // from, to, into word_reads_.
  struct into {
    int64_t where;
    int64_t begin, end;
  };
  std::vector<into> placed;
  auto node_stands = [&](size_t position) { return best(node_run_[static_cast<size_t>(order_[position])]); };

  // The frames between the nodes at two positions, where their timecodes
  // follow in one recording; -1 where not known.
  auto room_between = [&](int64_t from, int64_t to) -> int64_t {
    if (from < 0 || to >= static_cast<int64_t>(nodes)) return -1;
    const stamp a = node_stamps_[static_cast<size_t>(order_[static_cast<size_t>(from)])],
                b = node_stamps_[static_cast<size_t>(order_[static_cast<size_t>(to)])];
    if (a.count < 0 || b.count <= a.count || b.recording_start ||
        (has_date(a.rec_date) && has_date(b.rec_date) && a.rec_date != b.rec_date))
      return -1;
    return b.count - a.count - 1;
  };

  std::vector<int64_t> kept_items, at;
  std::vector<std::pair<int32_t, int64_t>> twice, once;
  for (size_t gap = 0; gap <= nodes; ++gap) {
    if (by_gap[gap].empty()) continue;
    // Between two frames whose timecodes follow in one recording, room for
    // as many frames as lie between them.
    const int64_t room = room_between(static_cast<int64_t>(gap) - 1, static_cast<int64_t>(gap));
    int32_t longest = -1;
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
            const likeness l = compare_.compare(word_reads_[static_cast<size_t>(item)].read, node_stands(position));
            if (l != likeness::same && (strict || l != likeness::unknown)) continue;
            const int64_t end = first ? (items.size() > 1 ? items[1] : word_end[wi]) : word_end[wi];
            placed.push_back({-1 - static_cast<int64_t>(position), item, end});
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
      // Only the firsts of merged items are kept.
      std::copy(items.begin(), items.end(), item_first.begin() + word_items[wi]);
      item_count[wi] = static_cast<int64_t>(items.size());
      if (longest < 0 || item_count[wi] > item_count[static_cast<size_t>(longest)]) longest = w;
    }
    // The longest word makes the places; the others fit into them. Where it
    // reads some content in two stretches and another word of the gap reads
    // it in one, nothing tells a pass that went back within frames alike
    // (black, a still, whose sound comes again) from one that dropped them:
    // refused.
    const size_t lw = static_cast<size_t>(longest);
    // The stretches of each content in word w: (content, a read of it), sorted.
    auto stretches = [&](size_t w, std::vector<std::pair<int32_t, int64_t>>& out) {
      out.clear();
      int32_t before = -1;
      for (int64_t k = 0; k < item_count[w]; ++k) {
        const int64_t first = item_first[static_cast<size_t>(word_items[w] + k)];
        const int32_t h = group_[static_cast<size_t>(word_reads_[static_cast<size_t>(first)].run)];
        if (h >= 0 && h != before) out.push_back({h, first});
        before = h;
      }
      std::sort(out.begin(), out.end());
    };
    auto count_of = [](const std::vector<std::pair<int32_t, int64_t>>& in, int32_t g) {
      return std::upper_bound(in.begin(), in.end(), std::make_pair(g, INT64_MAX)) -
             std::lower_bound(in.begin(), in.end(), std::make_pair(g, INT64_MIN));
    };
    stretches(lw, twice);
    // And where the longest word reads one content alone, three times or
    // more, and a pass that read both frames around the gap reads it once,
    // nothing tells a still the other dropped from a frame read again (a
    // capture's repeat, and a retake back to it): refused.
    const int32_t alone = twice.size() == 1 && item_count[lw] >= 3 ? twice[0].first : -1;
    for (const int32_t w : by_gap[gap]) {
      if (static_cast<size_t>(w) == lw) continue;
      stretches(static_cast<size_t>(w), once);
      for (size_t k = 1; k < twice.size(); ++k)
        if (twice[k].first == twice[k - 1].first && count_of(once, twice[k].first) == 1)
          return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(twice[k].second)].read);
      if (alone >= 0 && item_count[static_cast<size_t>(w)] == 1 && once.size() == 1 && once[0].first == alone &&
          words_[static_cast<size_t>(w)].how == word_kind::bounded)
        return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(once[0].second)].read);
    }
    // Before the tape's first frame or after its last, nothing counts the
    // frames: equal reads next to one another there, where the frame next
    // to them has a timecode they lost, may be a repeat or frames alike.
    if ((gap == 0 || gap == nodes) && nodes > 0 &&
        node_stamps_[static_cast<size_t>(order_[gap == 0 ? 0 : nodes - 1])].count >= 0)
      for (int64_t k = 1; k < item_count[lw]; ++k)
        if (word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[lw] + k)])].run ==
            word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[lw] + k - 1)])].run)
          return refuse(merge_refusal::reason::unplaced, item_read(lw, static_cast<size_t>(k)));
    for (int64_t k = 0; k < item_count[lw]; ++k) {
      gap_places[gap].push_back(static_cast<int32_t>(place_read.size()));
      placed.push_back({static_cast<int64_t>(place_read.size()), item_first[static_cast<size_t>(word_items[lw] + k)],
                        item_end(lw, static_cast<size_t>(k))});
      place_read.push_back(item_read(lw, static_cast<size_t>(k)));
    }
    for (const int32_t w : by_gap[gap]) {
      if (w == longest) continue;
      if (stopped()) return false;
      const size_t wi = static_cast<size_t>(w), items = static_cast<size_t>(item_count[wi]);
      const std::vector<int32_t>& places = gap_places[gap];
      auto fits = [&](size_t item, size_t place) {
        return compare_.compare(item_read(wi, item), place_read[static_cast<size_t>(places[place])]);
      };
      if (fit_in_order(items, places.size(), targets[wi].from_end, false, fits, at) < items)
        return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[wi].begin)].read);
      for (size_t k = 0; k < items; ++k)
        placed.push_back({places[static_cast<size_t>(at[k])], item_first[static_cast<size_t>(word_items[wi]) + k], item_end(wi, k)});
    }
  }
  if (fail_if_unread()) return false;

  // The other words, the longest first, into all that lies where they were
  // read: places and frames. Reads beyond the tape's first or last place
  // (a pass that began or ended on frames no other read) extend it.
  std::vector<size_t> others;
  for (size_t w = 0; w < words_.size(); ++w)
    if (targets[w].gap < 0 && words_[w].begin < words_[w].end) others.push_back(w);
  std::stable_sort(others.begin(), others.end(), [&](size_t a, size_t b) { return item_count[a] > item_count[b]; });
  std::vector<int64_t> where;  // a place, or -1 - a node's position
  std::vector<int64_t> where_gap;  // the gap of each
  std::vector<read_ref> stands;
  for (const size_t w : others) {
    if (stopped()) return false;
    target& tg = targets[w];
    where.clear(), stands.clear(), where_gap.clear();
    for (int64_t gap = tg.from + 1; gap <= tg.to; ++gap) {
      for (const int32_t p : gap_places[static_cast<size_t>(gap)])
        where.push_back(p), stands.push_back(place_read[static_cast<size_t>(p)]), where_gap.push_back(gap);
      if (gap < tg.to) where.push_back(-1 - gap), stands.push_back(node_stands(static_cast<size_t>(gap))), where_gap.push_back(gap);
    }
    size_t items = static_cast<size_t>(item_count[w]);
    // (Reads a pass went back over, that tell what they are, are not put
    // in the place of a read that tells nothing, a deck's stand-in: that
    // would be a guess between two sides. Nor is content the tape holds
    // more than once, or a read equal to two frames that differ, but among
    // frames of that content: elsewhere it would be a guess at the frame
    // the stand-in was.)
    auto fits = [&](size_t item, size_t place) {
      const read_ref read = item_read(w, item);
      const likeness l = compare_.compare(read, stands[place]);
      if (l != likeness::unknown) return l;
      if (tg.either) return compare_.too_little(read) ? l : likeness::different;
      const int32_t run = word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[w]) + item])].run;
      const kind how = runs_[static_cast<size_t>(run)].how;
      if (how != kind::plain && how != kind::ambiguous) return l;
      for (const int32_t p : gap_places[static_cast<size_t>(where_gap[place])])
        if (compare_.compare(read, place_read[static_cast<size_t>(p)]) == likeness::same) return l;
      return likeness::different;
    };
    if (fit_in_order(items, where.size(), tg.from_end, false, fits, at) < items && tg.either && !tg.from_end) {
      // Not the end of the pass before: the start of the pass after.
      tg = {-1, -1, position_of(words_[w].right), true, true};
      where.clear(), stands.clear(), where_gap.clear();
      for (int64_t gap = 0; gap <= tg.to; ++gap) {
        for (const int32_t p : gap_places[static_cast<size_t>(gap)])
          where.push_back(p), stands.push_back(place_read[static_cast<size_t>(p)]), where_gap.push_back(gap);
        if (gap < tg.to) where.push_back(-1 - gap), stands.push_back(node_stands(static_cast<size_t>(gap))), where_gap.push_back(gap);
      }
    }
    // A start (end) word may reach beyond the tape's first (last) place.
    const bool edge = !tg.either && words_[w].how != word_kind::floating &&
                      ((tg.from_end && tg.from < 0) || (!tg.from_end && tg.to == last_gap));
    // Reads that do not fit as they are: equal ones next to one another as
    // one frame (repeats of a still or black frame); failing that, where the
    // timecodes leave room, each read of a run of them its own frame.
    bool fitted = fit_in_order(items, where.size(), tg.from_end, false, fits, at) == items;
    if (!fitted) {
      const auto first = item_first.begin() + word_items[w];
      kept_items.assign(first, first + static_cast<std::ptrdiff_t>(items));
      size_t kept = 1;
      for (size_t k = 1; k < items; ++k)
        if (compare_.compare(item_read(w, kept - 1), item_read(w, k)) != likeness::same) first[static_cast<std::ptrdiff_t>(kept++)] = first[static_cast<std::ptrdiff_t>(k)];
      item_count[w] = static_cast<int64_t>(kept);
      fitted = kept < items && fit_in_order(kept, where.size(), tg.from_end, false, fits, at) == kept;
      if (fitted) {
        items = kept;
      } else {
        std::copy(kept_items.begin(), kept_items.end(), first);
        item_count[w] = static_cast<int64_t>(items);
        fitted = !tg.either && room_between(tg.from, tg.to) < 0 && fit_growing(items, where.size(), tg.from_end, fits, at);
      }
    }
    if (!fitted) {
      if (tg.either) return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[w].begin)].read);
      fit_in_order(items, where.size(), tg.from_end, true, fits, at);
    }
    // New places next to one: after it (before it, fitted from the end),
    // and after (before) those made there already.
    int64_t grown_next_to = -1, last_grown = -1;
    // Whether equal reads next to one another, made new places beyond the
    // tape's first or last frame, are a repeat or frames that lost the
    // timecode of the frame next to them, nothing tells: refused.
    int32_t last_new_run = -1;
    auto new_place_for = [&](size_t item) {
      const int32_t run = word_reads_[static_cast<size_t>(item_first[static_cast<size_t>(word_items[w]) + item])].run;
      const int32_t beside = tg.from_end ? words_[w].right : words_[w].left;
      if (run == last_new_run && beside >= 0 && run_stamp(beside).count >= 0) return false;
      last_new_run = run;
      return true;
    };
    for (size_t k = 0; k < items; ++k) {
      const size_t item = tg.from_end ? items - 1 - k : k;  // in the order fitted
      int64_t into_where = at[item] >= 0 ? where[static_cast<size_t>(at[item])] : 0;
      if (at[item] <= -2) {
        const int64_t next_to = -2 - at[item], w_at = where[static_cast<size_t>(next_to)];
        // The gap and the index in it of the place (or of the node's side) to grow at.
        int64_t gap = -1;
        size_t index = 0;
        if (next_to == grown_next_to) {
          for (int64_t g = tg.from + 1; g <= tg.to && gap < 0; ++g) {
            const auto& places = gap_places[static_cast<size_t>(g)];
            const auto found = std::find(places.begin(), places.end(), static_cast<int32_t>(last_grown));
            if (found != places.end()) gap = g, index = static_cast<size_t>(found - places.begin()) + (tg.from_end ? 0 : 1);
          }
        } else if (w_at < 0) {  // a node: the gap after it (before it)
          gap = tg.from_end ? -1 - w_at : -w_at;
          index = tg.from_end ? gap_places[static_cast<size_t>(gap)].size() : 0;
        } else {
          for (int64_t g = tg.from + 1; g <= tg.to && gap < 0; ++g) {
            const auto& places = gap_places[static_cast<size_t>(g)];
            const auto found = std::find(places.begin(), places.end(), static_cast<int32_t>(w_at));
            if (found != places.end()) gap = g, index = static_cast<size_t>(found - places.begin()) + (tg.from_end ? 0 : 1);
          }
        }
        std::vector<int32_t>& grown = gap_places[static_cast<size_t>(gap)];
        into_where = static_cast<int64_t>(place_read.size());
        grown.insert(grown.begin() + static_cast<std::ptrdiff_t>(index), static_cast<int32_t>(into_where));
        place_read.push_back(item_read(w, item));
        grown_next_to = next_to, last_grown = into_where;
      } else if (at[item] < 0) {
        // More reads than places: another place in a gap that holds the same
        // content (a longer run of black than others read), or, for a word
        // that begins (ends) the tape, before (after) all.
        int64_t gap = -1;
        for (int64_t g = tg.from + 1; g <= tg.to && gap < 0; ++g)
          for (const int32_t p : gap_places[static_cast<size_t>(g)])
            if (compare_.compare(item_read(w, item), place_read[static_cast<size_t>(p)]) == likeness::same) gap = g;
        // Which gap, where frames lie between, nothing tells: refused. Nor
        // whether equal reads next to one another beyond the tape's end are
        // a repeat or frames that lost the timecodes the frames next to
        // them have.
        if ((gap < 0 && (!edge || tg.to > tg.from + 1)) || (gap < 0 && !new_place_for(item)))
          return refuse(merge_refusal::reason::unplaced, word_reads_[static_cast<size_t>(words_[w].begin)].read);
        std::vector<int32_t>& grown = gap_places[static_cast<size_t>(gap >= 0 ? gap : tg.to)];
        into_where = static_cast<int64_t>(place_read.size());
        grown.insert(tg.from_end ? grown.begin() : grown.end(), static_cast<int32_t>(place_read.size()));
        place_read.push_back(item_read(w, item));
      }
      placed.push_back({into_where, item_first[static_cast<size_t>(word_items[w]) + item], item_end(w, item)});
    }
  }
  // The reads set apart, into places or frames they fit, or left out.
  for (const apart& a : set_apart) {
    where.clear(), stands.clear();
    for (int64_t gap = a.where.from + 1; gap <= a.where.to; ++gap) {
      for (const int32_t p : gap_places[static_cast<size_t>(gap)]) where.push_back(p), stands.push_back(place_read[static_cast<size_t>(p)]);
      if (gap < a.where.to) where.push_back(-1 - gap), stands.push_back(node_stands(static_cast<size_t>(gap)));
    }
    const size_t items = static_cast<size_t>(a.end - a.begin);
    auto fits = [&](size_t item, size_t place) {
      return compare_.compare(word_reads_[static_cast<size_t>(a.begin) + item].read, stands[place]);
    };
    fit_in_order(items, where.size(), a.where.from_end, true, fits, at, true);
    for (size_t k = 0; k < items; ++k)
      if (at[k] >= 0) placed.push_back({where[static_cast<size_t>(at[k])], a.begin + static_cast<int64_t>(k), a.begin + static_cast<int64_t>(k) + 1});
  }
  if (fail_if_unread()) return false;

  // Rows: each gap's places in order, then its node.
  std::vector<int64_t> row_of_place(place_read.size(), -1), row_of_node(nodes, -1);
  int64_t row = 0;
  for (size_t gap = 0; gap <= nodes; ++gap) {
    for (const int32_t p : gap_places[gap]) row_of_place[static_cast<size_t>(p)] = row++;
    if (gap < nodes) row_of_node[gap] = row++;
  }
  rows_ = row;
  for (size_t position = 0; position < nodes; ++position) {
    const int32_t n = order_[position];
    for (int32_t k = node_runs_begin_[static_cast<size_t>(n)]; k < node_runs_begin_[static_cast<size_t>(n) + 1]; ++k) {
      const read_run& u = runs_[static_cast<size_t>(node_runs_[static_cast<size_t>(k)])];
      for (int32_t j = u.first; j < u.first + u.count; ++j)
        placed_.push_back({row_of_node[position], {{u.transfer, j}, u.pass, node_runs_[static_cast<size_t>(k)]}});
    }
  }
  for (const into& p : placed) {
    const int64_t r = p.where >= 0 ? row_of_place[static_cast<size_t>(p.where)] : row_of_node[static_cast<size_t>(-1 - p.where)];
    for (int64_t k = p.begin; k < p.end; ++k) placed_.push_back({r, word_reads_[static_cast<size_t>(k)]});
  }

  return true;
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
  const int64_t rows = rows_;
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
