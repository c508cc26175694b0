// The passes of each transfer, the links they make between identified
// frames, and the order all links agree on, the keys deciding where no link
// does.

#include <algorithm>

#include "dv/datetime.h"
#include "merge/planner.h"

namespace dvlog {

namespace {

// A recording date and time as seconds, for ordering frames of different
// recordings; -1 when either is not read.
int64_t seconds_recorded(uint32_t date, uint32_t time) { return recorded_seconds(date, time, LATEST_TWO_DIGIT_YEAR); }
// A timecode this many frames on, or fewer, follows on (frames dropped between).
constexpr int64_t FOLLOWS_ON = 4;
// Frames a capture drops at once, at most: a timecode further on leaps.
constexpr int64_t MOST_DROPPED = 60;
// Timecodes a frame whose own was not read may take, looked through at most.
constexpr int64_t MOST_FREE_TIMECODES = 1024;

}  // namespace

// The timecode goes back from run `from` to run `to` within one recording:
// no recording start between, and no other recording date.
bool planner::timecode_goes_back(int32_t from, int32_t to) const {
  const stamp a = run_stamp(from), b = run_stamp(to);
  if (a.count < 0 || b.count < 0 || b.count >= a.count || b.recording_start) return false;
  return !(has_date(a.rec_date) && has_date(b.rec_date) && a.rec_date != b.rec_date);
}

// Whether an identified frame that comes again in its pass (run r) is the
// deck gone back: then the transfer reads on from there over frames the pass
// read, in their order (with a few the pass had dropped among them), up to
// the end of the stretch of them it came back into, or stops or shuttles
// first. Content the tape holds twice (the same black frames and sound
// opening two recordings) comes again instead in a stretch that then goes on
// with frames the pass never read, well before that end: those are noted in
// `reread`, and false is returned. A pass here is the passes from
// `chain_first` on, which a new recording whose timecode started again
// began: the deck may have gone back to that start.
bool planner::reread_goes_on(int32_t r, int32_t chain_first, const std::vector<int32_t>& pass_of_group,
                             const std::vector<int32_t>& place_in_pass, const std::vector<int32_t>& last_place,
                             std::vector<int32_t>& reread, int32_t& passed_over) {
  // Frames a retake may drop just before it reads new ones; new frames in a
  // row that end a re-read (fewer may be frames the pass had dropped).
  constexpr int32_t DROPPED_AT_END = 2, NEW_IN_A_ROW = 3;
  // Frames read again in their order that no content held twice explains.
  constexpr size_t REREAD_SURE = 4;
  reread.clear();
  passed_over = 0;
  const int32_t end = transfer_runs_[static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer) + 1];
  const int32_t into = pass_of_group[static_cast<size_t>(group_[static_cast<size_t>(r)])];
  int32_t reached = -1, fresh = 0;
  // A frame that comes again just before the transfer stops or shuttles,
  // with nothing read again after it, is taken for content the tape holds
  // twice (a black leader's sound comes again every few frames), unless its
  // timecode was read, or it begins a recording, or a pass reads the frame
  // read just before it ahead of it, or that frame shows another picture:
  // then the deck went back.
  auto at_end = [&]() -> bool {
    if (reread.size() != 1) return reread.size() > 1;
    if (run_stamp(r).count >= 0 || run_stamp(r).recording_start) return true;
    int32_t before = r - 1;
    while (before >= 0 && runs_[static_cast<size_t>(before)].transfer == runs_[static_cast<size_t>(r)].transfer &&
           (!identified(before) || group_[static_cast<size_t>(before)] == group_[static_cast<size_t>(r)]))
      --before;
    if (before < 0 || runs_[static_cast<size_t>(before)].transfer != runs_[static_cast<size_t>(r)].transfer) return false;
    // (Black or a still whose sound came again shows the picture of the
    // frame before it; another picture is the deck gone back.)
    return read_ahead(group_[static_cast<size_t>(before)], group_[static_cast<size_t>(r)], r) ||
           compare_.pictures(best(r), best(before)) == likeness::different;
  };
  auto stopped_at = [&] {
    passed_over = last_place.back() - reached;
    return at_end();
  };
  int32_t timed = -1;  // the last run read again with a timecode
  for (int32_t s = r; s < end; ++s) {
    if (s > r && runs_[static_cast<size_t>(s)].after_gap) return stopped_at();
    // (Where the timecode goes back, the deck went back again.)
    if (timed >= 0 && timecode_back(timed, s)) return stopped_at();
    const int32_t g = group_[static_cast<size_t>(s)];
    if (run_stamp(s).count >= 0) timed = s;
    if (g < 0) continue;
    if (pass_of_group[static_cast<size_t>(g)] < chain_first) {
      // Frames the pass never read (black or a still counted as read).
      fresh += identified(s) ? 1 : runs_[static_cast<size_t>(s)].count;
      if (fresh < NEW_IN_A_ROW) continue;
      // (Many frames read again in their order are no content the tape
      // holds twice, unless they begin a recording: the same source
      // recorded twice. Else the deck went back.)
      // (And content held twice shows the picture of a frame next to it,
      // black or a still: another picture is the deck gone back.)
      passed_over = last_place.back() - reached;
      return reached >= last_place[static_cast<size_t>(into)] - DROPPED_AT_END ||
             (reread.size() >= REREAD_SURE && !run_stamp(r).recording_start) || !picture_held(r);
    }
    if (!identified(s)) continue;
    const int32_t place = place_in_pass[static_cast<size_t>(g)];
    if (place <= reached) return true;  // back again
    reached = place, fresh = 0;
    reread.push_back(g);
  }
  return stopped_at();
}

// Whether run r shows the picture of a run next to it in its transfer, at
// playback speed: black or a still, which the tape may hold twice.
bool planner::picture_held(int32_t r) {
  const int32_t t = runs_[static_cast<size_t>(r)].transfer;
  for (const int32_t s : {r - 1, r + 1}) {
    if (s < transfer_runs_[static_cast<size_t>(t)] || s >= transfer_runs_[static_cast<size_t>(t) + 1]) continue;
    if (runs_[static_cast<size_t>(std::max(r, s))].after_gap || runs_[static_cast<size_t>(s)].how == kind::too_little) continue;
    if (compare_.pictures(best(r), best(s)) != likeness::different) return true;
  }
  return false;
}

