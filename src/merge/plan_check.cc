// The rows of the plan checked against every transfer before they are kept:
// what the stages inferred one piece at a time must explain each transfer
// as a whole, or the merge is refused.

#include <algorithm>

#include "dv/datetime.h"
#include "dv/system.h"
#include "merge/planner.h"

namespace dvlog {

namespace {

// Frames a pass may drop in a row with nothing to count them: more, where no
// timecode says so, is likelier an order the plan got wrong than a deck that
// lost them all.
constexpr int64_t UNCOUNTED_DROPS = 2;
// Black frames a recording may open with, at most, for the rules below.
constexpr int32_t LEADER = 6;
// A timecode this many frames on, at most, says the deck played on.
constexpr int64_t PLAYED_ON = 4;
// 525/60 sound at 48 kHz locked to the picture comes in cycles of this many
// frames (8,008 samples).
constexpr int64_t SOUND_CYCLE = 5;

// Whether rows between two of content the tape holds more than once hold
// other such content than either: where a pass skipped them, the passes
// read that content in different patterns (black whose sound comes again
// every few frames), and nothing tells which pattern the tape holds.
template <class content_of>
bool skips_other_content(int64_t from, int64_t to, const content_of& plain) {
  const int32_t a = plain(from), b = plain(to);
  for (int64_t row = from + 1; row < to; ++row) {
    const int32_t g = plain(row);
    if (g >= 0 && g != a && g != b) return true;
  }
  return false;
}

// Whether a pass that read two rows skipped a row between of a deck's
// stand-ins only, next to a frame without timecode: the stand-in may be a
// frame of its own, or a read of that frame's twin (black, a still) that
// this pass read once. So just before a recording start, where no
// timecode counts the frames: the stand-in may be one read again.
template <class keys>
bool skips_lone_stand_in(int64_t from, int64_t to, const std::vector<keys>& rows) {
  for (int64_t row = from + 1; row < to; ++row) {
    if (!rows[static_cast<size_t>(row)].too_little) continue;
    if (row + 1 == to && rows[static_cast<size_t>(to)].recording_start) return true;
    for (const int64_t beside : {row - 1, row + 1})
      if (beside >= 0 && beside < static_cast<int64_t>(rows.size()) && !rows[static_cast<size_t>(beside)].too_little &&
          rows[static_cast<size_t>(beside)].timecode < 0)
        return true;
  }
  return false;
}

}  // namespace

// Each transfer, read in its order, is a deck playing the tape forward: from
// one read to the next at playback speed, the same frame again (a repeat),
// the next frame, a frame before it (the deck went back), or a frame further
// on with the frames between dropped. A plan that explains a transfer only
// otherwise put some place in an order it cannot know: refused (each rule
// below says where). And content the tape holds more than once (black, a
// still) is placed by one pass's count: where a retake within it explains
// the rows as well as the tape does, refused too.
bool planner::check_rows() {
  std::vector<std::vector<int32_t>> row_of(transfers_.size()), run_of(transfers_.size());  // by transfer and frame
  for (size_t t = 0; t < transfers_.size(); ++t) {
    row_of[t].assign(transfers_[t].frames.size(), -1);
    run_of[t].assign(transfers_[t].frames.size(), -1);
  }
  std::vector<int32_t> row_run(static_cast<size_t>(rows_), -1);  // a run of each row, of the first read placed
  // What the reads of each row say: the first timecode and recording time
  // read, and whether one marks a recording start.
  struct row_key {
    int64_t recorded = -1;
    int32_t timecode = -1;
    bool recording_start = false;
    bool sound_cycle = false;  // a read opens the sound's five-frame cycle
    bool too_little = true;  // every read of it has too little read right (a deck's stand-ins)
    bool heard = false;      // a read of it holds sound
    read_ref read{-1, -1};
  };
  std::vector<row_key> row_keys(static_cast<size_t>(rows_));
  // Whether the keys put the recording of row `at` after that of the row
  // before it: a later recording time, or a timecode that goes on across.
  auto recordings_keyed = [](const row_key& before, const row_key& at) {
    const int64_t steps = before.timecode >= 0 && at.timecode >= 0 ? at.timecode - before.timecode : 0;
    return (before.recorded >= 0 && at.recorded > before.recorded) || (steps > 0 && steps <= PLAYED_ON);
  };
  for (const auto& [row, p] : placed_) {
    row_of[static_cast<size_t>(p.read.transfer)][static_cast<size_t>(p.read.frame)] = static_cast<int32_t>(row);
    run_of[static_cast<size_t>(p.read.transfer)][static_cast<size_t>(p.read.frame)] = p.run;
    if (row_run[static_cast<size_t>(row)] < 0) row_run[static_cast<size_t>(row)] = p.run;
    row_key& k = row_keys[static_cast<size_t>(row)];
    const frame_entry& f = entry(p.read);
    if (k.read.transfer < 0) k.read = p.read;
    if (k.timecode < 0 && has_time(f.timecode)) k.timecode = static_cast<int32_t>(timecode_count(p.read));
    if (k.recorded < 0) k.recorded = recorded_seconds(f.rec_date, f.rec_time, LATEST_TWO_DIGIT_YEAR);
    k.recording_start |= (f.flags & FRAME_RECORDING_START) != 0;
    k.sound_cycle |= (f.flags & FRAME_SOUND_CYCLE) != 0;
    k.too_little &= compare_.too_little(p.read);
    k.heard |= (f.flags & FRAME_AUDIBLE) != 0;
  }
  // The content of a row of content the tape holds more than once; -1 for others.
  auto plain_group = [&](int64_t row) {
    const int32_t r = row_run[static_cast<size_t>(row)];
    const int32_t g = r >= 0 ? group_[static_cast<size_t>(r)] : -1;
    return g >= 0 && plain_[static_cast<size_t>(g)] ? g : -1;
  };
  // By row: reads of it that follow a read of the row before in their pass.
  std::vector<int32_t> crossings(static_cast<size_t>(rows_), 0);
  std::vector<int32_t> forward_to(static_cast<size_t>(rows_), -1);  // by row: the furthest row a pass read next
  std::vector<bool> landed(static_cast<size_t>(rows_), false);     // by row: a pass began there
  // Two reads next to one another in a transfer, and their rows, further
  // apart than a deck drops frames.
  struct skip {
    read_ref a, b;
    int64_t from, to;
  };
  std::vector<skip> long_skips, back_to_starts, back_to_first, stand_ins_in_black;
  // Whether the next row with a timecode after `row`, in its recording,
  // counts the rows from `timed` on.
  auto counted_on = [&](int64_t timed, int64_t row) {
    int64_t q = row + 1;
    while (q < rows_ && row_keys[static_cast<size_t>(q)].timecode < 0 && !row_keys[static_cast<size_t>(q)].recording_start)
      ++q;
    return q < rows_ && !row_keys[static_cast<size_t>(q)].recording_start &&
           row_keys[static_cast<size_t>(q)].timecode == row_keys[static_cast<size_t>(timed)].timecode + (q - timed);
  };
  std::vector<int32_t> crossed_by(static_cast<size_t>(rows_), -1);  // by row: the transfer of its crossings; -2 several
  std::vector<bool> stepped_over(static_cast<size_t>(rows_), false);  // by row: a pass read the rows on either side in turn

  // Drops are rare: more than a couple in a row only where the two reads'
  // timecodes, in one recording, count the frames between, or where other
  // passes read every frame skipped one after the other (below). A deck that
  // went back lands where the timecode went on a few frames only by chance.
  // Skipped content the tape holds more than once unlike the content on
  // either side, or a stand-in next to a frame without timecode, may be the
  // pattern of a retake within that content.
  for (size_t t = 0; t < transfers_.size(); ++t) {
    const std::vector<frame_entry>& frames = transfers_[t].frames;
    const int32_t transfer = static_cast<int32_t>(t);
    int32_t last = -1;     // the last read placed
    int64_t unplaced = 0;  // reads since it that are in no row: each may be a frame between
    // A read the deck went back to, untimed, while nothing read after it:
    // where the deck then stops or shuttles, nothing tells that read from
    // the next frame holding the same content (black opening each
    // recording).
    int32_t lone = -1;
    // The last recording start read without timecode, where the pass read
    // on from it a leader's length at most: where the deck then went back
    // to the tape's first frame, another recording that opens alike may lie
    // before that frame, the one the deck went back to.
    int32_t open_start = -1;
    bool began = false;  // a read of the transfer is placed
    // The last read with a timecode since the pass last went back, began a
    // recording or left playback speed. Within one recording, the timecode
    // counts the frames from it to the next read with one, whatever was read
    // between without: the plan may lack some (no pass read them), never
    // hold more.
    int32_t timed = -1;
    int32_t left_out = -1;  // the first read since it in no row, not a stand-in
    for (int32_t j = 0; j <= static_cast<int32_t>(frames.size()); ++j) {
      if (stopped()) return false;
      if (j == static_cast<int32_t>(frames.size()) || (frames[static_cast<size_t>(j)].flags & FRAME_OFF_SPEED)) {
        open_start = -1;
        if (lone >= 0) {
          const read_ref read{transfer, lone};
          return refuse(merge_refusal::reason::unordered, read, other_read(row_of[t][static_cast<size_t>(lone)], read));
        }
        last = timed = left_out = -1;
        continue;
      }
      const int64_t row = row_of[t][static_cast<size_t>(j)];
      if (row < 0) {
        ++unplaced;
        if (left_out < 0 && !compare_.too_little({transfer, j})) left_out = j;
        // The frames a transfer began with, before anything placed: the
        // deck played on from them, and they are frames of the tape.
        if (!began && !compare_.too_little({transfer, j})) return refuse(merge_refusal::reason::unplaced, {transfer, j});
        continue;
      }
      began = true;
      // A read without timecode in the row of the frame read just before or
      // after it, whose timecode was read: a repeat that lost its subcode,
      // where the reads around it leave no room for another frame; else the
      // next frame of a still is as likely.
      int32_t next = j + 1;  // the next read placed
      while (next < static_cast<int32_t>(frames.size()) && row_of[t][static_cast<size_t>(next)] < 0) ++next;
      const bool repeat = (last >= 0 && row_of[t][static_cast<size_t>(last)] == row) ||
                          (next < static_cast<int32_t>(frames.size()) && row_of[t][static_cast<size_t>(next)] == row);
      if (repeat && !has_time(frames[static_cast<size_t>(j)].timecode) && row_keys[static_cast<size_t>(row)].timecode >= 0 &&
          !repeat_fits(row_of[t], frames, j, row_keys[static_cast<size_t>(row)].timecode))
        return refuse(merge_refusal::reason::unordered, {transfer, j}, other_read(row, {transfer, j}));
      if (last >= 0) {
        const int64_t from = row_of[t][static_cast<size_t>(last)];
        const int64_t skipped = row - from - 1 - unplaced;
        const int64_t steps = timecode_steps({transfer, last}, {transfer, j});
        const frame_entry &a = frames[static_cast<size_t>(last)], &b = frames[static_cast<size_t>(j)];
        const bool one_recording = !(b.flags & FRAME_RECORDING_START) &&
                                   !(has_date(a.rec_date) && has_date(b.rec_date) && a.rec_date != b.rec_date);
        const bool counted = one_recording && steps == row - from;
        if (skipped > UNCOUNTED_DROPS && !counted) long_skips.push_back({{transfer, last}, {transfer, j}, from, row});
        if ((row < from && steps > 0 && steps <= PLAYED_ON) ||
            (skipped > 0 && skips_other_content(from, row, plain_group)) ||
            (skipped > 0 && skips_lone_stand_in(from, row, row_keys)))
          return refuse(merge_refusal::reason::disagree, {transfer, last}, {transfer, j});
        if (row == from + 2 && unplaced == 0) stepped_over[static_cast<size_t>(from) + 1] = true;
        if (row == from + 1) {
          ++crossings[static_cast<size_t>(row)];
          // (A deck's stand-in tells not which frame it is: placed by
          // position, it says not that its transfer played on into the row.)
          int32_t& by = crossed_by[static_cast<size_t>(row)];
          if (!compare_.too_little({transfer, j})) by = by == -1 || by == transfer ? transfer : -2;
        }
        // A deck's stand-in read between two reads of one content the tape
        // holds more than once (black), placed as a frame between them: the
        // deck may as well have gone back within that content, the stand-in
        // its first frame back (below).
        if (row == from + 1 && next == j + 1 && next < static_cast<int32_t>(frames.size()) &&
            row_of[t][static_cast<size_t>(next)] == row + 1 && compare_.too_little({transfer, j}) &&
            plain_group(from) >= 0 && plain_group(from) == plain_group(row + 1))
          stand_ins_in_black.push_back({{transfer, last}, {transfer, j}, from, row});
        // Two equal reads one after the other, without timecode, made two
        // frames where the tape's timecodes run (black that lost its
        // subcode): a repeat, or two frames alike, nothing tells.
        const row_key &here = row_keys[static_cast<size_t>(row)], &there = row_keys[static_cast<size_t>(from)];
        if (last == j - 1 && row == from + 1 && run_of[t][static_cast<size_t>(last)] == run_of[t][static_cast<size_t>(j)] &&
            here.timecode < 0 && there.timecode < 0 &&
            ((from > 0 && row_keys[static_cast<size_t>(from) - 1].timecode >= 0) ||
             (row + 1 < rows_ && row_keys[static_cast<size_t>(row) + 1].timecode >= 0)))
          return refuse(merge_refusal::reason::unordered, {transfer, last}, {transfer, j});
        // So a read without timecode, equal to the timed read just before,
        // made a frame of its own after it that no timecode after counts.
        if (last == j - 1 && row == from + 1 && here.timecode < 0 && there.timecode >= 0 &&
            !has_time(frames[static_cast<size_t>(j)].timecode) && !counted_on(from, row) &&
            compare_.compare_whole({transfer, last}, {transfer, j}) == likeness::same)
          return refuse(merge_refusal::reason::unordered, {transfer, last}, {transfer, j});
        // Back to a recording start, or to the tape's first frame, from the
        // last frame of a recording: the deck may as well have played on
        // into it. Back to the first, a recording start, from within one:
        // the start may as well lie just after, the pass that read on from
        // there having dropped it.
        // (Or to a couple of frames after such a start: the deck may have
        // dropped them as it played on.)
        int64_t start = row;
        while (start > 0 && start > row - UNCOUNTED_DROPS && !row_keys[static_cast<size_t>(start)].recording_start)
          --start;
        if (row < from && (row_keys[static_cast<size_t>(start)].recording_start || start == 0) &&
            (from + 1 == rows_ || row_keys[static_cast<size_t>(from) + 1].recording_start))
          back_to_starts.push_back({{transfer, last}, {transfer, j}, start, from});
        else if (row == 0 && row < from && here.recording_start)
          back_to_first.push_back({{transfer, last}, {transfer, j}, row, from});
        if (row > from)
          forward_to[static_cast<size_t>(from)] = std::max(forward_to[static_cast<size_t>(from)], static_cast<int32_t>(row));
        lone = row < from && !has_time(frames[static_cast<size_t>(j)].timecode) ? j : -1;
        if (row == 0 && from > 0 && open_start >= 0 && !here.recording_start)
          return refuse(merge_refusal::reason::unordered, {transfer, open_start}, {transfer, j});
        if (row != from + 1 || j - open_start > LEADER) open_start = -1;
      }
      const frame_entry& f = frames[static_cast<size_t>(j)];
      if ((f.flags & FRAME_RECORDING_START) && !has_time(f.timecode)) open_start = j;
      if ((last >= 0 && row < row_of[t][static_cast<size_t>(last)]) || (f.flags & FRAME_RECORDING_START)) timed = -1;
      if (has_time(f.timecode)) {
        if (timed >= 0) {
          const int64_t at = row_of[t][static_cast<size_t>(timed)], steps = timecode_steps({transfer, timed}, {transfer, j});
          const uint32_t date = frames[static_cast<size_t>(timed)].rec_date;
          const bool one_date = !(has_date(date) && has_date(f.rec_date) && date != f.rec_date);
          if (steps > 0 && row > at && steps < row - at && one_date)
            return refuse(merge_refusal::reason::disagree, {transfer, timed}, {transfer, j});
          // (And reads between left out where the timecodes leave rows
          // for them: frames of the tape, lost.)
          if (steps > 0 && row > at && steps > row - at && one_date && left_out >= 0)
            return refuse(merge_refusal::reason::unplaced, {transfer, left_out});
        }
        timed = j, left_out = -1;
      }
      // Where the deck went back to, or the transfer or a pass after frames
      // off speed began.
      if (last < 0 || row < row_of[t][static_cast<size_t>(last)]) landed[static_cast<size_t>(row)] = true;
      last = j, unplaced = 0;
    }
  }

  // Such a skip stands where other passes read every frame of it one after
  // the other, within one recording: they say what the skipping pass lost.
  // (Not content the tape holds more than once: how many frames of it lie
  // there is one pass's count.)
  for (const skip& k : long_skips) {
    bool read_through = true;
    for (int64_t row = k.from + 1; row <= k.to && read_through; ++row)
      read_through = crossings[static_cast<size_t>(row)] > 0 && !row_keys[static_cast<size_t>(row)].recording_start &&
                     (row == k.to || plain_group(row) < 0);
    if (!read_through) return refuse(merge_refusal::reason::disagree, k.a, k.b);
  }

  // A row of reads placed by position alone (nothing read whole to look
  // them up by), which a pass stepped over, where they equal a frame placed
  // a few rows off: nothing tells that they are not that frame, read where
  // the pass that read them dropped the one it stepped over.
  std::vector<bool> known(static_cast<size_t>(rows_), false);  // by row: a read identified by its content
  for (const auto& [row, p] : placed_)
    known[static_cast<size_t>(row)] = known[static_cast<size_t>(row)] || runs_[static_cast<size_t>(p.run)].how == kind::identified ||
                                      runs_[static_cast<size_t>(p.run)].how == kind::plain;
  for (const auto& [row, p] : placed_) {
    if (known[static_cast<size_t>(row)] || !stepped_over[static_cast<size_t>(row)] || compare_.too_little(p.read)) continue;
    for (int64_t near = std::max<int64_t>(0, row - LEADER); near < std::min<int64_t>(rows_, row + LEADER + 1); ++near) {
      if (near == row || !known[static_cast<size_t>(near)]) continue;
      if (stopped()) return false;
      const read_ref other = row_keys[static_cast<size_t>(near)].read;
      if (compare_.compare(p.read, other) == likeness::same) return refuse(merge_refusal::reason::unordered, p.read, other);
    }
  }

  // Such a stand-in stands where another pass read on through its place.
  for (const skip& k : stand_ins_in_black)
    if (crossings[static_cast<size_t>(k.to)] < 2 || crossings[static_cast<size_t>(k.to) + 1] < 2)
      return refuse(merge_refusal::reason::unordered, k.a, k.b);

  // A transfer that went back to a recording start from the end of a later
  // recording may as well have played on into it, the recordings the other
  // way round, unless something else orders the recordings between: dates
  // or timecodes, or another transfer that played into one of them. (Back to
  // the start of its own recording, whose timecode counts on frame by frame
  // to where the pass went back from, the deck cannot have played on: the
  // recording would follow itself.)
  for (const skip& k : back_to_starts) {
    bool ordered = true;
    for (int64_t row = k.from + 1; row <= k.to && ordered; ++row) {
      const row_key &before = row_keys[static_cast<size_t>(row) - 1], &at = row_keys[static_cast<size_t>(row)];
      ordered = !at.recording_start && before.timecode >= 0 && at.timecode == before.timecode + 1;
    }
    // (Back to the first frame, where passes read every frame between one
    // after the other twice: playing on there, the deck would have gone
    // back to one frame twice as precisely.)
    if (!ordered && !row_keys[static_cast<size_t>(k.from)].recording_start) {
      ordered = true;
      for (int64_t row = k.from + 1; row <= k.to && ordered; ++row)
        ordered = crossings[static_cast<size_t>(row)] >= 2 && !row_keys[static_cast<size_t>(row)].recording_start;
    }
    for (int64_t row = k.from + 1; row <= k.to && !ordered; ++row)
      ordered = row_keys[static_cast<size_t>(row)].recording_start &&
                (recordings_keyed(row_keys[static_cast<size_t>(row) - 1], row_keys[static_cast<size_t>(row)]) ||
                 (crossed_by[static_cast<size_t>(row)] != -1 && crossed_by[static_cast<size_t>(row)] != k.a.transfer));
    if (!ordered) return refuse(merge_refusal::reason::unordered, k.a, k.b);
  }

  // The tape's first frame, a recording start a pass went back to from a
  // frame f within a recording, with another recording start after it: it
  // lies first unless it could not lie between f and the frame after (the
  // timecodes leave no room there, or say the frame after is not its
  // recording's second; or two passes read on from f to it). (Where the
  // frame after it begins no recording, a pass would have had to go back
  // from it to that frame exactly.)
  for (const skip& k : back_to_first) {
    if (rows_ < 2 || !row_keys[1].recording_start) continue;
    const row_key &first = row_keys[0], &f = row_keys[static_cast<size_t>(k.to)],
                  &next = row_keys[static_cast<size_t>(k.to) + 1];
    const bool no_room = (f.timecode >= 0 && next.timecode == f.timecode + 1) ||
                         (first.timecode >= 0 && next.timecode >= 0 && next.timecode != first.timecode + 1) ||
                         crossings[static_cast<size_t>(k.to) + 1] >= 2;
    if (!no_room) return refuse(merge_refusal::reason::unordered, k.a, k.b);
  }

  // Where a recording begins, what puts the recording before it there: a
  // pass that played on into it from the frame before, the recording dates
  // and times, or a timecode that goes on across. One pass that seems to
  // play on into it may have gone back to it (a retake begun at the start
  // of a take): two are needed where a deck went back to that start
  // elsewhere.
  // (Where the timecode went back there, and the frames before it, counted
  // back to where their timecode begins counting, would follow on from a
  // frame of the new recording that its next frame does not: the one pass
  // may have gone back from them to its start.)
  auto fits_after = [&](int64_t start) {
    int64_t first = start - 1;
    while (first > 0 && row_keys[static_cast<size_t>(first) - 1].timecode >= 0 &&
           row_keys[static_cast<size_t>(first) - 1].timecode + 1 == row_keys[static_cast<size_t>(first)].timecode)
      --first;
    const int32_t from = row_keys[static_cast<size_t>(first)].timecode;
    if (from < 0 || row_keys[static_cast<size_t>(start)].timecode < 0 ||
        row_keys[static_cast<size_t>(start)].timecode >= row_keys[static_cast<size_t>(start) - 1].timecode)
      return false;
    for (int64_t q = start; q < rows_ && (q == start || !row_keys[static_cast<size_t>(q)].recording_start); ++q)
      if (row_keys[static_cast<size_t>(q)].timecode == from - 1 &&
          (q + 1 == rows_ || row_keys[static_cast<size_t>(q) + 1].timecode != from))
        return true;
    return false;
  };
  // (And where no timecode tells, the frames before it that only the pass
  // that played on into it read, from where it began or landed, not at a
  // recording start (a recording of their own): they may lie within the new
  // recording where that pass dropped them or read them as reads that say
  // not which frame they are, the deck gone back from them to the start.
  // So from a recording start, where they are silent and a leader's length
  // at most: a recording's leader, read before the deck went back.)
  auto island_before = [&](int64_t start) {
    int64_t q = start - 1;
    bool heard = row_keys[static_cast<size_t>(q)].heard;
    while (q > 0 && crossings[static_cast<size_t>(q)] == 1 && !landed[static_cast<size_t>(q)] &&
           !row_keys[static_cast<size_t>(q)].recording_start)
      heard |= row_keys[static_cast<size_t>(--q)].heard;
    return landed[static_cast<size_t>(q)] && crossings[static_cast<size_t>(q)] == 0 &&
           (!row_keys[static_cast<size_t>(q)].recording_start || (!heard && start - q <= LEADER));
  };
  for (int64_t row = 1; row < rows_; ++row) {
    if (stopped()) return false;
    if (!row_keys[static_cast<size_t>(row)].recording_start) continue;
    const row_key &before = row_keys[static_cast<size_t>(row) - 1], &at = row_keys[static_cast<size_t>(row)];
    const bool keyed = recordings_keyed(before, at);
    const int32_t played_on = crossings[static_cast<size_t>(row)];
    if (!keyed && (played_on == 0 || (played_on == 1 && (landed[static_cast<size_t>(row)] || fits_after(row) ||
                                               ((at.timecode < 0 || before.timecode < 0) && island_before(row))))))
      return refuse(merge_refusal::reason::unordered, before.read, at.read);
  }

  // The camera's clock runs on through a recording: a row recorded earlier
  // than one before it, with no recording start between, is a frame of
  // another recording put within this one (a pass that played on into a
  // start and went back from it reads as one that began there).
  int64_t latest = -1;
  for (int64_t row = 0; row < rows_; ++row) {
    const row_key& k = row_keys[static_cast<size_t>(row)];
    if (k.recording_start) latest = -1;
    if (k.recorded < 0) continue;
    if (latest >= 0 && k.recorded < row_keys[static_cast<size_t>(latest)].recorded)
      return refuse(merge_refusal::reason::unordered, row_keys[static_cast<size_t>(latest)].read, k.read);
    latest = row;
  }

  // Frames that open the sound's cycle lie five apart within a recording
  // (or ten, where none read the one between; fewer where frames were
  // dropped). Two of content the tape holds more than once (black)
  // otherwise apart, or two further apart than five, not a multiple, with
  // such content between, are a retake within that content, or frames
  // dropped there: nothing tells which.
  int64_t cycle_row = -1, plain_cycle_row = -1;  // the last such rows of the recording, and of such content
  bool plain_between = false;                     // rows of such content since cycle_row
  for (int64_t row = 0; row < rows_; ++row) {
    const row_key& k = row_keys[static_cast<size_t>(row)];
    if (k.recording_start) cycle_row = plain_cycle_row = -1;
    const bool plain = plain_group(row) >= 0;
    if (!k.sound_cycle) {
      plain_between |= plain;
      continue;
    }
    const bool plain_apart = plain && plain_cycle_row >= 0 && (row - plain_cycle_row) % SOUND_CYCLE != 0;
    const bool black_between = cycle_row >= 0 && plain_between && row - cycle_row > SOUND_CYCLE &&
                               (row - cycle_row) % SOUND_CYCLE != 0;
    if (plain_apart || black_between)
      return refuse(merge_refusal::reason::unordered,
                    row_keys[static_cast<size_t>(plain_apart ? plain_cycle_row : cycle_row)].read, k.read);
    cycle_row = row, plain_between = false;
    if (plain) plain_cycle_row = row;
  }

  // Content the tape holds more than once that comes again after other such
  // content stands for a tape that alternates between them: where none of it
  // was read several times in a row, as likely a pass that went back a few
  // frames. Content that an earlier stretch holds too, after frames
  // identified between, where no pass reads on from it: as likely read again
  // where the deck went back to that stretch and then stopped or shuttled.
  // Whether some run of such content holds several reads:
  std::vector<bool> repeated_run(runs_.size(), false);
  for (size_t r = 0; r < runs_.size(); ++r) {
    const int32_t g = group_[r];
    if (g >= 0 && runs_[r].count >= PLAIN_RUN) repeated_run[static_cast<size_t>(g)] = true;
  }
  std::vector<int32_t> last_row(runs_.size(), -1);
  int64_t stretch_begin = 0;  // the first row of the rows of such content up to here
  bool repeated = false;      // some of them was read several times in a row
  int64_t seen_before = -1;   // a row of the stretch whose content an earlier stretch holds,
  int64_t earlier = -1;       //   and that row of the earlier stretch
  int64_t reaches = -1;       // the furthest row a pass read on to from the stretch
  for (int64_t row = 0; row <= rows_; ++row) {
    const int32_t g = row < rows_ ? plain_group(row) : -1;
    if (g < 0) {
      if (seen_before >= 0 && reaches < row)
        return refuse(merge_refusal::reason::unordered, other_read(seen_before, {-1, -1}),
                      other_read(earlier, {-1, -1}));
      stretch_begin = row + 1, repeated = false, seen_before = reaches = -1;
      continue;
    }
    repeated |= repeated_run[static_cast<size_t>(g)];
    reaches = std::max(reaches, int64_t{forward_to[static_cast<size_t>(row)]});
    const int64_t before = last_row[static_cast<size_t>(g)];
    if (before >= stretch_begin && before < row - 1 && !repeated)
      return refuse(merge_refusal::reason::unordered, other_read(before, {-1, -1}), other_read(row, {-1, -1}));
    if (before >= 0 && before < stretch_begin && seen_before < 0) seen_before = row, earlier = before;
    last_row[static_cast<size_t>(g)] = static_cast<int32_t>(row);
  }
  return true;
}

// Whether read j of a transfer, without timecode, placed in the row of the
// frame whose timecode count is `count`, can be nothing but that frame: the
// nearest reads with a timecode on either side (a few at most, at playback
// speed) leave no other frame for it.
bool planner::repeat_fits(const std::vector<int32_t>& rows, const std::vector<frame_entry>& frames, int32_t j,
                          int64_t count) const {
  constexpr int32_t LOOKED_AT = 8;
  auto nearest = [&](int step) -> const frame_entry* {
    for (int32_t k = j + step, n = 0; k >= 0 && k < static_cast<int32_t>(frames.size()) && n < LOOKED_AT; k += step, ++n) {
      const frame_entry& f = frames[static_cast<size_t>(k)];
      if (f.flags & FRAME_OFF_SPEED) return nullptr;
      if (has_time(f.timecode) && rows[static_cast<size_t>(k)] >= 0) return &f;
    }
    return nullptr;
  };
  const frame_entry *before = nearest(-1), *after = nearest(1);
  if (!before || !after) return false;
  const int fps = system_of(transfers_.front().system).frames_per_second;
  const int64_t b = timecode_frames(before->timecode, fps, (before->flags & FRAME_DROP_FRAME) != 0);
  const int64_t a = timecode_frames(after->timecode, fps, (after->flags & FRAME_DROP_FRAME) != 0);
  // (The frame itself between the frames around it, or a repeat of it next
  // to it.)
  return b <= count && count <= a && a - b <= 2 && (a > count || b < count);
}

// A read placed in a row other than `r`; `r` where there is none.
read_ref planner::other_read(int64_t row, read_ref r) const {
  for (const auto& [at, p] : placed_)
    if (at == row && (p.read.transfer != r.transfer || p.read.frame != r.frame)) return p.read;
  return r;
}

// How many frames the timecode goes on from one read to another, where both
// read it; else 0.
int64_t planner::timecode_steps(read_ref a, read_ref b) const {
  if (!has_time(entry(a).timecode) || !has_time(entry(b).timecode)) return 0;
  return timecode_count(b) - timecode_count(a);
}

// A read's timecode as a count of frames.
int64_t planner::timecode_count(read_ref r) const {
  const frame_entry& f = entry(r);
  const int fps = system_of(transfers_[static_cast<size_t>(r.transfer)].system).frames_per_second;
  return timecode_frames(f.timecode, fps, (f.flags & FRAME_DROP_FRAME) != 0);
}

}  // namespace dvlog
