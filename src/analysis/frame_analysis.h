// What the frames of a stream tell beyond the log: the damage the tape took,
// the jumps of its timecode and recording time, its recordings, and what the
// capture did to it (frames dropped or repeated, frames read while the deck
// was not playing, the container's bytes).
#pragma once

#include <cstdint>

#include "analysis/audio_accounting.h"
#include "analysis/damage.h"
#include "events/events.h"
#include "frames/tape_frame.h"

namespace dvlog {

class frame_analysis final : public frame_listener {
 public:
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

 private:
  int64_t timecode_step(const tape_frame& f) const;
  void check_timecode(const tape_frame& f, int64_t step, frame_event& e);
  bool check_recording_time(const tape_frame& f, int64_t step, const event_place& at);
  void end_runs(const tape_frame* next);

  event_sink& sink_;
  int64_t year_now_;
  const audio_accounting* audio_;
  damage_totals totals_;
  damage_runs runs_;
  bool any_ = false;
  frame_stamp last_stamp_{NO_INFO, NO_INFO, NO_INFO, NO_INFO8};  // of the frame before
  int32_t last_number_ = 0;
  int32_t sequences_ = 0;  // up to the end of the last frame
  int32_t recording_ = 0;
  frame_run_event repeats_{}, off_speed_{};
};

}  // namespace dvlog