// Whether a pass reads frame `first` and then frame `then`, without reading
// `then` before `first`; not counting the reads in question: those from the
// last frames off speed before run `upto` to it.
bool planner::read_ahead(int32_t first, int32_t then, int32_t upto) const {
  bool then_seen = false, first_seen = false;
  int32_t timed = -1;  // the last run with a timecode
  int32_t skip_from = upto;
  while (skip_from > transfer_runs_[static_cast<size_t>(runs_[static_cast<size_t>(upto)].transfer)] &&
         !runs_[static_cast<size_t>(skip_from)].after_gap)
    --skip_from;
  std::vector<int32_t> seen_in(runs_.size(), -1);  // by content: the stretch it was read in
  int32_t stretch = 0;
  for (size_t s = 0; s < runs_.size(); ++s) {
    const int32_t r = static_cast<int32_t>(s), h = group_[s];
    if (r >= skip_from && r <= upto) {
      then_seen = first_seen = false, timed = -1, ++stretch;
      continue;
    }
    // A stretch of one pass ends after frames off speed, at a recording
    // start, where the timecode goes back or leaps on, and where a frame of
    // it comes again.
    if (s == 0 || runs_[s].transfer != runs_[s - 1].transfer || runs_[s].after_gap || stamp_of(r).recording_start ||
        (stamp_of(r).count >= 0 && timed >= 0 && (timecode_back(timed, r) || timecode_leaps(timed, r))) ||
        (h >= 0 && seen_in[static_cast<size_t>(h)] == stretch && group_[s - 1] != h))
      then_seen = first_seen = false, timed = -1, ++stretch;
    if (h >= 0) seen_in[static_cast<size_t>(h)] = stretch;
    if (stamp_of(r).count >= 0) timed = r;
    if (group_[s] == first) first_seen |= !then_seen;
    if (group_[s] == then) {
      if (first_seen) return true;
      then_seen = true;
    }
  }
  return false;
}

// Of the last runs of a pass that read frames new to it, in a row, the first
// of those the deck went back to when it then read run r, a frame the pass
// read before: those whose timecodes come shortly before r's, or, without
// timecodes, that a pass reads ahead of r's frame. new_runs.size() if none.
size_t planner::went_back_to(const std::vector<int32_t>& new_runs, int32_t r) const {
  size_t moved = new_runs.size();
  for (; moved > 0 && new_runs.size() - moved < MOST_DROPPED; --moved) {
    const int32_t v = new_runs[moved - 1];
    // (Not past the frame read before, nor a recording start: read on into.)
    if (group_[static_cast<size_t>(v)] == group_[static_cast<size_t>(r)] || run_stamp(v).recording_start) break;
    const stamp a = run_stamp(v), b = run_stamp(r);
    const bool ahead = a.count >= 0 && b.count >= 0 ? b.count > a.count && b.count - a.count <= MOST_DROPPED
                                                    : read_ahead(group_[static_cast<size_t>(v)], group_[static_cast<size_t>(r)], r);
    if (!ahead) break;
  }
  return moved;
}

// The timecode leaps on from run `from` to run `to`: further than it follows
// on (frames dropped, or the deck went there; what other passes say decides).
bool planner::timecode_leaps(int32_t from, int32_t to) const {
  const stamp a = run_stamp(from), b = run_stamp(to);
  return a.count >= 0 && b.count >= 0 && b.count - a.count > FOLLOWS_ON;
}

// The timecode follows on from run `from` to run `to`, frames dropped
// between at most, within one recording.
bool planner::follows_on(int32_t from, int32_t to) const {
  const stamp a = run_stamp(from), b = run_stamp(to);
  // One recording: the same date, or none read in either (a date read in one
  // frame's reads and in none of the other's: two recordings).
  const bool one_recording = has_date(a.rec_date) == has_date(b.rec_date) && !dates_differ(from, to);
  return a.count >= 0 && b.count > a.count && b.count - a.count <= FOLLOWS_ON && !b.recording_start && one_recording;
}

// Run a was recorded before run b, by the recording dates and times both read.
bool planner::recorded_before(int32_t a, int32_t b) const {
  const stamp sa = run_stamp(a), sb = run_stamp(b);
  const int64_t ta = seconds_recorded(sa.rec_date, sa.rec_time), tb = seconds_recorded(sb.rec_date, sb.rec_time);
  return ta >= 0 && tb >= 0 && ta < tb;
}

// Both runs read a recording date, and it differs.
bool planner::dates_differ(int32_t from, int32_t to) const {
  const stamp a = run_stamp(from), b = run_stamp(to);
  return has_date(a.rec_date) && has_date(b.rec_date) && a.rec_date != b.rec_date;
}

// The timecode goes back from run `from` to run `to`, or starts again.
bool planner::timecode_back(int32_t from, int32_t to) const {
  const stamp a = run_stamp(from), b = run_stamp(to);
  return a.count >= 0 && b.count >= 0 && b.count < a.count;
}

