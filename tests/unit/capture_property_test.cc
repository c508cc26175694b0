// Random captures with known truth. A tape of recordings (each marked as a
// start or not, its timecode going on from the last or starting again, an
// edit that moves the timecode on or back, a stretch without timecode, packs
// with impossible digits) is captured by a deck that drops, repeats, pauses,
// fast-forwards, rewinds and plays again (retakes, with and without shuttle
// frames), with damage and with DIF sequences the capture repeats, swaps or
// loses. The generator counts what it made as it makes it; the frame model
// and its analysis must count the same. Each trial is made from its seed,
// which a failure prints:
//
//   DVLOG_CAPTURE_SEED=N DVLOG_CAPTURE_TRIALS=1 build/tests/dvlog_unit_tests --gtest_filter='CaptureProperty.*'
//
// replays it; DVLOG_CAPTURE_TRIALS sets the number of trials.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "analysis/frame_analysis.h"
#include "frames/frame_reader.h"
#include "support/dif_builder.h"

using namespace dvtest;

namespace {

constexpr size_t BLOCK = 80;

// What the analysis is to count, as the generator made it.
enum counted { FRAMES, DAMAGED, MISSING, TIMECODE_JUMPS, TIME_JUMPS, UNMARKED_TIME_JUMPS, RECORDINGS, DROPPED,
               REPEATED, OFF_SPEED, RETAKES, RETAKE_FRAMES, RETAKES_BY_CONTENT, SEQUENCES_REPEATED, COUNTED };
constexpr const char* COUNTED_NAMES[COUNTED] = {
    "frames",     "damaged frames", "sequences missing", "timecode jumps",        "recording time jumps",
    "unmarked",   "recordings",     "dropped",           "repeated",              "off speed",
    "retakes",    "frames retaken", "retakes by content", "sequences repeated"};
using counts = std::array<int64_t, COUNTED>;

std::string text(const counts& c) {
  std::string out;
  for (int i = 0; i < COUNTED; ++i) out += std::string(i ? ", " : "") + COUNTED_NAMES[i] + " " + std::to_string(c[i]);
  return out;
}

// A frame of the tape.
struct tape_frame_spec {
  int segment;        // recordings and edits cut the tape into segments
  int64_t timecode;   // frames from 00:00:00:00
  int64_t recorded;   // seconds from midnight
  bool mark;          // a recording start
  bool untimed;       // its timecode pack is blank
  char impossible;    // 't' timecode, 'r' recording time, 'd' date with impossible digits; 0 none
  bool boundary;      // opens a recording (marked or not) after another
  bool edit;          // its timecode does not follow the frame before's
};

// A frame of the capture.
struct captured {
  int at;            // the tape frame
  uint8_t speed;     // the AAUX source control pack's PC3: DRF and SPEED
  bool played;
  char fault;        // 'd' a sequence sent twice, 's' two swapped, 'm' one lost; 0 none
  int fault_sequence;
  bool damaged;      // video blocks in error
};

class capture_maker {
 public:
  explicit capture_maker(uint64_t seed) : rng_(seed) {
    pal_ = chance(0.3);
    normal_ = pick({0x20, pal_ ? 0x64 : 0x78, 0x7F});
    make_tape();
    make_capture();
  }

  bool pal() const { return pal_; }
  const std::vector<tape_frame_spec>& tape() const { return tape_; }
  const std::vector<captured>& capture() const { return capture_; }
  const counts& truth() const { return truth_; }
  const std::string& story() const { return story_; }

 private:
  double period() const { return pal_ ? 0.04 : 1001.0 / 30000; }
  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int pick(std::initializer_list<int> from) { return *(from.begin() + between(0, static_cast<int>(from.size()) - 1)); }

