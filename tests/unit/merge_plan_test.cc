// The merge's plan on hand-made indexes of transfers (no stream): which reads
// are one tape frame, in which order, or why the merge is refused. A transfer
// is written as the tape frames it read: "40-59" in order, "42~" with its
// subcode lost, "42!" a deck's stand-in, "s" a frame read while shuttling.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "dv/dv_meta.h"
#include "merge/plan.h"

namespace dvlog {
namespace {

// A tape of `frames` frames: frames below `black` are alike (black); with
// or without timecodes; recordings start at 0 and at `second`.
struct tape {
  int frames;
  bool timecode = true;
  int black = 0;
  int second = -1;
  int tape_id = 0;  // another tape: other pictures, the same timecodes and black
  int second_black = 0;  // frames from `second` on that are black too
  bool dated = false;    // each recording its day
  bool sound_cycle = false;  // 48 kHz sound locked: every fifth black frame opens its cycle (other sound)
};

uint8_t bcd(int v) { return static_cast<uint8_t>(v / 10 << 4 | v % 10); }

frame_entry read_of(const tape& t, int k, char mark) {
  frame_entry f{};
  const bool black = k < t.black || (t.second >= 0 && k >= t.second && k < t.second + t.second_black);
  const bool cycle = black && t.sound_cycle && k % 5 == 0;
  const uint64_t content =
      black ? (cycle ? 999 : 0) : static_cast<uint64_t>(k) + 1 + static_cast<uint64_t>(t.tape_id) * 1000;
  const int tc = t.second >= 0 && k >= t.second ? k - t.second : k;
  f.timecode = t.timecode && mark != '~' && mark != '!' ? static_cast<uint32_t>(bcd(tc % 30) | bcd(tc / 30 % 60) << 8)
                                                        : NO_INFO;
  f.rec_date = f.rec_time = NO_INFO;
  if (t.dated)  // 2010-06-16 and 2010-06-23, at 10:00:00
    f.rec_date = 0x100600FFu | (t.second >= 0 && k >= t.second ? 0x23u : 0x16u) << 8, f.rec_time = 0x10000000u;
  f.sequences = 10;
  f.flags = FRAME_CONTIGUOUS | FRAME_WHOLE | (k == 0 || k == t.second ? FRAME_RECORDING_START : 0);
  if (mark == '!') {  // nothing read right, no packs
    f.damaged_blocks = 1440;
    return f;
  }
  f.right_blocks = 1440;
  f.packs_read = 1;
  f.flags |= FRAME_CONTROL_READ | (cycle ? FRAME_SOUND_CYCLE : 0) | (black ? 0 : FRAME_AUDIBLE);
  for (int n = 0; n < 10; ++n) f.content[n] = static_cast<uint16_t>(content * 7919 + static_cast<uint64_t>(n) * 31 + 1);
  f.content_read = 0x3FF;
  f.signature = (content * 0x9E3779B97F4A7C15u) | 1;
  return f;
}

transfer_index transfer_of(const tape& t, const std::string& reads) {
  transfer_index x;
  x.system = 0, x.video_type = 0, x.sequences_per_frame = 10;
  std::istringstream words(reads);
  for (std::string w; words >> w;) {
    if (w == "s") {
      frame_entry f = read_of(t, 0, ' ');
      f.flags |= FRAME_OFF_SPEED;
      x.frames.push_back(f);
      continue;
    }
    const char mark = w.back() == '~' || w.back() == '!' ? w.back() : ' ';
    const size_t dash = w.find('-');
    const int from = std::stoi(w), to = dash == std::string::npos ? from : std::stoi(w.substr(dash + 1));
    for (int k = from; k <= to; ++k) x.frames.push_back(read_of(t, k, mark));
  }
  return x;
}

// The plan as text: the tape frame each row reads ("2+" where its reads are
// of several), or the refusal.
std::string plan_text(const tape& t, const std::vector<std::string>& transfers) {
  std::vector<transfer_index> indexes;
  std::vector<std::vector<int>> frame_of;  // the tape frame of each read, by transfer
  for (const std::string& reads : transfers) {
    indexes.push_back(transfer_of(t, reads));
    std::vector<int>& frames = frame_of.emplace_back();
    std::istringstream words(reads);
    for (std::string w; words >> w;) {
      const size_t dash = w.find('-');
      const int from = w == "s" ? -1 : std::stoi(w), to = dash == std::string::npos ? from : std::stoi(w.substr(dash + 1));
      for (int k = from; k <= to; ++k) frames.push_back(k);
    }
  }
  read_comparer compare(indexes, nullptr);
  static const volatile sig_atomic_t never = 0;
  merge_plan plan;
  const merge_refusal why = plan_merge(indexes, compare, stop_request{&never}, plan);
  const char* const reasons[] = {"", "stopped", "failed", "shares nothing", "differs", "unordered", "disagree", "unplaced"};
  if (why.why != merge_refusal::reason::none) return std::string("refused: ") + reasons[static_cast<int>(why.why)];
  std::string text;
  for (int64_t row = 0; row < plan.frames(); ++row) {
    int frame = -2;
    for (int32_t k = 0; k < plan.row_size(row); ++k) {
      const plan_read r = plan.row(row)[k];
      const int f = frame_of[static_cast<size_t>(plan.pass_transfer[static_cast<size_t>(r.pass)])][static_cast<size_t>(r.frame)];
      frame = frame == -2 || frame == f ? f : -3;
    }
    text += (frame == -3 ? std::string("mixed") : std::to_string(frame)) + " ";
  }
  return text;
}

// "0-5 7" as "0 1 2 3 4 5 7 ".
std::string frames(const std::string& ranges) {
  std::string text;
  std::istringstream words(ranges);
  for (std::string w; words >> w;) {
    const size_t dash = w.find('-');
    const int from = std::stoi(w), to = dash == std::string::npos ? from : std::stoi(w.substr(dash + 1));
    for (int k = from; k <= to; ++k) text += std::to_string(k) + " ";
  }
  return text;
}

TEST(MergePlan, OrdersTheTapeOrRefuses) {
  const tape tc{120}, bare{120, false}, leader{60, false, 6}, recordings{102, true, 0, 46},
      black_recordings{60, false, 6, 30, 0, 2}, dated{16, true, 0, 8, 0, 0, true},
      cycled{60, false, 12, -1, 0, 0, false, true}, leader_tc{60, true, 6}, starts{9, false, 1, 4, 0, 1, false, true}, alike_starts{10, false, 2, 5, 0, 2};
  struct row {
    const char* name;
    tape t;
    std::vector<std::string> transfers;
    std::string want;  // frames, or "refused: why"
  };
  const row rows[] = {
      {"one lacks 43, the other 44: the timecodes order them", tc, {"0-42 44-119", "0-43 45-119"}, frames("0-119")},
      {"the same without timecodes: nothing does", bare, {"0-42 44-119", "0-43 45-119"}, "refused: unordered"},
      {"a repeat whose subcode was lost is one frame", tc, {"0-42 42~ 43-119", "0-119"}, frames("0-119")},
      {"60 read by one without subcode, who dropped 61; the other dropped 60", tc, {"0-59 61-119", "0-59 60~ 62-119"},
       frames("0-119")},
      {"a late start inside frames the other dropped", tc, {"0-2 6-119", "4-119"}, frames("0-2 4-119")},
      {"a retake going back 5 frames", tc, {"0-59 55-119"}, frames("0-119")},
      {"the same without timecodes", bare, {"0-59 55-119"}, frames("0-119")},
      {"a retake over shuttle frames", tc, {"0-59 s s s 30-119"}, frames("0-119")},
      {"a capture put together out of order, given first", recordings, {"51-101 0-50", "0-101"}, frames("0-101")},
      {"the same, given second", recordings, {"0-101", "51-101 0-50"}, frames("0-101")},
      {"a stand-in is the frame the other read there", tc, {"0-41 42! 43-119", "0-119"}, frames("0-119")},
      {"black frames without timecode, the second transfer started late", leader, {"0-59", "3-59"}, frames("0-59")},
      {"transfers that share no frame", tc, {"0-50", "60-119"}, "refused: shares nothing"},
      // Refused where the rows would not explain a transfer as a deck plays
      // a tape.
      {"a retake back to a recording start played into once: either recording may come first", recordings,
       {"40-49 46-101"}, "refused: unordered"},
      {"a capture begun in the second recording, then twice from the start", recordings, {"50-55 0-3 0-101"},
       frames("0-101")},
      {"a retake within black frames", leader, {"0-4 1-59", "0-59"}, "refused: disagree"},
      {"black read again just before the capture stops", leader, {"0-59 3"}, "refused: unordered"},
      {"a retake within black, past the next frame", leader, {"0-7 2-4 8-59", "0-59"}, "refused: disagree"},
      // A retake back before where the capture began, without timecodes:
      // the frames it read just before may end the pass (the re-read
      // dropped them) or lie before where it went back.
      {"a retake back before the capture's start", bare, {"4-16 1-20"}, "refused: unordered"},
      {"the same, stopped before the pass's end", bare, {"4-9 2-7"}, "refused: unordered"},
      {"a capture begun within the leader, back to its start", leader, {"2-7 0-59"}, "refused: unordered"},
      {"the same, begun at its start", leader, {"0-3 0-59"}, frames("0-59")},
      {"the same, where the next recording opens alike", black_recordings, {"0-3 0-59"}, "refused: unordered"},
      // (Black frames are alike: a read of one may go where another was.)
      {"black read last, after shuttling back", leader, {"0-20 s s 2-4"}, "0 mixed mixed mixed " + frames("4-20")},
      {"a recording start a little lower in timecode, its recording run past it", recordings, {"3 0-2 4-10"},
       "refused: unordered"},
      {"across a recording start it dropped, the timecode counted again", recordings, {"20-45 47-60"},
       "refused: unordered"},
      {"the same, and another transfer read the start", recordings, {"20-45 47-60", "0-101"}, frames("0-101")},
      {"back to the start of its own recording from its end", tc, {"100-119 0-119"}, frames("0-119")},
      {"back to the start of the tape from the end of a later recording", recordings, {"2-101 0-101"},
       "refused: unordered"},
      {"a frame read twice with its subcode lost, where the timecodes leave room for two", leader_tc,
       {"0 1~ 1~ 3-59"}, "refused: unordered"},
      {"back to the tape's first frame, a recording start, from just before the next", starts,
       {"0-4 0-4 0-3 5-8"}, "refused: unordered"},
      {"back to a recording start that the next recording opens like", alike_starts, {"2-4 0-9"},
       "refused: unordered"},
      {"back to the start from within, without timecodes", bare, {"0-30 0-119"}, frames("0-119")},
      {"read through twice, without timecodes", bare, {"5-119 5-119"}, frames("5-119")},
      {"back to a recording start from the end of a later recording, by their dates", dated,
       {"2-6 8-12 11-15 0-7 9-15"}, frames("0-15")},
      // Black whose 48 kHz sound is locked to the picture: every fifth frame
      // opens the sound's cycle, so these frames lie five apart.
      {"a retake within black, back past a frame opening the sound's cycle", cycled, {"0-7 5-59"},
       "refused: unordered"},
      {"the same, within the four frames between", cycled, {"2-9 7-59"}, "refused: unordered"},
      {"black read through", cycled, {"0-59"}, frames("0-59")},
      {"black with a frame dropped, not one opening the cycle", cycled, {"0-2 4-59"}, frames("0-2 4-59")},
      {"black with frames dropped, one opening the cycle too", cycled, {"0-3 7 9-59"}, "refused: unordered"},
      {"a frame with sound read three times, without timecodes: one frame", bare, {"0-9 10 10 10 11-119"},
       frames("0-119")},
      {"a stand-in read between two reads of black", leader, {"0-3 2! 3-59"}, "refused: unordered"},
      {"begun a frame in, then back to the start, its timecode lower", tc, {"4 0-3"}, "refused: unordered"},
      {"the same without timecodes, the frame dropped when read again", bare, {"1 0 2-119"}, "refused: unordered"},
      {"a retake back one frame over a stand-in, its frame read again without subcode", tc, {"0-4 5! 6 5~ 7-119"},
       "refused: disagree"},
      {"the last frame read again without subcode, black", leader_tc, {"0-3 3~"}, "refused: unordered"},
      {"black read without subcode before shuttling, later a stand-in the other dropped", tape{60, true, 5},
       {"0-3 4~ 4~ s 0-29 30! 31-59", "0-29 31-59"}, "refused: unordered"},
      {"into the next recording's black, then back within the first, by their dates", tape{20, false, 3, 11, 0, 6, true},
       {"0-11 3-10 12-19"}, "refused: unordered"},
  };
  for (const row& r : rows) EXPECT_EQ(plan_text(r.t, r.transfers), r.want) << r.name;

  // Another tape with the same timecodes (and black): refused where they
  // meet, whichever is given first.
  tape other = tc;
  other.tape_id = 1;
  for (const bool swapped : {false, true}) {
    std::vector<transfer_index> indexes{transfer_of(tc, "0-119"), transfer_of(other, "0-119")};
    if (swapped) std::swap(indexes[0], indexes[1]);
    read_comparer compare(indexes, nullptr);
    static const volatile sig_atomic_t never = 0;
    merge_plan plan;
    EXPECT_EQ(plan_merge(indexes, compare, stop_request{&never}, plan).why, merge_refusal::reason::differs);
  }
}

}  // namespace
}  // namespace dvlog