// Each transfer, run by run: a new pass where an identified frame comes
// again in the pass (the deck went back), where the timecode goes back within
// a recording, and after frames not at playback speed; a link from each
// identified frame of a pass to the next. Reads placed by position go into
// the words between. Sets `again` when content the tape holds twice was found
// (the runs must be looked at again).
bool planner::cut_passes(bool& again) {
  again = false;
  pass_transfer_.clear(), links_.clear(), words_.clear(), word_reads_.clear(), silent_backs_.clear();
  std::vector<int32_t> pass_of_group(runs_.size(), -1), place_in_pass(runs_.size(), -1), reread;
  // The runs placed by position since the last identified run: before
  // frames off speed, and after them.
  std::vector<int32_t> before, after;
  auto add_word = [&](word_kind how, int32_t left, int32_t right, int32_t link, const std::vector<int32_t>& placed,
                      int32_t pass) {
    if (placed.empty()) return;
    const int64_t begin = static_cast<int64_t>(word_reads_.size());
    for (const int32_t r : placed) {
      read_run& u = runs_[static_cast<size_t>(r)];
      u.pass = pass;
      for (int32_t j = u.first; j < u.first + u.count; ++j) word_reads_.push_back({{u.transfer, j}, pass, r});
    }
    words_.push_back({how, left, right, link, begin, static_cast<int64_t>(word_reads_.size())});
  };
  std::vector<int32_t> last_place;  // by pass: the place of its last identified run
  for (size_t t = 0; t + 1 < transfer_runs_.size(); ++t) {
    if (transfer_runs_[t] == transfer_runs_[t + 1]) continue;
    int32_t pass = static_cast<int32_t>(pass_transfer_.size()), chain_first = pass;
    pass_transfer_.push_back(static_cast<int32_t>(t));
    last_place.push_back(-1);
    int32_t last = -1, length = 0;  // the last identified run, and those of the passes from chain_first
    int32_t pass_first = -1;        // the first identified run of the pass
    bool gap = false, recording = false;  // since it: frames off speed, a recording start
    // The last identified runs of the pass whose frames it had not read
    // before, in a row, and the links into them (-1: none).
    std::vector<int32_t> new_runs, new_links;
    before.clear(), after.clear();
    for (int32_t r = transfer_runs_[t]; r < transfer_runs_[t + 1]; ++r) {
      if (stopped()) return false;
      read_run& u = runs_[static_cast<size_t>(r)];
      u.pass = -1, u.node = -1;
      if (u.after_gap) {
        // Reads with frames off speed on both sides and no identified frame
        // between: nothing says where they were.
        std::vector<int32_t>& loose = last < 0 ? before : after;
        if ((last < 0 || gap) && !loose.empty()) add_word(word_kind::floating, -1, -1, -1, loose, pass), loose.clear();
        gap = last >= 0;
      }
      recording |= stamp_of(r).recording_start;
      if (!identified(r)) {
        // (A recording start of such content itself, played on into: as for
        // an identified one below.)
        if (r > transfer_runs_[t] && !u.after_gap && stamp_of(r).recording_start && run_stamp(r).count < 0 &&
            run_stamp(r - 1).count < 0 && leader_before_start(r, pass))
          return refuse(merge_refusal::reason::unordered, {u.transfer, u.first},
                        {u.transfer, runs_[static_cast<size_t>(transfer_runs_[t])].first});
        (gap ? after : before).push_back(r);
        if (group_[static_cast<size_t>(r)] >= 0) pass_of_group[static_cast<size_t>(group_[static_cast<size_t>(r)])] = pass;
        continue;
      }
      const int32_t g = group_[static_cast<size_t>(r)];
      // The frame just read, again: a repeat, one frame (its timecode, lost
      // in one read, kept them apart as runs).
      if (last >= 0 && last == r - 1 && group_[static_cast<size_t>(last)] == g && !u.after_gap) {
        u.pass = pass;
        continue;
      }
      // After frames off speed, a new pass begins: nothing of the old one
      // comes again in it.
      bool again_in_pass = pass_of_group[static_cast<size_t>(g)] >= chain_first && !gap;
      // Where this pass began at a new recording, played on into from the
      // passes before, and a frame of those comes again with no timecode to
      // tell: the deck went back to that start, unless the transfer comes to
      // that start again before it stops or shuttles (then it went back past
      // it). The link into the start falls, and the passes before are a
      // stretch of their own.
      bool past_start = false;
      if (again_in_pass && pass_of_group[static_cast<size_t>(g)] < pass && pass_first >= 0 &&
          runs_[static_cast<size_t>(pass_first)].pass == pass && (run_stamp(last).count < 0 || run_stamp(r).count < 0)) {
        for (int32_t s = r + 1; s < transfer_runs_[t + 1] && !runs_[static_cast<size_t>(s)].after_gap && !past_start; ++s)
          past_start = group_[static_cast<size_t>(s)] == group_[static_cast<size_t>(pass_first)];
        for (link& l : links_)
          if (!past_start && l.to == pass_first) l.soft = l.fallen = true, chain_first = pass;
        again_in_pass = pass_of_group[static_cast<size_t>(g)] >= chain_first;
      }
      int32_t passed_over = 0;
      if (again_in_pass &&
          !reread_goes_on(r, chain_first, pass_of_group, place_in_pass, last_place, reread, passed_over)) {
        for (const int32_t h : reread) plain_[static_cast<size_t>(h)] = true;
        again = true;
        return true;
      }
      const bool is_new = pass_of_group[static_cast<size_t>(g)] < chain_first;
      // The last frames of the pass that the re-read went past, neither
      // read again nor put before the frame read again by the keys, where
      // they or that frame have no timecode: the first, or -1.
      auto unresolved = [&](size_t moved) -> int32_t {
        if (!again_in_pass || passed_over <= 0) return -1;
        const size_t trailing = std::min(static_cast<size_t>(passed_over), new_runs.size());
        for (size_t k = new_runs.size() - trailing; k < moved; ++k)
          if (run_stamp(new_runs[k]).count < 0 || run_stamp(r).count < 0) return new_runs[k];
        return -1;
      };
      // The timecode went back with no frame off speed between and no
      // recording start read: the deck went back, or a recording whose
      // start was lost began with its timecode counted again. Where it went
      // to no place within the pass or just before it, the passes must put
      // it before the frame it came from (make_graph).
      if (last >= 0 && !gap && !recording && timecode_back(last, r) && !run_stamp(r).recording_start &&
          !dates_differ(last, r)) {
        const int64_t from = pass_first >= 0 ? run_stamp(pass_first).count : -1;
        if (from < 0 || run_stamp(r).count < from - FOLLOWS_ON) silent_backs_.push_back({last, r});
      }
      if (last < 0) {
        before.insert(before.end(), after.begin(), after.end());
        add_word(word_kind::start, -1, r, -1, before, pass);
      } else if (size_t moved = again_in_pass && !recording && (pass_of_group[static_cast<size_t>(g)] == pass || past_start)
                                  ? went_back_to(new_runs, r)
                                  : new_runs.size();
                 moved < new_runs.size() || unresolved(moved) >= 0) {
        // The deck went back and read on again without the pass's last
        // frames, and no timecodes say where they lie: nothing tells how
        // many of them end the pass (the re-read dropped them) and how many
        // lie before the frame it went back to (it went back to them).
        if (const int32_t open = unresolved(moved); open >= 0)
          return refuse(merge_refusal::reason::unordered, {u.transfer, u.first},
                        {runs_[static_cast<size_t>(open)].transfer, runs_[static_cast<size_t>(open)].first});
        // The frames just read were new to the pass, and passes read them
        // ahead of this one: the deck went back to them, and the new pass
        // begins there.
        if (new_links[moved] >= 0) links_[static_cast<size_t>(new_links[moved])].soft = links_[static_cast<size_t>(new_links[moved])].fallen = true;
        pass = static_cast<int32_t>(pass_transfer_.size());
        pass_transfer_.push_back(static_cast<int32_t>(t));
        last_place.push_back(0);
        chain_first = pass, length = 0, pass_first = new_runs[moved];
        for (size_t k = moved; k < new_runs.size(); ++k) {
          const int32_t v = new_runs[k];
          runs_[static_cast<size_t>(v)].pass = pass;
          pass_of_group[static_cast<size_t>(group_[static_cast<size_t>(v)])] = pass;
          last_place[static_cast<size_t>(pass)] = length;
          place_in_pass[static_cast<size_t>(group_[static_cast<size_t>(v)])] = length++;
        }
        links_.push_back({last, r, false});
        add_word(word_kind::bounded, last, r, static_cast<int32_t>(links_.size()) - 1, before, pass);
      } else if (again_in_pass || gap || recording || timecode_back(last, r) || timecode_leaps(last, r)) {
        // A new pass: what came before frames off speed ends the old one,
        // the rest begins the new one. Across frames off speed, into a
        // recording start (the deck may have gone back to it), and where the
        // timecode starts again or leaps on (another recording, or a capture
        // that went there), the new pass is linked to the old where nothing
        // says it went back.
        // Where the deck went back, the frame read next still follows on
        // from the last where their timecodes say so (it went back to the
        // recording start that began the pass, and read on).
        // Where this pass began at a recording start and a frame of the
        // passes before comes again with no timecode to tell, nothing says
        // whether the deck went back to that start or from it: refused.
        const bool goes_back = !recording && timecode_goes_back(last, r);
        const bool untimed = run_stamp(last).count < 0 || run_stamp(r).count < 0;
        if (again_in_pass && pass_of_group[static_cast<size_t>(g)] < pass && untimed && !past_start)
          return refuse(merge_refusal::reason::unordered, {u.transfer, u.first},
                        {runs_[static_cast<size_t>(pass_first)].transfer, runs_[static_cast<size_t>(pass_first)].first});
        const bool linked = (!again_in_pass && !goes_back) || follows_on(last, r);
        if (linked && !gap && !again_in_pass && untimed && run_stamp(r).recording_start && leader_before_start(r, pass))
          return refuse(merge_refusal::reason::unordered, {u.transfer, u.first},
                        {u.transfer, runs_[static_cast<size_t>(transfer_runs_[t])].first});
        const int32_t old_pass = pass;
        pass = static_cast<int32_t>(pass_transfer_.size());
        pass_transfer_.push_back(static_cast<int32_t>(t));
        last_place.push_back(-1);
        if (!linked || gap || again_in_pass) chain_first = pass, length = 0;
        if (linked) {
          // Played on into a recording start says more than a shuttle.
          // (Across frames off speed, the deck moved: the surest rank is lost.)
          // (Not into a recording made before the one left: as likely the
          // deck went back to its start.)
          const bool earlier = recorded_before(r, last);
          const uint8_t priority = !gap && follows_on(last, r)                               ? 0
                                   : !gap && !earlier && (recording || dates_differ(last, r)) ? 1
                                                                                              : 2;
          links_.push_back({last, r, true, true, !gap && !again_in_pass, priority});
        }
        if (linked && !gap && !again_in_pass) {
          add_word(word_kind::bounded, last, r, static_cast<int32_t>(links_.size()) - 1, before, pass);
        } else if (gap) {
          add_word(word_kind::end, last, -1, -1, before, old_pass);
          add_word(word_kind::start, -1, r, -1, after, pass);
        } else {
          add_word(word_kind::either, last, r, -1, before, pass);  // the end of one pass, or the start of the next
        }
      } else {
        links_.push_back({last, r, false});
        add_word(word_kind::bounded, last, r, static_cast<int32_t>(links_.size()) - 1, before, pass);
      }
      if (last < 0 || runs_[static_cast<size_t>(last)].pass != pass) pass_first = r;
      u.pass = pass;
      pass_of_group[static_cast<size_t>(g)] = pass;
      last_place[static_cast<size_t>(pass)] = length;
      place_in_pass[static_cast<size_t>(g)] = length++;
      if (!is_new || last < 0 || runs_[static_cast<size_t>(last)].pass != pass) new_runs.clear(), new_links.clear();
      if (is_new) {
        new_runs.push_back(r);
        new_links.push_back(!links_.empty() && links_.back().to == r ? static_cast<int32_t>(links_.size()) - 1 : -1);
      }
      last = r;
      gap = recording = false;
      before.clear(), after.clear();
    }
    // (Reads after the last frames off speed, with no identified frame
    // after them, say nothing of where they were: not the pass's end.)
    add_word(last >= 0 ? word_kind::end : word_kind::floating, last, -1, -1, before, pass);
    add_word(word_kind::floating, -1, -1, -1, after, pass);
  }
  return true;
}