  void make_tape() {
    int64_t timecode = between(0, 2000), start = 3600 + between(0, 1800);
    int segment = 0;
    const int recordings = between(1, 3);
    for (int r = 0; r < recordings; ++r) {
      const int length = between(70, 170);
      const bool marked = r == 0 ? chance(0.5) : chance(0.75);
      if (r > 0) {
        ++segment;
        timecode = chance(0.5) ? timecode : 0;  // goes on, or starts again
        start += static_cast<int64_t>(length * period()) + 3600 * between(1, 3);
      }
      // An edit moves the timecode on, or back, while the recording time
      // goes on. (Back by a second or less it would be a retake's step,
      // where the frames remembered tell nothing else: after a stretch
      // without timecode.)
      int edit = length > 100 && chance(0.4) ? between(80, length - 10) : -1;
      const int64_t edit_step = chance(0.5) ? between(400, 20000) : -between(40, 300);
      // A stretch without timecode.
      const int untimed_from = length > 110 && chance(0.25) ? between(10, length - 60) : -1;
      const int untimed_to = untimed_from + between(20, 45);
      if (edit >= 0 && untimed_from >= 0 && edit >= untimed_from - 1 && edit <= untimed_to) edit = -1;
      for (int i = 0; i < length; ++i) {
        tape_frame_spec f{};
        if (i == edit && timecode + edit_step >= 0) {
          timecode += edit_step;
          f.edit = true;
          ++segment;
        }
        f.segment = segment;
        f.timecode = timecode++;
        f.recorded = start + static_cast<int64_t>(i * period());
        f.mark = i == 0 && marked;
        f.boundary = i == 0 && r > 0;
        f.untimed = i >= untimed_from && i < untimed_to && untimed_from >= 0;
        tape_.push_back(f);
      }
    }
    // Impossible digits in a few packs, away from everything else.
    for (int n = between(0, 3); n > 0; --n) {
      const int at = between(2, static_cast<int>(tape_.size()) - 3);
      if (plain(at)) tape_[static_cast<size_t>(at)].impossible = static_cast<char>(pick({'t', 'r', 'd'}));
    }
  }

  // A frame whose packs are all read and that opens nothing: an event may
  // take it, and its neighbours, for granted.
  bool quiet(int at) const {
    if (at < 0 || at >= static_cast<int>(tape_.size())) return false;
    const tape_frame_spec& f = tape_[static_cast<size_t>(at)];
    return !f.untimed && !f.impossible && !f.boundary && !f.edit && !f.mark;
  }
  bool plain(int at) const { return quiet(at - 1) && quiet(at) && quiet(at + 1); }
  bool same_segment(int a, int b) const {
    return a >= 0 && b >= 0 && a < static_cast<int>(tape_.size()) && b < static_cast<int>(tape_.size()) &&
           tape_[static_cast<size_t>(a)].segment == tape_[static_cast<size_t>(b)].segment;
  }

  void add(int at, bool played, uint8_t speed) {
    captured c{at, speed, played, 0, 0, false};
    // Damage, in frames played and in frames the deck sent while shuttling.
    c.damaged = chance(played ? 0.05 : 0.2);
    capture_.push_back(c);
    truth_[FRAMES] += 1;
    if (!played) truth_[OFF_SPEED] += 1;
  }

  // Plays tape frame `at` after the frame played before it, `after`.
  void play(int at, int after) {
    const tape_frame_spec& f = tape_[static_cast<size_t>(at)];
    if (after == at - 1 && after >= 0) {
      if (f.boundary) {
        truth_[RECORDINGS] += 1;
        truth_[TIME_JUMPS] += 1;
        truth_[UNMARKED_TIME_JUMPS] += !f.mark;
        truth_[TIMECODE_JUMPS] += f.timecode != tape_[static_cast<size_t>(after)].timecode + 1;
      } else if (f.edit) {
        truth_[TIMECODE_JUMPS] += 1;
      }
    }
    add(at, true, static_cast<uint8_t>(0x80 | normal_));
    run_ = after == at - 1 ? run_ + 1 : 1;
    if (f.untimed && !tape_[static_cast<size_t>(after < 0 ? at : after)].untimed) untimed_run_start_ = at;
  }

