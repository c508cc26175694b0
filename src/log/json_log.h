// The JSON Lines log: one JSON object a line for every event of the analysis,
// in stream order, ending with the summary.
#pragma once

#include <csignal>
#include <cstdint>

#include "events/events.h"
#include "events/part_facts.h"
#include "events/still_facts.h"
#include "log/json_writer.h"
#include "output/output_stream.h"
#include "texts/time_texts.h"

namespace dvlog {

// What the summary tells of the run besides the analysis.
struct run_facts {
  const char* input = nullptr;  // the path, or nullptr for standard input
  uint64_t bytes = 0;           // read from the input
  int stop_signal = 0;          // the signal that stopped the run, 0 if none
  bool every_event = false;     // the input is named in every event, not only the summary
};

class json_log final : public event_sink, public part_listener, public still_listener {
 public:
  json_log(output_stream& out, year_source year, const run_facts& facts);

  void status(const status_event& e) override;
  void recording_start(const recording_start_event& e) override;
  void timecode_broken(const timecode_broken_event& e) override;
  void audio_block_warning(const audio_block_warning_event& e) override;
  void frame(const frame_event& e) override;
  void damage_run(const damage_run_event& e) override;
  void timecode_jump(const timecode_jump_event& e) override;
  void recording_time_jump(const recording_time_jump_event& e) override;
  void skipped_bytes(const skipped_bytes_event& e) override;
  void frames_dropped(const frames_dropped_event& e) override;
  void frames_repeated(const frame_run_event& e) override;
  void off_speed(const frame_run_event& e) override;
  void retake(const retake_event& e) override;
  void end_of_sequence() override;
  void summary(const summary_event& e) override;
  void merge(const merge_event& e) override;
  // A part of a split, once written: told as it comes, before the summary.
  void part(const part_facts& p) override;
  // A picture of the tape (--stills), told after the summary.
  void still(const still_facts& s) override;

 private:
  void open(const char* event, const event_place& at);
  void close();
  void timecode(uint32_t tc, uint8_t drop_frame, const char* name = "timecode");
  void recorded(uint32_t date, uint32_t time, const char* name = "recorded");
  void counts(const damage_counts& d);
  void frame_run(const char* event, const frame_run_event& e);

  output_stream& out_;
  json_writer json_;
  year_source year_;
  const run_facts& facts_;
};

}  // namespace dvlog