// Whether the transfer, before it played on into the recording start of run
// r without timecodes, read from its first frame (or from frames off speed)
// only content the tape holds more than once and a frame or two of pass
// `pass`, and that content comes again just after the start: then nothing
// tells a capture begun within the recording's leader, whose deck went back
// to the start, from a recording that ended so.
bool planner::leader_before_start(int32_t r, int32_t pass) const {
  constexpr int32_t FEW_FRAMES = 2;
  const int32_t first = transfer_runs_[static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer)];
  const int32_t end = transfer_runs_[static_cast<size_t>(runs_[static_cast<size_t>(r)].transfer) + 1];
  std::vector<int32_t> leader;  // the groups of such content read before
  int32_t own = 0;
  for (int32_t s = r - 1; s >= first; --s) {
    const read_run& v = runs_[static_cast<size_t>(s)];
    if (identified(s) && (v.pass != pass || ++own > FEW_FRAMES)) return false;
    if (group_[static_cast<size_t>(s)] >= 0 && !identified(s)) leader.push_back(group_[static_cast<size_t>(s)]);
    if (v.after_gap) break;
  }
  for (int32_t s = r + 1; s < end && !runs_[static_cast<size_t>(s)].after_gap && !identified(s); ++s)
    if (std::find(leader.begin(), leader.end(), group_[static_cast<size_t>(s)]) != leader.end() &&
        group_[static_cast<size_t>(s)] >= 0)
      return true;
  return false;
}

// True when node `to` can be reached from node `from` by the links kept so far.
bool planner::reaches(int32_t from, int32_t to) {
  std::vector<int32_t> stack{from};
  std::vector<bool> seen(node_run_.size(), false);
  seen[static_cast<size_t>(from)] = true;
  while (!stack.empty()) {
    const int32_t n = stack.back();
    stack.pop_back();
    if (n == to) return true;
    for (int32_t k = edge_begin_[static_cast<size_t>(n)]; k < edge_begin_[static_cast<size_t>(n) + 1]; ++k) {
      const int32_t m = edge_to_[static_cast<size_t>(k)];
      if (!seen[static_cast<size_t>(m)]) seen[static_cast<size_t>(m)] = true, stack.push_back(m);
    }
  }
  return false;
}

