// Events to two sinks: the log, and the HTML report. The report always counts
// damage; the log is told of it only when it asked.
#pragma once

#include "analysis/events.h"

namespace dvlog {

class log_and_report final : public event_sink {
 public:
  log_and_report(event_sink& log, event_sink& report, bool log_damage)
      : log_(log), report_(report), log_damage_(log_damage) {}

  void status(const status_event& e) override { log_.status(e), report_.status(e); }
  void recording_start(const recording_start_event& e) override { log_.recording_start(e), report_.recording_start(e); }
  void timecode_broken(const timecode_broken_event& e) override { log_.timecode_broken(e), report_.timecode_broken(e); }
  void audio_block_warning(const audio_block_warning_event& e) override {
    log_.audio_block_warning(e), report_.audio_block_warning(e);
  }
  void frame(const frame_event& e) override {
    if (log_damage_) log_.frame(e);
    report_.frame(e);
  }
  void damage_run(const damage_run_event& e) override {
    if (log_damage_) log_.damage_run(e);
    report_.damage_run(e);
  }
  void timecode_jump(const timecode_jump_event& e) override {
    if (log_damage_) log_.timecode_jump(e);
    report_.timecode_jump(e);
  }
  void recording_time_jump(const recording_time_jump_event& e) override {
    if (log_damage_) log_.recording_time_jump(e);
    report_.recording_time_jump(e);
  }
  void end_of_sequence() override { log_.end_of_sequence(), report_.end_of_sequence(); }
  void summary(const summary_event& e) override {
    summary_event for_log = e;
    for_log.has_damage = e.has_damage && log_damage_;
    log_.summary(for_log);
    report_.summary(e);
  }

 private:
  event_sink& log_;
  event_sink& report_;
  bool log_damage_;
};

}  // namespace dvlog
