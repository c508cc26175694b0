// The HTML report (--report FILE): one page that needs nothing else, with a
// timeline of the whole tape (recordings, damage, audio offset, events) and
// tables of recordings, damaged runs and status lines. It keeps a fixed
// amount, whatever the length of the tape, all of it allocated before the
// stream is read, and writes the page at the end.
#pragma once

#include <cstdint>
#include <memory>

#include "analysis/events.h"
#include "output/output_stream.h"
#include "picture/still_picker.h"
#include "report/part_facts.h"
#include "report/time_texts.h"
#include "report/still_html.h"
#include "report/timeline.h"

namespace dvlog {

// At most `capacity` rows; those beyond are counted.
template <typename Row>
class bounded_rows {
 public:
  explicit bounded_rows(int capacity) : rows_(new Row[static_cast<size_t>(capacity)]), capacity_(capacity) {}
  void add(const Row& r) {
    if (count_ < capacity_)
      rows_[count_++] = r;
    else
      ++more_;
  }
  int size() const { return count_; }
  int64_t more() const { return more_; }
  const Row& operator[](int i) const { return rows_[i]; }
  const Row& back() const { return rows_[count_ - 1]; }
  Row& back() { return rows_[count_ - 1]; }

 private:
  std::unique_ptr<Row[]> rows_;
  int capacity_;
  int count_ = 0;
  int64_t more_ = 0;
};

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
  void recording_start(const recording_start_event& e) override;
  void timecode_broken(const timecode_broken_event& e) override;
  void audio_block_warning(const audio_block_warning_event&) override {}
  void frame(const frame_event& e) override;
  void damage_run(const damage_run_event& e) override;
  void timecode_jump(const timecode_jump_event& e) override;
  void recording_time_jump(const recording_time_jump_event& e) override;
  void skipped_bytes(const skipped_bytes_event& e) override;
  void summary(const summary_event& e) override;
  // A part of a split: marked on the timeline.
  void part(const part_facts& p) override;
  // The stream is a merge of several transfers: a lane shows where each
  // stretch came from. `e` is kept, and must stay valid until write().
  void merge(const merge_event& e) override { merge_ = &e; }

  // Pictures of the tape: a contact sheet, and the pictures of the damaged
  // runs. Kept, and must stay valid until write().
  void set_stills(const still_picker* stills) { stills_ = stills; }

  // Writes the page.
  void write(output_stream& out) const;

 private:
  // A recording: from a start mark, or from a jump of the recording time that
  // no mark explains.
  struct recording {
    event_place at;
    frame_stamp stamp;
    bool marked;
    uint64_t settings;  // bit SETTING_VALUES * field + value: the settings seen in its frames
  };
  struct jump {
    event_place at;
    frame_stamp stamp;
    uint32_t from_a, from_b;  // timecode; or date and time
    bool timecode;            // a timecode jump, else a recording-time one
    bool marked;
  };
  struct status_row {
    event_place at;
    dv_meta settings;
    uint32_t changed;
    bool has_audio;
    int32_t audio_offset;
  };
  // The values a setting field has taken, by their key, in order of appearance.
  struct field_values {
    uint8_t key[SETTING_VALUES];
    int count;
  };

  void add_recording(const event_place& at, const frame_stamp& stamp, bool marked);
  void write_header(output_stream& out) const;
  void write_settings(output_stream& out, int first_field, int end_field) const;
  void write_timeline(output_stream& out) const;
  void write_recordings_lane(output_stream& out) const;
  void write_damage_lanes(output_stream& out) const;
  void write_offset_lane(output_stream& out) const;
  void write_events_lane(output_stream& out) const;
  void write_axis(output_stream& out) const;
  void write_merge_lane(output_stream& out) const;
  void write_tables(output_stream& out) const;
  double x_of(int32_t frame) const;
  uint8_t system() const;
  const char* position_text(int32_t frame, char* out, size_t size) const;

  year_source year_;
  const report_facts& facts_;
  const still_picker* stills_ = nullptr;
  std::unique_ptr<timeline> timeline_;
  bounded_rows<recording> recordings_;
  bounded_rows<damage_run_event> runs_;
  bounded_rows<status_row> statuses_;
  bounded_rows<jump> jumps_;
  bounded_rows<skipped_bytes_event> skipped_;
  struct part_row {
    int number;
    int32_t first_frame;
    frame_stamp first;
    int64_t frames;
    uint64_t bytes;
  };
  bounded_rows<part_row> parts_;
  const merge_event* merge_ = nullptr;
  bool tc_broken_ = false;
  event_place tc_broken_at_{};
  uint32_t tc_broken_timecode_ = 0;
  int32_t last_frame_ = 0;
  // The settings of the last status line, and the values seen in frames.
  bool has_settings_ = false;
  bool has_audio_ = false;
  dv_meta settings_{};
  field_values seen_[FIELD_COUNT]{};
  uint64_t settings_of_later_ = 0;  // seen in recordings beyond the table's rows
  summary_event summary_{};
};

}  // namespace dvlog
