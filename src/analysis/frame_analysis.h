// What the frames of a stream tell beyond the log: the damage the tape took,
// the jumps of its timecode and recording time, its recordings, and what the
// capture did to it (frames dropped or repeated, frames read while the deck
// was not playing, retakes, the container's bytes).
//
// The capture checks follow the deck. The AAUX source control pack of every
// frame says how the deck moved the tape as it read it (SPEED, and DRF for
// the direction); a frame is played (forward at normal speed, or the pack
// says nothing) or off speed (fast forward, rewind, shuttle, jog, pause,
// slow or reverse play). A deck that moves the tape is no fault of the tape:
//
// - An off-speed frame is that and nothing else. It opens no recording,
//   repeats nothing, and its damage (a deck shuttling reads half tracks) is
//   not the tape's. The step of timecode a deck movement leaves between the
//   played frames around it is neither frames dropped nor a timecode jump;
//   only a recording time that does not follow that step tells a recording
//   passed over.
//
// Each played frame F is set against P, the played frame before it, and is
// the first of these that holds:
//
// - a repeat: F follows P with nothing between, and is P again: the same
//   timecode, and the same content in every sequence both read right.
// - a retake: F lies at or before P on the tape, so the capture went back
//   over frames it had read. Its timecode goes back (or stays, after a deck
//   movement) to the place of one of the last RECENT_FRAMES played frames
//   whose content F shares, or to a place before all of them (not to one the
//   capture passed without reading: that is the tape's own timecode going
//   back); with no timecode, F's content is that of one of those frames
//   other than P. The recording time goes back with it, within a second;
//   without one, F is no start mark right after P. F opens no recording, and
//   the frames read again are P's timecode minus F's, plus one (by content,
//   the played frames from the one F shares to P).
// - else F goes on from P. A recording-start mark opens a recording. Where F
//   follows P with nothing between, a timecode that does not step by one
//   frame (nor stay) is a timecode jump; a forward step of n frames is n - 1
//   frames dropped by the capture when F is not marked and the recording time
//   went on by as much as the step, within a second (or, with no recording
//   time, when the step is at most UNTIMED_DROP_SECONDS long); else it is an
//   edit, and only a jump. The recording time may go on by a second, or by
//   the timecode's step; any other change is a recording-time jump, which
//   opens a recording when no mark explains it.
//
// A frame's timecode, date or time whose digits are impossible is no value
// (the frame model does not read it): a frame without one is judged by what
// it has.
#pragma once

#include <cstdint>

#include "analysis/audio_accounting.h"
#include "analysis/damage.h"
#include "events/events.h"
#include "frames/tape_frame.h"

namespace dvlog {

class frame_analysis final : public frame_listener {
 public:
  // Played frames remembered for telling a retake by content.
  static constexpr int RECENT_FRAMES = 64;

  // `year_now` places the two-digit years of recording dates; `audio`, when
  // given, is the log's accounting of the audio, whose offset is told with
  // each frame.
  frame_analysis(event_sink& sink, int64_t year_now, const audio_accounting* audio = nullptr);

  // The input is held in a container: its bytes between whole frames are
  // no damage.
  void set_container(container_kind kind) { totals_.container = kind; }

  void frame(const tape_frame& f) override;
  void gap(uint64_t offset, uint64_t bytes, bool between_frames, bool at_end) override;
  // Ends the runs still open; call after the frame reader's finish.
  void finish();

  const damage_totals& totals() const { return totals_; }
  // The recording of the last frame, from 1.
  int32_t recording() const { return recording_; }
  // The last frame was read at playback speed: its damage is the tape's.
  bool played() const { return played_; }

 private:
  // A played frame: its place on the tape by its timecode (-1: none),
  // whether it went on from the one before it (no retake, no deck movement
  // between), and its content by slot.
  struct recent_frame {
    int64_t position;
    bool follows;
    uint64_t seen, intact;
    uint64_t content[FRAME_SLOTS];
  };
  static constexpr int PASSED_OVER = -1, BEFORE_ALL = -2;

  bool check_retake(const tape_frame& f, frame_event& e);
  const recent_frame& recent(int age) const;
  int age_of_position(int64_t position) const;
  struct content_view {
    uint64_t seen, intact;
    const uint64_t* content;
  };
  static content_view view(const recent_frame& r) { return {r.seen, r.intact, r.content}; }
  static bool same_content(const content_view& a, const content_view& b);
  int64_t frames_back_by_content(const tape_frame& f) const;
  void check_timecode(const tape_frame& f, frame_event& e);
  bool check_recording_time(const tape_frame& f, const event_place& at);
  int64_t timecode_step(const frame_stamp& from, const tape_frame& f) const;
  double seconds_of(int64_t frames, const tape_frame& f) const;
  int64_t recorded(const frame_stamp& s) const;
  void remember(const tape_frame& f, bool follows);

  event_sink& sink_;
  int64_t year_now_;
  const audio_accounting* audio_;
  damage_totals totals_;
  damage_runs runs_;
  bool any_ = false;
  bool played_ = false;
  // The last played frame, P, and whether frames off speed came after it.
  bool have_played_ = false;
  frame_stamp played_stamp_{NO_INFO, NO_INFO, NO_INFO, NO_INFO8};
  int32_t last_played_number_ = 0;
  bool moved_ = false;
  // The frame before, played or not.
  frame_stamp last_stamp_{NO_INFO, NO_INFO, NO_INFO, NO_INFO8};
  int32_t last_number_ = 0;
  int32_t sequences_ = 0;  // up to the end of the last frame
  int32_t recording_ = 0;
  frame_run_event repeats_{}, off_speed_{};
  // The last RECENT_FRAMES played frames, oldest first from recent_next_;
  // only the first recent_count_ are filled.
  recent_frame recent_[RECENT_FRAMES];
  int recent_count_ = 0, recent_next_ = 0;
};

}  // namespace dvlog
