// Events to several sinks: the log, the HTML report, the table of tapes, the
// split. Each says whether it takes the damage events; those that do not are
// not told of damage in the summary either.
#pragma once

#include "events/events.h"

namespace dvlog {

class event_fanout final : public event_sink {
 public:
  static constexpr int MAX_SINKS = 4;

  // Adds a sink; false when there is no room.
  bool add(event_sink& sink, bool damage) {
    if (count_ == MAX_SINKS) return false;
    targets_[count_++] = {&sink, damage};
    return true;
  }

  void status(const status_event& e) override { each([&](event_sink& s) { s.status(e); }); }
  void recording_start(const recording_start_event& e) override { each([&](event_sink& s) { s.recording_start(e); }); }
  void timecode_broken(const timecode_broken_event& e) override { each([&](event_sink& s) { s.timecode_broken(e); }); }
  void audio_block_warning(const audio_block_warning_event& e) override {
    each([&](event_sink& s) { s.audio_block_warning(e); });
  }
  void frame(const frame_event& e) override { each_damage([&](event_sink& s) { s.frame(e); }); }
  void damage_run(const damage_run_event& e) override { each_damage([&](event_sink& s) { s.damage_run(e); }); }
  void timecode_jump(const timecode_jump_event& e) override { each_damage([&](event_sink& s) { s.timecode_jump(e); }); }
  void recording_time_jump(const recording_time_jump_event& e) override {
    each_damage([&](event_sink& s) { s.recording_time_jump(e); });
  }
  void skipped_bytes(const skipped_bytes_event& e) override { each_damage([&](event_sink& s) { s.skipped_bytes(e); }); }
  void frames_dropped(const frames_dropped_event& e) override { each_damage([&](event_sink& s) { s.frames_dropped(e); }); }
  void frames_repeated(const frame_run_event& e) override { each_damage([&](event_sink& s) { s.frames_repeated(e); }); }
  void off_speed(const frame_run_event& e) override { each_damage([&](event_sink& s) { s.off_speed(e); }); }
  void retake(const retake_event& e) override { each_damage([&](event_sink& s) { s.retake(e); }); }
  void end_of_sequence() override { each([&](event_sink& s) { s.end_of_sequence(); }); }
  void summary(const summary_event& e) override {
    for (int i = 0; i < count_; ++i) {
      summary_event told = e;
      told.has_damage = e.has_damage && targets_[i].damage;
      targets_[i].sink->summary(told);
    }
  }

 private:
  template <typename F>
  void each(F&& f) {
    for (int i = 0; i < count_; ++i) f(*targets_[i].sink);
  }
  template <typename F>
  void each_damage(F&& f) {
    for (int i = 0; i < count_; ++i)
      if (targets_[i].damage) f(*targets_[i].sink);
  }

  struct target {
    event_sink* sink;
    bool damage;
  };
  target targets_[MAX_SINKS] = {};
  int count_ = 0;
};

}  // namespace dvlog
