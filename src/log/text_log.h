// The text log: the events of the analysis as lines on standard output, and
// the warnings on standard error.
#pragma once

#include "events/events.h"
#include "output/output_stream.h"
#include "texts/time_texts.h"

namespace dvlog {

class text_log final : public event_sink {
 public:
  text_log(output_stream& out, year_source year);

  void status(const status_event& e) override;
  void recording_start(const recording_start_event& e) override;
  void timecode_broken(const timecode_broken_event& e) override;
  void audio_block_warning(const audio_block_warning_event& e) override;
  void damage_run(const damage_run_event& e) override;
  void timecode_jump(const timecode_jump_event& e) override;
  void recording_time_jump(const recording_time_jump_event& e) override;
  void skipped_bytes(const skipped_bytes_event& e) override;
  void frames_dropped(const frames_dropped_event& e) override;
  void frames_repeated(const frame_run_event& e) override;
  void off_speed(const frame_run_event& e) override;
  void retake(const retake_event& e) override;
  void frame(const frame_event& e) override;
  void end_of_sequence() override;
  void summary(const summary_event& e) override;
  void merge(const merge_event& e) override;

 private:
  void head(const frame_stamp& stamp);

  output_stream& out_;
  year_source year_;
};

}  // namespace dvlog
