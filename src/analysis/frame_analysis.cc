#include "analysis/frame_analysis.h"

#include <bit>
#include <cmath>

#include "dv/datetime.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// Where no recording time tells whether a recording went on, a forward step
// of the timecode counts as frames the capture dropped up to this long; a
// longer one is taken for an edit.
constexpr double UNTIMED_DROP_SECONDS = 10;
// The recording time counts whole seconds: two frames the timecode puts s
// seconds apart have recording times s seconds apart, give or take one.
constexpr double RECORDED_SLACK_SECONDS = 1;

void extend(frame_run_event& run, const frame_event& e) {
  if (run.frames == 0) {
    run.at = e.at;
    run.first = e.stamp;
    run.speed = e.frame->speed;
    run.forward = e.frame->forward;
  }
  run.last_timecode = e.stamp.timecode;
  run.last_frame = e.at.frame;
  run.frames += 1;
}

// A frame's place on the tape in frames from 00:00:00:00, by the
// timecode of s, counted as f's; -1 when it has none.
int64_t timecode_position(const frame_stamp& s, const tape_frame& f) {
  const system_profile& system = system_of(f.format.system);
  const bool drop_frame = system.frames_per_second == 30 && f.stamp.drop_frame == 1;
  return has_time(s.timecode) ? timecode_frames(s.timecode, system.frames_per_second, drop_frame) : -1;
}

}  // namespace

frame_analysis::frame_analysis(event_sink& sink, int64_t year_now, const audio_accounting* audio)
    : sink_(sink), year_now_(year_now), audio_(audio) {}

void frame_analysis::frame(const tape_frame& f) {
  frame_event e{};
  e.at = {f.number, f.first_sequence, f.offset};
  e.stamp = f.stamp;
  e.format = f.format;
  e.video_blocks = f.video_blocks;
  e.audio_blocks = f.audio_blocks;
  e.recording_start = f.recording_start;
  e.audio_offset = audio_ ? audio_->offset() : 0;
  e.frame = &f;
  e.sequences_repeated = f.sequences_repeated;
  played_ = at_playback_speed(f);
  e.off_speed = !played_;
  // What a deck reads while it moves the tape is no damage of the tape's.
  if (played_) e.damage = f.damage;

  // The capture repeated a frame: the same timecode over the same picture
  // and sound. A camera whose timecode stood still over a changing picture
  // did not.
  e.repeated = played_ && have_played_ && !moved_ && f.same_as_previous && has_time(f.stamp.timecode) &&
               f.stamp.timecode == played_stamp_.timecode;
  // Runs that this frame ends are told before what it begins.
  if (!e.off_speed && off_speed_.frames > 0) sink_.off_speed(off_speed_), off_speed_ = {};
  if (!e.repeated && repeats_.frames > 0) sink_.frames_repeated(repeats_), repeats_ = {};

  if (!any_) recording_ = 1;
  if (played_ && have_played_ && !e.repeated && !check_retake(f, e)) {
    check_timecode(f, e);
    if (check_recording_time(f, e.at) || f.recording_start)
      recording_ = static_cast<int32_t>(static_cast<uint32_t>(recording_) + 1);
  }
  e.recording = recording_;
  totals_.recordings = recording_;

  if (e.repeated) totals_.frames_repeated += 1, extend(repeats_, e);
  if (e.off_speed) totals_.frames_off_speed += 1, extend(off_speed_, e);
  totals_.sequences_repeated += f.sequences_repeated;

  sink_.frame(e);
  totals_.frames += 1;
  if (e.damage.any()) {
    totals_.damaged_frames += 1;
    totals_.sum.add(e.damage);
  }
  damage_run_event run;
  if (runs_.add(e, &run)) sink_.damage_run(run);

  if (played_) {
    remember(f, have_played_ && !moved_ && e.retake_frames == 0);
    played_stamp_ = f.stamp;
    have_played_ = true;
    moved_ = false;
  } else {
    moved_ = true;
  }
  last_stamp_ = f.stamp;
  last_number_ = f.number;
  any_ = true;
  sequences_ = f.first_sequence + f.sequences - 1;
}

// The frames the timecode went forward from `from` to f, when both read; -1
// otherwise.
int64_t frame_analysis::timecode_step(const frame_stamp& from, const tape_frame& f) const {
  const int64_t a = timecode_position(from, f), b = timecode_position(f.stamp, f);
  return a >= 0 && b >= a ? b - a : -1;
}

