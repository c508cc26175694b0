// Events to several sinks: the log, the HTML report, the table of frames,
// the split, and any other output of the run. Each says whether it takes the
// damage events; those that do not are not told of damage in the summary
// either. The sinks are added before the stream is read, as many as the run
// has: none is ever left out.
#pragma once

#include <vector>

#include "events/events.h"
#include "events/part_facts.h"

namespace dvlog {

class event_fanout final : public event_sink {
 public:
  void add(event_sink& sink, bool damage) { targets_.push_back({&sink, damage}); }
  size_t size() const { return targets_.size(); }

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
    for (const target& t : targets_) {
      summary_event told = e;
      told.has_damage = e.has_damage && t.damage;
      t.sink->summary(told);
    }
  }

 private:
  template <typename F>
  void each(F&& f) {
    for (const target& t : targets_) f(*t.sink);
  }
  template <typename F>
  void each_damage(F&& f) {
    for (const target& t : targets_)
      if (t.damage) f(*t.sink);
  }

  struct target {
    event_sink* sink;
    bool damage;
  };
  std::vector<target> targets_;
};

// The parts of a split to all who tell of them: the JSON log, the report.
class part_fanout final : public part_listener {
 public:
  void add(part_listener& listener) { listeners_.push_back(&listener); }
  void clear() { listeners_.clear(); }
  void part(const part_facts& p) override {
    for (part_listener* l : listeners_) l->part(p);
  }

 private:
  std::vector<part_listener*> listeners_;
};

}  // namespace dvlog