// The identified frames as nodes, and the links between them: those within a
// pass first, then each of the others where it closes no cycle.
bool planner::make_graph() {
  std::vector<int32_t> node_of(runs_.size(), -1);
  for (size_t r = 0; r < runs_.size(); ++r) {
    if (!identified(static_cast<int32_t>(r))) continue;
    const int32_t g = group_[r];
    int32_t& node = node_of[static_cast<size_t>(g)];
    if (node < 0) node = static_cast<int32_t>(node_run_.size()), node_run_.push_back(static_cast<int32_t>(r));
    runs_[r].node = node;
    const int32_t stands = node_run_[static_cast<size_t>(node)];
    if (entry(best(static_cast<int32_t>(r))).right_blocks > entry(best(stands)).right_blocks)
      node_run_[static_cast<size_t>(node)] = static_cast<int32_t>(r);
  }
  const size_t nodes = node_run_.size();
  node_runs_begin_.assign(nodes + 1, 0);
  for (const read_run& u : runs_)
    if (u.node >= 0) ++node_runs_begin_[static_cast<size_t>(u.node) + 1];
  for (size_t k = 0; k < nodes; ++k) node_runs_begin_[k + 1] += node_runs_begin_[k];
  node_runs_.resize(static_cast<size_t>(node_runs_begin_[nodes]));
  {
    std::vector<int32_t> at(node_runs_begin_.begin(), node_runs_begin_.end() - 1);
    for (size_t r = 0; r < runs_.size(); ++r)
      if (runs_[r].node >= 0) node_runs_[static_cast<size_t>(at[static_cast<size_t>(runs_[r].node)]++)] = static_cast<int32_t>(r);
  }

  // What the reads of each node say of it, together.
  node_stamps_.assign(nodes, stamp{-1, NO_INFO, NO_INFO, NO_INFO, false});
  for (size_t n = 0; n < nodes; ++n)
    for (int32_t k = node_runs_begin_[n]; k < node_runs_begin_[n + 1]; ++k) {
      const stamp s = stamp_of(node_runs_[static_cast<size_t>(k)]);
      stamp& into = node_stamps_[n];
      if (into.count < 0 && s.count >= 0) into.timecode = s.timecode, into.count = s.count;
      if (!has_date(into.rec_date)) into.rec_date = s.rec_date;
      if (!has_time(into.rec_time)) into.rec_time = s.rec_time;
      into.recording_start |= s.recording_start;
    }

  // The links of the passes, as edges by node; a cycle among them is two
  // passes disagreeing.
  auto build = [&](bool soft_too) {
    std::vector<std::pair<int32_t, int32_t>> edges;
    for (const link& l : links_)
      if (l.kept && (soft_too || !l.soft))
        edges.push_back({runs_[static_cast<size_t>(l.from)].node, runs_[static_cast<size_t>(l.to)].node});
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    edge_begin_.assign(nodes + 1, 0);
    in_begin_.assign(nodes + 1, 0);
    for (const auto& e : edges) ++edge_begin_[static_cast<size_t>(e.first) + 1], ++in_begin_[static_cast<size_t>(e.second) + 1];
    for (size_t k = 0; k < nodes; ++k) edge_begin_[k + 1] += edge_begin_[k], in_begin_[k + 1] += in_begin_[k];
    edge_to_.resize(edges.size());
    in_from_.resize(edges.size());
    std::vector<int32_t> out_at(edge_begin_.begin(), edge_begin_.end() - 1), in_at(in_begin_.begin(), in_begin_.end() - 1);
    for (const auto& e : edges) {
      edge_to_[static_cast<size_t>(out_at[static_cast<size_t>(e.first)]++)] = e.second;
      in_from_[static_cast<size_t>(in_at[static_cast<size_t>(e.second)]++)] = e.first;
    }
  };
  build(false);
  // Kahn's algorithm: an order of the frames by the links within passes;
  // what is left over lies on a cycle, two passes disagreeing.
  std::vector<int32_t> rank(nodes, -1);
  auto rank_nodes = [&]() {
    std::vector<int32_t> in(nodes), ready;
    for (size_t k = 0; k < nodes; ++k) {
      in[k] = in_begin_[k + 1] - in_begin_[k];
      if (in[k] == 0) ready.push_back(static_cast<int32_t>(k));
    }
    int32_t done = 0;
    std::fill(rank.begin(), rank.end(), -1);
    while (!ready.empty()) {
      const int32_t n = ready.back();
      ready.pop_back();
      rank[static_cast<size_t>(n)] = done++;
      for (int32_t k = edge_begin_[static_cast<size_t>(n)]; k < edge_begin_[static_cast<size_t>(n) + 1]; ++k)
        if (--in[static_cast<size_t>(edge_to_[static_cast<size_t>(k)])] == 0) ready.push_back(edge_to_[static_cast<size_t>(k)]);
    }
    return static_cast<size_t>(done) == nodes;
  };
  if (!rank_nodes()) {
    for (const link& l : links_) {
      const read_run &a = runs_[static_cast<size_t>(l.from)], &b = runs_[static_cast<size_t>(l.to)];
      if (l.soft || rank[static_cast<size_t>(a.node)] >= 0 || rank[static_cast<size_t>(b.node)] >= 0) continue;
      // A link on a cycle, and another pass that reads its frame.
      read_ref other{-1, -1};
      for (int32_t k = node_runs_begin_[static_cast<size_t>(b.node)]; k < node_runs_begin_[static_cast<size_t>(b.node) + 1]; ++k) {
        const read_run& v = runs_[static_cast<size_t>(node_runs_[static_cast<size_t>(k)])];
        if (v.pass != b.pass) other = {v.transfer, v.best};
      }
      return refuse(merge_refusal::reason::disagree, {b.transfer, b.best}, other);
    }
  }
  // Where a pass's timecode went back silently, the passes read the frame
  // it went to before the one it came from (the deck went back), or, with
  // the other links, after it (a recording whose start that pass lost).
  const auto proven_back = [&](const std::pair<int32_t, int32_t>& b) {
    return reaches(runs_[static_cast<size_t>(b.second)].node, runs_[static_cast<size_t>(b.first)].node);
  };
  silent_backs_.erase(std::remove_if(silent_backs_.begin(), silent_backs_.end(), proven_back), silent_backs_.end());
  // The others, in the order read, where they close no cycle: the capture's
  // own order, unless another pass says otherwise. One that goes along the
  // order found so far closes none.
  for (link& l : links_) l.kept = !l.soft;
  bool added = false;  // links kept since the graph was built
  // The surest first: a frame whose timecode follows on from the last's;
  // then a recording's first frame (marked, or of another date) played on
  // into from the end of the one before; then the others (across frames off
  // speed, where the timecode leaps).
  std::vector<size_t> soft;
  for (size_t k = 0; k < links_.size(); ++k)
    if (links_[k].soft && !links_[k].fallen) soft.push_back(k);
  // Within each, those that ask fewer jumps: a link from a frame that a pass
  // reads on from elsewhere, or into one a pass reads on to from elsewhere,
  // means the deck jumped there; unless the timecodes of that other pass
  // leave room between for the frame linked to (or from): it dropped it.
  auto room_between = [&](int32_t before, int32_t within, int32_t after) {
    const int64_t a = node_stamps_[static_cast<size_t>(before)].count, b = node_stamps_[static_cast<size_t>(within)].count,
                  c = node_stamps_[static_cast<size_t>(after)].count;
    return a >= 0 && c - a >= 2 && (b < 0 || (a < b && b < c));
  };
  std::vector<int> jumps(links_.size(), 0);
  for (const size_t k : soft) {
    const int32_t a = runs_[static_cast<size_t>(links_[k].from)].node, b = runs_[static_cast<size_t>(links_[k].to)].node;
    for (int32_t e = edge_begin_[static_cast<size_t>(a)]; e < edge_begin_[static_cast<size_t>(a) + 1]; ++e)
      jumps[k] += edge_to_[static_cast<size_t>(e)] != b && !room_between(a, b, edge_to_[static_cast<size_t>(e)]);
    for (int32_t e = in_begin_[static_cast<size_t>(b)]; e < in_begin_[static_cast<size_t>(b) + 1]; ++e)
      jumps[k] += in_from_[static_cast<size_t>(e)] != a && !room_between(in_from_[static_cast<size_t>(e)], a, b);
  }
  // And, those alike, the ones more passes read: a link two passes read
  // stands before one only one did, whichever transfer was given first.
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (const size_t k : soft)
    pairs.push_back({runs_[static_cast<size_t>(links_[k].from)].node, runs_[static_cast<size_t>(links_[k].to)].node});
  std::sort(pairs.begin(), pairs.end());
  auto support = [&](size_t k) {
    const std::pair<int32_t, int32_t> p{runs_[static_cast<size_t>(links_[k].from)].node, runs_[static_cast<size_t>(links_[k].to)].node};
    return std::upper_bound(pairs.begin(), pairs.end(), p) - std::lower_bound(pairs.begin(), pairs.end(), p);
  };
  auto stronger = [&](size_t a, size_t b) {
    if (links_[a].priority != links_[b].priority) return links_[a].priority < links_[b].priority;
    if (jumps[a] != jumps[b]) return jumps[a] < jumps[b];
    return support(a) > support(b);
  };
  std::stable_sort(soft.begin(), soft.end(), stronger);
  // Whether link k closes a cycle with the links kept so far.
  auto closes_cycle = [&](size_t k) {
    const int32_t a = runs_[static_cast<size_t>(links_[k].from)].node, b = runs_[static_cast<size_t>(links_[k].to)].node;
    if (rank[static_cast<size_t>(a)] < rank[static_cast<size_t>(b)]) return false;
    if (added) build(true), added = false;
    return reaches(b, a);
  };
  // By groups of links as sure one as another: those the surer ones
  // contradict fall; of the rest, two that contradict each other are passes
  // that disagree with nothing to choose between them.
  for (size_t g = 0; g < soft.size();) {
    size_t end = g + 1;
    while (end < soft.size() && !stronger(soft[g], soft[end])) ++end;
    if (stopped()) return false;
    for (size_t i = g; i < end; ++i) links_[soft[i]].cut = closes_cycle(soft[i]);
    for (size_t i = g; i < end; ++i) {
      link& l = links_[soft[i]];
      if (l.cut) continue;
      if (closes_cycle(soft[i])) {
        const read_run &a = runs_[static_cast<size_t>(l.from)], &b = runs_[static_cast<size_t>(l.to)];
        return refuse(merge_refusal::reason::disagree, {b.transfer, b.best}, {a.transfer, a.best});
      }
      l.kept = added = true;
      const int32_t from = runs_[static_cast<size_t>(l.from)].node, to = runs_[static_cast<size_t>(l.to)].node;
      if (rank[static_cast<size_t>(from)] > rank[static_cast<size_t>(to)]) {
        build(true), added = false;
        rank_nodes();
      }
    }
    g = end;
  }
  build(true);
  for (const auto& [from, to] : silent_backs_)
    if (!reaches(runs_[static_cast<size_t>(from)].node, runs_[static_cast<size_t>(to)].node))
      return refuse(merge_refusal::reason::unordered, best(to), best(from));
  split_passes();
  return true;
}