double frame_analysis::seconds_of(int64_t frames, const tape_frame& f) const {
  const system_profile& system = system_of(f.format.system);
  return static_cast<double>(frames) * static_cast<double>(system.frame_num) / static_cast<double>(system.frame_den);
}

int64_t frame_analysis::recorded(const frame_stamp& s) const {
  return recorded_seconds(s.rec_date, s.rec_time, year_now_);
}

// Whether f, played, lies at or before the last played frame on the tape:
// the capture went back over frames it had read. Tells the retake.
bool frame_analysis::check_retake(const tape_frame& f, frame_event& e) {
  const int64_t a = timecode_position(played_stamp_, f), b = timecode_position(f.stamp, f);
  int64_t back;
  if (a >= 0 && b >= 0) {
    // A timecode that stays is a repeat, or a camera's, unless the deck
    // moved the tape in between.
    if (b > a || (b == a && !moved_)) return false;
    const int age = age_of_position(b);
    // The capture passed that place without reading it: the timecode went
    // back on the tape (an edit, or a pack out of place).
    if (age == PASSED_OVER) return false;
    // A frame read there has other content: a new picture under an old
    // timecode.
    if (age >= 0 && !same_content({f.slots_seen, f.slots_intact, f.content}, view(recent(age)))) return false;
    back = a - b + 1;
  } else {
    back = frames_back_by_content(f);
    if (back <= 0) return false;
  }
  // The recording time goes back with the frames, within a second: one
  // going on is a new recording whose timecode started lower (or whose
  // frames look alike). Without it, a start mark right after the last played
  // frame is one too.
  const int64_t t0 = recorded(played_stamp_), t1 = recorded(f.stamp);
  if (t0 >= 0 && t1 >= 0) {
    if (std::abs(static_cast<double>(t1 - t0) + seconds_of(back - 1, f)) > RECORDED_SLACK_SECONDS) return false;
  } else if (f.recording_start && !moved_) {
    return false;
  }
  e.retake_frames = back;
  totals_.retakes += 1;
  sink_.retake({e.at, f.stamp, played_stamp_.timecode, played_stamp_.drop_frame, last_played_number_, back,
                a < 0 || b < 0});
  return true;
}

const frame_analysis::recent_frame& frame_analysis::recent(int age) const {
  return recent_[(recent_next_ - 1 - age + 2 * RECENT_FRAMES) % RECENT_FRAMES];
}

// The age of the newest frame remembered at a place on the tape (0: the last
// played); PASSED_OVER when none is but one before it is; BEFORE_ALL when
// the place lies before every frame remembered.
int frame_analysis::age_of_position(int64_t position) const {
  bool before = false;
  for (int age = 0; age < recent_count_; ++age) {
    const int64_t at = recent(age).position;
    if (at == position) return age;
    before |= at >= 0 && at < position;
  }
  return before ? PASSED_OVER : BEFORE_ALL;
}

// Two reads of one frame: the sequences both hold and both read right agree,
// and are at least half of those both hold.
bool frame_analysis::same_content(const content_view& a, const content_view& b) {
  const uint64_t both = a.seen & b.seen, right = both & a.intact & b.intact;
  int same = 0;
  for (uint64_t bits = right; bits; bits &= bits - 1) {
    const int slot = std::countr_zero(bits);
    if (a.content[slot] != b.content[slot]) return false;
    ++same;
  }
  return same > 0 && 2 * same >= std::popcount(both);
}

// With no timecode to tell: the frames read again when f has the content of
// one of the frames played before the last (whose content it may well share:
// a still picture), unless that one followed an earlier read of the last:
// then f follows it again, reading on after a retake (the one that matched
// was read on from that read, not reached by a retake or a deck movement).
// 0 when f goes on.
int64_t frame_analysis::frames_back_by_content(const tape_frame& f) const {
  const content_view read{f.slots_seen, f.slots_intact, f.content};
  for (int age = 0; age < recent_count_; ++age) {
    if (!same_content(read, view(recent(age)))) continue;
    const bool reads_on =
        recent(age).follows && age + 1 < recent_count_ && same_content(view(recent(age + 1)), view(recent(0)));
    return age == 0 || reads_on ? 0 : age + 1;
  }
  return 0;
}

