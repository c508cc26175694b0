#include "analysis/frame_analysis.h"

#include "dv/datetime.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// Where no recording time tells whether a recording went on, a forward step
// of the timecode counts as frames the capture dropped up to this long; a
// longer one is taken for an edit.
constexpr int64_t UNTIMED_DROP_SECONDS = 10;

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

}  // namespace

frame_analysis::frame_analysis(event_sink& sink, int64_t year_now, const audio_accounting* audio)
    : sink_(sink), year_now_(year_now), audio_(audio) {}

void frame_analysis::frame(const tape_frame& f) {
  frame_event e{};
  e.at = {f.number, f.first_sequence, f.offset};
  e.stamp = f.stamp;
  e.format = f.format;
  e.damage = f.damage;
  e.video_blocks = f.video_blocks;
  e.audio_blocks = f.audio_blocks;
  e.recording_start = f.recording_start;
  e.audio_offset = audio_ ? audio_->offset() : 0;
  e.frame = &f;

  bool new_recording = !any_ || f.recording_start;
  if (any_) {
    const int64_t step = timecode_step(f);
    check_timecode(f, step, e);
    new_recording |= check_recording_time(f, step, e.at);
  }
  if (new_recording) recording_ = static_cast<int32_t>(static_cast<uint32_t>(recording_) + 1);
  e.recording = recording_;
  totals_.recordings = recording_;

  // The capture repeated a frame: the same timecode over the same picture
  // and sound. A camera whose timecode stood still over a changing picture
  // did not.
  e.repeated = any_ && f.same_as_previous && has_time(f.stamp.timecode) && f.stamp.timecode == last_stamp_.timecode;
  e.off_speed = !at_playback_speed(f);
  if (!e.repeated && repeats_.frames > 0) sink_.frames_repeated(repeats_), repeats_ = {};
  if (!e.off_speed && off_speed_.frames > 0) sink_.off_speed(off_speed_), off_speed_ = {};
  if (e.repeated) totals_.frames_repeated += 1, extend(repeats_, e);
  if (e.off_speed) totals_.frames_off_speed += 1, extend(off_speed_, e);

  sink_.frame(e);
  totals_.frames += 1;
  if (f.damage.any()) {
    totals_.damaged_frames += 1;
    totals_.sum.add(f.damage);
  }
  damage_run_event run;
  if (runs_.add(e, &run)) sink_.damage_run(run);

  last_stamp_ = f.stamp;
  last_number_ = f.number;
  any_ = true;
  sequences_ = f.first_sequence + f.sequences - 1;
}

// The frames the timecode went forward from the frame before, when both
// timecodes read; -1 otherwise.
int64_t frame_analysis::timecode_step(const tape_frame& f) const {
  const system_profile& system = system_of(f.format.system);
  const bool drop_frame = system.frames_per_second == 30 && f.stamp.drop_frame == 1;
  const int64_t a = timecode_frames(last_stamp_.timecode, system.frames_per_second, drop_frame);
  const int64_t b = timecode_frames(f.stamp.timecode, system.frames_per_second, drop_frame);
  return a >= 0 && b >= a ? b - a : -1;
}

// A timecode that does not go on by one frame is a jump: an edit, a new
// recording, damage, or frames the capture lost. A timecode that stays is no
// jump: a repeated frame, or a camera that did not advance it.
void frame_analysis::check_timecode(const tape_frame& f, int64_t step, frame_event& e) {
  const uint32_t from = last_stamp_.timecode, to = f.stamp.timecode;
  if (!has_time(from) || !has_time(to) || from == to) return;
  const system_profile& system = system_of(f.format.system);
  const bool drop_frame = system.frames_per_second == 30 && f.stamp.drop_frame == 1;
  if (is_next_timecode(from, to, system.frames_per_second, drop_frame)) return;
  totals_.timecode_jumps += 1;
  sink_.timecode_jump({e.at, f.stamp, from, last_stamp_.drop_frame});

  // Within a recording (no start mark, and the recording time going on as
  // the timecode does) the frames it stepped over were lost by the capture.
  if (f.recording_start || step <= 1) return;
  const int64_t t0 = recorded_seconds(last_stamp_.rec_date, last_stamp_.rec_time, year_now_);
  const int64_t t1 = recorded_seconds(f.stamp.rec_date, f.stamp.rec_time, year_now_);
  const int64_t seconds = step / system.frames_per_second;
  const bool time_goes_on = t0 >= 0 && t1 >= 0 ? t1 >= t0 && t1 <= t0 + seconds + 1 : seconds <= UNTIMED_DROP_SECONDS;
  if (!time_goes_on) return;
  e.dropped_before = step - 1;
  totals_.frames_dropped += e.dropped_before;
  sink_.frames_dropped({e.at, f.stamp, from, e.dropped_before});
}

// The recording date and time went back, or on by more than a second (more
// than the frames the timecode stepped over): a new recording, marked or
// not. Returns true for a jump that no mark explains.
bool frame_analysis::check_recording_time(const tape_frame& f, int64_t step, const event_place& at) {
  const int64_t before = recorded_seconds(last_stamp_.rec_date, last_stamp_.rec_time, year_now_);
  const int64_t now = recorded_seconds(f.stamp.rec_date, f.stamp.rec_time, year_now_);
  if (before < 0 || now < 0) return false;
  const int64_t stepped = step > 0 && !f.recording_start ? step / system_of(f.format.system).frames_per_second : 0;
  if (now >= before && now <= before + 1 + stepped) return false;
  totals_.recording_time_jumps += 1;
  totals_.unmarked_recording_time_jumps += !f.recording_start;
  sink_.recording_time_jump({at, f.stamp, last_stamp_.rec_date, last_stamp_.rec_time, f.recording_start});
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