// A pass that began where the timecode started again at a new recording is
// one with the pass before when the link between them stood: a transfer over
// two recordings is one pass.
void planner::split_passes() {
  std::vector<bool> goes_on(pass_transfer_.size(), false);
  for (const link& l : links_)
    if (l.new_recording && l.kept) goes_on[static_cast<size_t>(runs_[static_cast<size_t>(l.to)].pass)] = true;
  std::vector<int32_t> renumbered(pass_transfer_.size());
  int32_t count = 0;
  for (size_t p = 0; p < pass_transfer_.size(); ++p) {
    if (p == 0 || !goes_on[p] || pass_transfer_[p] != pass_transfer_[p - 1]) ++count;
    renumbered[p] = count - 1;
  }
  std::vector<int32_t> transfer_of(static_cast<size_t>(count));
  for (size_t p = 0; p < pass_transfer_.size(); ++p) transfer_of[static_cast<size_t>(renumbered[p])] = pass_transfer_[p];
  pass_transfer_ = transfer_of;
  for (read_run& u : runs_)
    if (u.pass >= 0) u.pass = renumbered[static_cast<size_t>(u.pass)];
  for (placed_read& p : word_reads_) p.pass = renumbered[static_cast<size_t>(p.pass)];
}

// Transfers share a frame when both read an identified frame; all must be
// joined so.
bool planner::check_shared() {
  const size_t count = transfers_.size();
  std::vector<int32_t> joined(count);
  for (size_t t = 0; t < count; ++t) joined[t] = static_cast<int32_t>(t);
  auto root = [&](int32_t t) {
    while (joined[static_cast<size_t>(t)] != t) t = joined[static_cast<size_t>(t)];
    return t;
  };
  for (size_t n = 0; n < node_run_.size(); ++n) {
    const int32_t first = runs_[static_cast<size_t>(node_runs_[static_cast<size_t>(node_runs_begin_[n])])].transfer;
    for (int32_t k = node_runs_begin_[n]; k < node_runs_begin_[n + 1]; ++k)
      joined[static_cast<size_t>(root(runs_[static_cast<size_t>(node_runs_[static_cast<size_t>(k)])].transfer))] = root(first);
  }
  int32_t base = -1;
  for (size_t t = 0; t < count; ++t) {
    const int32_t r = transfer_runs_[t];
    if (r == transfer_runs_[t + 1]) continue;  // no read at playback speed
    if (base < 0) {
      base = static_cast<int32_t>(t);
      continue;
    }
    if (root(static_cast<int32_t>(t)) == root(base)) continue;
    // Apart: where the keys put frames of both at one place and they
    // differ, the tapes differ there.
    std::vector<std::pair<int64_t, int32_t>> based;  // timecode counts of frames joined to the first
    for (size_t n = 0; n < node_run_.size(); ++n) {
      const int32_t nr = node_run_[n];
      const stamp st = node_stamps_[n];
      if (st.count >= 0 && root(runs_[static_cast<size_t>(nr)].transfer) == root(base))
        based.push_back({st.count, static_cast<int32_t>(n)});
    }
    std::sort(based.begin(), based.end());
    for (size_t n = 0; n < node_run_.size(); ++n) {
      const int32_t nr = node_run_[n];
      const stamp st = node_stamps_[n];
      if (st.count < 0 || root(runs_[static_cast<size_t>(nr)].transfer) != root(static_cast<int32_t>(t))) continue;
      for (auto at = std::lower_bound(based.begin(), based.end(), std::make_pair(st.count, int32_t{-1}));
           at != based.end() && at->first == st.count; ++at) {
        const int32_t other = node_run_[static_cast<size_t>(at->second)];
        const stamp so = node_stamps_[static_cast<size_t>(at->second)];
        if (has_date(st.rec_date) && has_date(so.rec_date) && st.rec_date != so.rec_date) continue;
        if (compare_runs(nr, other) == likeness::different)
          return refuse(merge_refusal::reason::differs, best(nr), best(other));
      }
    }
    if (fail_if_unread()) return false;
    return refuse(merge_refusal::reason::shares_nothing, {static_cast<int32_t>(t), runs_[static_cast<size_t>(r)].first},
                  {base, runs_[static_cast<size_t>(transfer_runs_[static_cast<size_t>(base)])].first});
  }
  return true;
}