  void make_capture() {
    const int end = static_cast<int>(tape_.size());
    int last = 0;  // the last tape frame played
    play(0, -1);
    run_ = 1;
    untimed_run_start_ = 0;
    while (last + 1 < end) {
      if (!deck_event(between(0, 19), last)) {
        play(last + 1, last);
        last += 1;
      }
      add_faults();
    }
  }

  // What the deck or the capture does after tape frame `last`, where it can;
  // false when it plays on.
  bool deck_event(int action, int& last) {
    const int p = last + 1, k = between(1, 4);  // k: frames dropped
    if (action == 0 && plain(last) && plain(p + k) && same_segment(last, p + k)) {
      truth_[DROPPED] += k;
      truth_[TIMECODE_JUMPS] += 1;
      story_ += " drop" + std::to_string(k) + "@" + std::to_string(p);
      play(p + k, last);
      last = p + k;
      return true;
    }
    if (action == 1 && plain(last)) {
      truth_[REPEATED] += 1;
      story_ += " repeat@" + std::to_string(last);
      play(last, last);
      run_ = 0;
      return true;
    }
    if (action == 2 && plain(last) && plain(p)) {
      const int m = between(1, 6);
      story_ += " pause" + std::to_string(m) + "@" + std::to_string(last);
      for (int i = 0; i < m; ++i) add(last, false, 0x80);  // forward, SPEED 0: a still picture
      play(p, last);
      run_ = 0;
      last = p;
      return true;
    }
    const int m = between(1, 6), resume = last + 5 * m + between(1, 5);
    if (action == 3 && plain(last) && plain(resume) && same_segment(last, resume)) {
      story_ += " forward" + std::to_string(m) + "@" + std::to_string(last);
      for (int i = 1; i <= m; ++i) add(last + 5 * i, false, static_cast<uint8_t>(0x80 | pick({0x50, 0x60, 0x7E})));
      play(resume, last);
      run_ = 0;
      last = resume;
      return true;
    }
    return (action == 4 || action == 5) && retake(last);
  }

  // The deck rewound (or the capture went straight back) and played again
  // from an earlier frame: back to the frame k - 1 before the last played.
  bool retake(int& last) {
    const bool untimed = tape_[static_cast<size_t>(last)].untimed;
    // By timecode, within the played frames the analysis remembers, or
    // further when all it remembers lie after; without, by content.
    const int most = untimed ? std::min(run_, last - untimed_run_start_ + 1)
                             : run_ >= frame_analysis_memory() ? 120
                                                               : run_;
    const bool shuttle = chance(0.6);
    const int k = between(shuttle && !untimed ? 1 : 2, std::min(most, untimed ? 40 : 120));
    const int b = last - k + 1;
    if (k > most || k < 1 || b < 0 || !same_segment(b, last)) return false;
    if (untimed ? !(tape_[static_cast<size_t>(b)].untimed && quiet_recorded(b, last))
                : !(plain(last) && plain(b)))
      return false;
    if (!untimed && k > 60 && run_ < frame_analysis_memory()) return false;
    story_ += std::string(" retake") + (shuttle ? "" : "-direct") + std::to_string(k) + "@" + std::to_string(last);
    // Reverse, at the deck's speed: a frame in five, and at least one.
    if (shuttle)
      for (int at = last - 5; at >= b || at == last - 5; at -= 5)
        add(std::max(at, b), false, static_cast<uint8_t>(pick({0x0A, 0x20, 0x40})));
    truth_[RETAKES] += 1;
    truth_[RETAKE_FRAMES] += k;
    truth_[RETAKES_BY_CONTENT] += untimed;
    add(b, true, static_cast<uint8_t>(0x80 | normal_));
    run_ = 1;
    if (untimed) untimed_run_start_ = b;
    last = b;
    return true;
  }

  // Frames the analysis remembers for telling a retake.
  static int frame_analysis_memory() { return dvlog::frame_analysis::RECENT_FRAMES; }

  // Every frame from a to b has its recording time and date.
  bool quiet_recorded(int a, int b) const {
    for (int at = a; at <= b; ++at)
      if (tape_[static_cast<size_t>(at)].impossible) return false;
    return true;
  }

