// The HTML report (--report FILE): one page that needs nothing else, with a
// timeline of the whole tape (recordings, damage, audio offset, events) and
// tables of recordings, damaged runs and status lines. It keeps a fixed
// amount, whatever the length of the tape, all of it allocated before the
// stream is read, and writes the page at the end.
#pragma once

#include <cstdint>

#include "events/events.h"
#include "events/part_facts.h"
#include "html/report_content.h"
#include "output/output_stream.h"
#include "texts/time_texts.h"

namespace dvlog {

// What the page says of the run besides the analysis.
struct report_facts {
  const char* input = "standard input";
  uint64_t input_bytes = 0;
  const char* version = "";
  int stop_signal = 0;  // the signal that stopped the reading, 0 if none
  int read_error = 0;   // the errno that ended the reading, 0 if none
};

// The picture and audio settings the header lists, each with the recordings
// it applies to.
enum setting_field { FIELD_SYSTEM, FIELD_SIGNAL_TYPE, FIELD_ASPECT, FIELD_SCAN, FIELD_RATE, FIELD_BITS, FIELD_LOCK,
                     FIELD_EMPHASIS, FIELD_COUNT };
constexpr int PICTURE_FIELDS = FIELD_RATE;  // the fields before it are the picture's

class html_report final : public event_sink, public part_listener {
 public:
  static constexpr int TABLE_ROWS = 10000;
  // Distinct values a setting is followed in; more are left out of the header.
  static constexpr int SETTING_VALUES = 8;

  html_report(year_source year, const report_facts& facts);

  void status(const status_event& e) override;
  // Recordings are taken from the frames, which the frame model numbers.
  void recording_start(const recording_start_event&) override {}
  void timecode_broken(const timecode_broken_event& e) override;
  void audio_block_warning(const audio_block_warning_event&) override {}
  void frame(const frame_event& e) override;
  void damage_run(const damage_run_event& e) override;
  void timecode_jump(const timecode_jump_event& e) override;
  void recording_time_jump(const recording_time_jump_event& e) override;
  void skipped_bytes(const skipped_bytes_event& e) override;
  void frames_dropped(const frames_dropped_event& e) override;
  void frames_repeated(const frame_run_event& e) override { add_run(capture_kind::repeated, e); }
  void off_speed(const frame_run_event& e) override { add_run(capture_kind::off_speed, e); }
  void retake(const retake_event& e) override;
  void summary(const summary_event& e) override;
  // A part of a split: marked on the timeline, listed with its file name.
  void part(const part_facts& p) override;
  // The stream is a merge of several transfers: a lane shows where each
  // stretch came from. `e` is kept, and must stay valid until write().
  void merge(const merge_event& e) override { content_.merge = &e; }

  // Pictures of the tape: a contact sheet, and the pictures of the damaged
  // runs. Kept, and must stay valid until write().
  void set_stills(const still_picker* stills) { content_.stills = stills; }

  // Writes the page.
  void write(output_stream& out) const;

 private:
  // The values a setting field has taken, by their key, in order of appearance.
  struct field_values {
    uint8_t key[SETTING_VALUES];
    int count;
  };

  void add_recording(const event_place& at, const frame_stamp& stamp, bool marked);
  void add_run(capture_kind kind, const frame_run_event& e);
  event_place in_frame_read(event_place at) const;
  void write_header(output_stream& out) const;
  void write_settings(output_stream& out, int first_field, int end_field) const;
  void write_merge_table(output_stream& out) const;
  void write_tables(output_stream& out) const;

  const report_facts& facts_;
  report_content content_;
  int32_t recording_ = 0;  // of the last frame
  field_values seen_[FIELD_COUNT]{};  // the values seen in frames
  uint64_t settings_of_later_ = 0;  // seen in recordings beyond the table's rows
};

}  // namespace dvlog