// Which of two identified frames that no link orders comes first by their
// keys: -1 a, 1 b, 0 when nothing tells, 2 when the keys put them at one
// place. The recording date and time order frames of different recordings;
// the timecode, frames of one; a frame whose timecode was not read takes one
// that the identified frames around it in its passes leave free.
int planner::order_by_keys(int32_t a, int32_t b) {
  const stamp sa = node_stamps_[static_cast<size_t>(a)], sb = node_stamps_[static_cast<size_t>(b)];
  const int64_t ta = seconds_recorded(sa.rec_date, sa.rec_time), tb = seconds_recorded(sb.rec_date, sb.rec_time);
  if (ta >= 0 && tb >= 0 && ta != tb) return ta < tb ? -1 : 1;
  // Two recording starts: the timecode may have started again at either.
  if (sa.recording_start && sb.recording_start) return 0;
  if (sa.count >= 0 && sb.count >= 0) return sa.count < sb.count ? -1 : sa.count > sb.count ? 1 : 2;
  if (sa.count < 0 && sb.count < 0) return 0;
  // One without a timecode: the timecodes its neighbours leave it, less
  // those their other neighbours hold.
  const bool a_bare = sa.count < 0;
  const int32_t bare = a_bare ? a : b;
  const int64_t known = a_bare ? sb.count : sa.count;
  int64_t lo = -1, hi = -1;
  std::vector<int64_t> held{known};
  for (int32_t k = in_begin_[static_cast<size_t>(bare)]; k < in_begin_[static_cast<size_t>(bare) + 1]; ++k) {
    const int32_t p = in_from_[static_cast<size_t>(k)];
    const stamp sp = node_stamps_[static_cast<size_t>(p)];
    if (sp.count >= 0) lo = std::max(lo, sp.count + 1);
    for (int32_t e = edge_begin_[static_cast<size_t>(p)]; e < edge_begin_[static_cast<size_t>(p) + 1]; ++e)
      if (edge_to_[static_cast<size_t>(e)] != bare) held.push_back(node_stamps_[static_cast<size_t>(edge_to_[static_cast<size_t>(e)])].count);
  }
  for (int32_t k = edge_begin_[static_cast<size_t>(bare)]; k < edge_begin_[static_cast<size_t>(bare) + 1]; ++k) {
    const int32_t s = edge_to_[static_cast<size_t>(k)];
    const stamp ss = node_stamps_[static_cast<size_t>(s)];
    if (ss.count >= 0 && !ss.recording_start) hi = hi < 0 ? ss.count - 1 : std::min(hi, ss.count - 1);
    for (int32_t e = in_begin_[static_cast<size_t>(s)]; e < in_begin_[static_cast<size_t>(s) + 1]; ++e)
      if (in_from_[static_cast<size_t>(e)] != bare) held.push_back(node_stamps_[static_cast<size_t>(in_from_[static_cast<size_t>(e)])].count);
  }
  if (lo < 0 || hi < lo || hi - lo >= MOST_FREE_TIMECODES || sa.recording_start || sb.recording_start) return 0;
  bool below = false, above = false;
  for (int64_t tc = lo; tc <= hi; ++tc) {
    if (std::find(held.begin(), held.end(), tc) != held.end()) continue;
    (tc < known ? below : above) = true;
  }
  if (below == above) return 0;
  return below == a_bare ? -1 : 1;
}

// Two reads that name the place where frames a and b could not be ordered:
// of two transfers where both have one, the later given first.
bool planner::refuse_order(int32_t a, int32_t b, int verdict) {
  const likeness same = compare_runs(node_run_[static_cast<size_t>(a)], node_run_[static_cast<size_t>(b)]);
  if (fail_if_unread()) return false;
  read_ref at = best(node_run_[static_cast<size_t>(b)]), other = best(node_run_[static_cast<size_t>(a)]);
  bool apart = false;  // at and other are of two transfers
  for (int32_t i = node_runs_begin_[static_cast<size_t>(a)]; i < node_runs_begin_[static_cast<size_t>(a) + 1]; ++i)
    for (int32_t k = node_runs_begin_[static_cast<size_t>(b)]; k < node_runs_begin_[static_cast<size_t>(b) + 1]; ++k) {
      const read_ref ra = best(node_runs_[static_cast<size_t>(i)]), rb = best(node_runs_[static_cast<size_t>(k)]);
      if (ra.transfer == rb.transfer) continue;
      if (apart && std::max(ra.transfer, rb.transfer) <= at.transfer) continue;
      at = ra.transfer > rb.transfer ? ra : rb, other = ra.transfer > rb.transfer ? rb : ra;
      apart = true;
    }
  return refuse(verdict == 2 && same == likeness::different ? merge_refusal::reason::differs
                                                            : merge_refusal::reason::unordered,
                at, other);
}