  // A DIF sequence of the frame just captured sent twice, two swapped, or
  // one lost: never two faulty frames in a row, never in frames without a
  // timecode, and a lost one only in a frame played, not the first, whose
  // next frame is another (a frame followed by itself would take its
  // sequences for copies).
  void add_faults() {
    if (capture_.size() < 2) return;
    captured& c = capture_[capture_.size() - 2];  // the frame before the last: its next is known
    const captured& next = capture_.back();
    const captured* before = capture_.size() >= 3 ? &capture_[capture_.size() - 3] : nullptr;
    const tape_frame_spec& f = tape_[static_cast<size_t>(c.at)];
    if ((before && before->fault) || f.untimed || f.impossible == 't' || !chance(0.1)) return;
    const int sequences = pal_ ? 12 : 10;
    c.fault = static_cast<char>(pick({'d', 's', 'm'}));
    if (c.fault == 'm' && (!c.played || capture_.size() == 2 || next.at == c.at)) c.fault = 'd';
    c.fault_sequence = between(0, sequences - (c.fault == 's' ? 2 : 1));
    if (c.fault == 'd') truth_[SEQUENCES_REPEATED] += 1;
    if (c.fault == 'm') truth_[MISSING] += 1;
  }

 public:
  // Damaged frames, once the faults are known: a frame played with blocks
  // in error or a sequence lost.
  void count_damage() {
    for (const captured& c : capture_) truth_[DAMAGED] += c.played && (c.damaged || c.fault == 'm');
  }

 private:
  std::mt19937_64 rng_;
  bool pal_ = false;
  int normal_ = 0x20;
  std::vector<tape_frame_spec> tape_;
  std::vector<captured> capture_;
  counts truth_{0, 0, 0, 0, 0, 0, 1};  // the first frame opens a recording
  std::string story_;
  int run_ = 0;  // frames played one after the other on the tape, up to the last
  int untimed_run_start_ = 0;
};

// The sequences of a frame, as a capture sends them.
class frame_builder {
 public:
  explicit frame_builder(bool pal) : pal_(pal) {
    for (int n = 0; n < sequences(); ++n) templates_.push_back(make_sequence(static_cast<uint8_t>(n)));
  }
  int sequences() const { return pal_ ? 12 : 10; }

  // Feeds the frame's sequences to `reader`, from `offset` on.
  void feed(const tape_frame_spec& f, const captured& c, int content, dvlog::frame_reader& reader, uint64_t& offset) {
    std::vector<int> order;
    for (int n = 0; n < sequences(); ++n) {
      if (c.fault == 'm' && n == c.fault_sequence) continue;
      order.push_back(n);
      if (c.fault == 'd' && n == c.fault_sequence) order.push_back(n);
    }
    if (c.fault == 's') std::swap(order[static_cast<size_t>(c.fault_sequence)], order[static_cast<size_t>(c.fault_sequence) + 1]);
    for (const int n : order) {
      bytes& s = work_;
      s = templates_[static_cast<size_t>(n)];
      put_packs(s.data(), f, c);
      // The picture and sound: alike in every read of one tape frame.
      uint8_t* video = &s[7 * BLOCK];
      for (int i = 0; i < 4; ++i) video[4 + i] = static_cast<uint8_t>(content >> (8 * i));
      video[8] = static_cast<uint8_t>(n);
      if (c.damaged && n == 1)
        for (int k = 0; k < 5; ++k) s[(7 + k) * BLOCK + 3] = 0x70;  // STA 7: in error
      reader.on_sequence(s.data(), offset);
      offset += SEQ;
    }
  }