void frame_analysis::remember(const tape_frame& f, bool follows) {
  recent_frame& r = recent_[recent_next_];
  r.position = timecode_position(f.stamp, f);
  r.follows = follows;
  r.seen = f.slots_seen;
  r.intact = f.slots_intact;
  for (uint64_t bits = f.slots_seen; bits; bits &= bits - 1) {
    const int slot = std::countr_zero(bits);
    r.content[slot] = f.content[slot];
  }
  recent_next_ = (recent_next_ + 1) % RECENT_FRAMES;
  if (recent_count_ < RECENT_FRAMES) ++recent_count_;
  last_played_number_ = f.number;
}

// Where f follows the last played frame with nothing between: a timecode
// that does not go on by one frame is a jump (an edit, a new recording,
// damage, or frames the capture lost); one that stays is none (a repeated
// frame, or a camera that did not advance it). The step the deck leaves when
// it moves the tape is none either.
void frame_analysis::check_timecode(const tape_frame& f, frame_event& e) {
  const uint32_t from = played_stamp_.timecode, to = f.stamp.timecode;
  if (moved_ || !has_time(from) || !has_time(to) || from == to) return;
  const system_profile& system = system_of(f.format.system);
  const bool drop_frame = system.frames_per_second == 30 && f.stamp.drop_frame == 1;
  if (is_next_timecode(from, to, system.frames_per_second, drop_frame)) return;
  totals_.timecode_jumps += 1;
  sink_.timecode_jump({e.at, f.stamp, from, played_stamp_.drop_frame});

  // Within a recording (no start mark, and the recording time going on as
  // the timecode does) the frames it stepped over were lost by the capture.
  // A step the recording time does not follow is an edit.
  const int64_t step = timecode_step(played_stamp_, f);
  if (f.recording_start || step <= 1) return;
  const int64_t t0 = recorded(played_stamp_), t1 = recorded(f.stamp);
  const double seconds = seconds_of(step, f);
  const bool went_on = t0 >= 0 && t1 >= 0 ? std::abs(static_cast<double>(t1 - t0) - seconds) <= RECORDED_SLACK_SECONDS
                                          : seconds <= UNTIMED_DROP_SECONDS;
  if (!went_on) return;
  e.dropped_before = step - 1;
  totals_.frames_dropped += e.dropped_before;
  sink_.frames_dropped({e.at, f.stamp, from, e.dropped_before});
}

// The recording date and time went back, or on by more than a second and by
// other than the timecode's step: a new recording, marked or not. It is set
// against the last played frame; after a deck movement whose step the
// timecodes do not tell, against the last frame the deck sent, which lies
// nearest. Returns true for a jump that no mark explains.
bool frame_analysis::check_recording_time(const tape_frame& f, const event_place& at) {
  const bool step_known = has_time(played_stamp_.timecode) && has_time(f.stamp.timecode);
  const frame_stamp& from = moved_ && !step_known ? last_stamp_ : played_stamp_;
  const int64_t before = recorded(from), now = recorded(f.stamp);
  if (before < 0 || now < 0 || (now >= before && now <= before + 1)) return false;
  const int64_t step = f.recording_start ? -1 : timecode_step(from, f);
  if (step >= 0 && std::abs(static_cast<double>(now - before) - seconds_of(step, f)) <= RECORDED_SLACK_SECONDS)
    return false;
  totals_.recording_time_jumps += 1;
  totals_.unmarked_recording_time_jumps += !f.recording_start;
  sink_.recording_time_jump({at, f.stamp, from.rec_date, from.rec_time, f.recording_start});
  return !f.recording_start;
}

// Bytes between sequences: a container's own, where they lie between whole
// frames of a file in a container; else bytes the tape or the capture lost.
void frame_analysis::gap(uint64_t offset, uint64_t bytes, bool between_frames, bool at_end) {
  if (totals_.container != container_kind::none && between_frames) {
    totals_.container_bytes += bytes;
    return;
  }
  totals_.bytes_skipped += bytes;
  sink_.skipped_bytes({{last_number_, sequences_, offset}, last_stamp_, bytes, at_end});
}

void frame_analysis::finish() {
  damage_run_event run;
  if (runs_.finish(&run)) sink_.damage_run(run);
  if (repeats_.frames > 0) sink_.frames_repeated(repeats_), repeats_ = {};
  if (off_speed_.frames > 0) sink_.off_speed(off_speed_), off_speed_ = {};
}

}  // namespace dvlog