// The identified frames in the order the links agree on, the keys ordering
// those that no link orders. Frames that links whose timecodes follow on join
// into one recording are in the order of their timecodes, where that agrees
// with the links; other frames by their keys as they come.
bool planner::order_nodes() {
  const size_t nodes = node_run_.size();
  // One recording: frames joined by links whose timecodes follow on.
  std::vector<int32_t> recording(nodes);
  for (size_t k = 0; k < nodes; ++k) recording[k] = static_cast<int32_t>(k);
  auto root = [&](int32_t n) {
    while (recording[static_cast<size_t>(n)] != n)
      n = recording[static_cast<size_t>(n)] = recording[static_cast<size_t>(recording[static_cast<size_t>(n)])];
    return n;
  };
  for (const link& l : links_)
    if (l.kept && follows_on(l.from, l.to))
      recording[static_cast<size_t>(root(runs_[static_cast<size_t>(l.from)].node))] = root(runs_[static_cast<size_t>(l.to)].node);
  struct timed_frame {
    int32_t recording;
    int64_t count;
    int32_t node;
    bool operator<(const timed_frame& o) const { return recording != o.recording ? recording < o.recording : count < o.count; }
  };
  std::vector<timed_frame> timed;
  for (size_t k = 0; k < nodes; ++k)
    if (node_stamps_[k].count >= 0) timed.push_back({root(static_cast<int32_t>(k)), node_stamps_[k].count, static_cast<int32_t>(k)});
  std::sort(timed.begin(), timed.end());
  // A frame that no timecode following on joins to others, whose timecode
  // lies between two of another recording that holds no frame of it, with
  // no date to tell the two apart, may be that recording's missing frame as
  // well as one of its own: nothing tells.
  {
    struct span {
      int32_t recording;
      int64_t first, last;
    };
    std::vector<span> spans;
    for (size_t k = 0; k < timed.size();) {
      size_t end = k + 1;
      while (end < timed.size() && timed[end].recording == timed[k].recording) ++end;
      spans.push_back({timed[k].recording, timed[k].count, timed[end - 1].count});
      k = end;
    }
    constexpr size_t MOST_SPANS = 256;  // (beyond, a tape of many recordings: not looked at)
    for (size_t k = 0; k < timed.size() && spans.size() <= MOST_SPANS; ++k) {
      const bool alone = (k == 0 || timed[k - 1].recording != timed[k].recording) &&
                         (k + 1 == timed.size() || timed[k + 1].recording != timed[k].recording);
      if (!alone) continue;
      const stamp& a = node_stamps_[static_cast<size_t>(timed[k].node)];
      for (const span& sp : spans) {
        if (sp.recording == timed[k].recording || a.count <= sp.first || a.count >= sp.last) continue;
        const auto at = std::lower_bound(timed.begin(), timed.end(), timed_frame{sp.recording, a.count, -1});
        if (at == timed.end() || at->recording != sp.recording || at->count == a.count) continue;
        const stamp& b = node_stamps_[static_cast<size_t>(at->node)];
        if (has_date(a.rec_date) != has_date(b.rec_date) || (has_date(a.rec_date) && a.rec_date != b.rec_date)) continue;
        return refuse(merge_refusal::reason::unordered, best(node_run_[static_cast<size_t>(timed[k].node)]),
                      best(node_run_[static_cast<size_t>(at->node)]));
      }
    }
  }
  // A pass that played on into a recording start whose timecode is a little
  // lower, with no date to tell the recordings apart, may as well have gone
  // back to that start: where the recording runs on past the timecode of the
  // frame played from, and holds no other frame of it, nothing tells
  // whether that frame ends another recording or is the one missing there.
  for (const link& l : links_) {
    if (!l.kept || !l.soft) continue;
    const stamp a = run_stamp(l.from), b = run_stamp(l.to);
    if (!b.recording_start || a.count < 0 || b.count < 0 || a.count <= b.count || a.count - b.count > MOST_DROPPED ||
        has_date(a.rec_date) != has_date(b.rec_date) || dates_differ(l.from, l.to))
      continue;
    const int32_t into = root(runs_[static_cast<size_t>(l.to)].node);
    const auto from = std::lower_bound(timed.begin(), timed.end(), timed_frame{into, a.count, -1});
    if (from != timed.end() && from->recording == into && from->count > a.count)
      return refuse(merge_refusal::reason::unordered, best(l.from), best(l.to));
  }
  // From each frame to the next of its recording by timecode.
  std::vector<int32_t> next_timed(nodes, -1);
  for (size_t k = 1; k < timed.size(); ++k)
    if (timed[k].recording == timed[k - 1].recording && timed[k].count > timed[k - 1].count)
      next_timed[static_cast<size_t>(timed[k - 1].node)] = timed[k].node;
  for (const bool by_timecode : {true, false}) {
    std::vector<int32_t> in(nodes), ready;
    for (size_t k = 0; k < nodes; ++k) in[k] = in_begin_[k + 1] - in_begin_[k];
    if (by_timecode)
      for (size_t k = 0; k < nodes; ++k)
        if (next_timed[k] >= 0) ++in[static_cast<size_t>(next_timed[k])];
    for (size_t k = 0; k < nodes; ++k)
      if (in[k] == 0) ready.push_back(static_cast<int32_t>(k));
    if (!order_ready(in, ready, by_timecode ? &next_timed : nullptr)) return false;
    if (order_.size() == nodes) break;  // (else the timecodes go against the links)
  }
  position_.assign(nodes, -1);
  for (size_t k = 0; k < order_.size(); ++k) position_[static_cast<size_t>(order_[k])] = static_cast<int32_t>(k);
  return true;
}

// The order from the frames ready (nothing before them), `in` counting what
// must come before each of the others; with `next_timed`, also each frame's
// next by timecode.
bool planner::order_ready(std::vector<int32_t>& in, std::vector<int32_t>& ready, const std::vector<int32_t>* next_timed) {
  const size_t nodes = node_run_.size();
  order_.clear();
  order_.reserve(nodes);
  while (!ready.empty()) {
    if (stopped()) return false;
    size_t first = 0;
    for (size_t k = 1; k < ready.size(); ++k) {
      const int verdict = order_by_keys(ready[first], ready[k]);
      if (verdict == -1) continue;
      if (verdict == 1) {
        first = k;
        continue;
      }
      return refuse_order(ready[first], ready[k], verdict);
    }
    // The frame chosen must come before every other ready one.
    for (size_t k = 0; k < ready.size(); ++k) {
      if (k == first) continue;
      const int verdict = order_by_keys(ready[first], ready[k]);
      if (verdict == -1) continue;
      return refuse_order(ready[first], ready[k], verdict);
    }
    const int32_t n = ready[first];
    ready.erase(ready.begin() + static_cast<std::ptrdiff_t>(first));
    order_.push_back(n);
    for (int32_t k = edge_begin_[static_cast<size_t>(n)]; k < edge_begin_[static_cast<size_t>(n) + 1]; ++k)
      if (--in[static_cast<size_t>(edge_to_[static_cast<size_t>(k)])] == 0) ready.push_back(edge_to_[static_cast<size_t>(k)]);
    if (next_timed) {
      const int32_t m = (*next_timed)[static_cast<size_t>(n)];
      if (m >= 0 && --in[static_cast<size_t>(m)] == 0) ready.push_back(m);
    }
  }
  return true;
}

}  // namespace dvlog