 private:
  void put_packs(uint8_t* s, const tape_frame_spec& f, const captured& c) const {
    const int fps = pal_ ? 25 : 30;
    const int64_t tc = f.timecode;
    pack timecode = timecode_pack(static_cast<int>(tc / (3600 * fps)), static_cast<int>(tc / (60 * fps) % 60),
                                  static_cast<int>(tc / fps % 60), static_cast<int>(tc % fps));
    if (f.untimed) timecode = {0x13, 0xFF, 0xFF, 0xFF, 0xFF};
    if (f.impossible == 't') timecode.pc2 = 0x60;  // 60 seconds
    pack time = rec_time_pack(static_cast<int>(f.recorded / 3600), static_cast<int>(f.recorded / 60 % 60),
                              static_cast<int>(f.recorded % 60));
    if (f.impossible == 'r') time.pc4 = 0x30;  // 30 hours
    pack date = rec_date_pack(0xFF, 16, 0, 6, 24);
    if (f.impossible == 'd') date.pc3 = 0x13;  // month 13
    put_subcode_pack(s, 0, 0, timecode);
    put_subcode_pack(s, 1, 0, timecode);
    put_vaux_pack(s, 0, 0, video_source_pack(pal_));
    put_vaux_pack(s, 0, 1, date);
    put_vaux_pack(s, 0, 2, time);
    pack control = audio_control_pack(f.mark);
    control.pc3 = c.speed;
    put_audio_pack(s, 1, control);
  }

  bool pal_;
  std::vector<bytes> templates_;
  bytes work_;
};

// Takes the retakes, for the frames they read again.
struct retake_sink final : dvlog::event_sink {
  void status(const dvlog::status_event&) override {}
  void recording_start(const dvlog::recording_start_event&) override {}
  void timecode_broken(const dvlog::timecode_broken_event&) override {}
  void audio_block_warning(const dvlog::audio_block_warning_event&) override {}
  void summary(const dvlog::summary_event&) override {}
  void retake(const dvlog::retake_event& e) override {
    frames += e.frames;
    by_content += e.by_content;
  }
  int64_t frames = 0, by_content = 0;
};

counts analyse(const capture_maker& made) {
  retake_sink sink;
  dvlog::frame_analysis analysis(sink, 2024);
  dvlog::frame_reader reader(analysis);
  frame_builder builder(made.pal());
  uint64_t offset = 0;
  for (const captured& c : made.capture())
    builder.feed(made.tape()[static_cast<size_t>(c.at)], c, c.at + 1, reader, offset);
  reader.finish(offset, nullptr);
  analysis.finish();
  const dvlog::damage_totals& t = analysis.totals();
  return {t.frames,           t.damaged_frames,       t.sum.sequences_missing,     t.timecode_jumps,
          t.recording_time_jumps, t.unmarked_recording_time_jumps, t.recordings, t.frames_dropped,
          t.frames_repeated,  t.frames_off_speed,     t.retakes,                   sink.frames,
          sink.by_content,    t.sequences_repeated};
}

int64_t from_environment(const char* name, int64_t otherwise) {
  const char* value = std::getenv(name);
  return value ? std::strtoll(value, nullptr, 10) : otherwise;
}

// Fewer trials where the sanitizers make each one slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int64_t TRIALS = 300;
#else
constexpr int64_t TRIALS = 3000;
#endif

}  // namespace

TEST(CaptureProperty, CountsWhatTheCaptureDid) {
  const int64_t trials = from_environment("DVLOG_CAPTURE_TRIALS", TRIALS);
  const int64_t first = from_environment("DVLOG_CAPTURE_SEED", 1);
  int failures = 0;
  counts total{};
  for (int64_t seed = first; seed < first + trials && failures < 5; ++seed) {
    capture_maker made(static_cast<uint64_t>(seed));
    made.count_damage();
    const counts got = analyse(made);
    if (got != made.truth()) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << "\n  made: " << text(made.truth()) << "\n  told: " << text(got)
                    << "\n  story:" << made.story();
    }
    for (int i = 0; i < COUNTED; ++i) total[static_cast<size_t>(i)] += got[static_cast<size_t>(i)];
  }
  // The trials made every kind of event.
  for (int i = 0; i < COUNTED; ++i) EXPECT_GT(total[static_cast<size_t>(i)], 0) << COUNTED_NAMES[i];
}
