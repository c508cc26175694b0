// What the HTML report gathers from the events of a run, for its page to
// show: the timeline's slices, and the rows its lanes and tables draw from.
// All of it is allocated before the stream is read.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "events/events.h"
#include "html/timeline.h"
#include "picture/still_picker.h"
#include "texts/time_texts.h"

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
  // Orders the rows kept.
  template <typename Less>
  void sort(Less less) {
    std::sort(rows_.get(), rows_.get() + count_, less);
  }

 private:
  std::unique_ptr<Row[]> rows_;
  int capacity_;
  int count_ = 0;
  int64_t more_ = 0;
};

// A recording: from a start mark, or from a jump of the recording time that
// no mark explains.
struct recording_row {
  event_place at;
  frame_stamp stamp;
  bool marked;
  uint64_t settings;  // bit SETTING_VALUES * field + value: the settings seen in its frames
};

struct jump_row {
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

// What the capture did to the tape: frames it dropped before a frame, frames
// it repeated, frames it read while the deck was not playing the tape forward
// at normal speed, a retake (the capture going back over frames it had
// read), DIF sequences it sent twice in a frame.
enum class capture_kind : uint8_t { dropped, repeated, off_speed, retake, sequences_repeated };
struct capture_row {
  capture_kind kind;
  event_place at;     // of the frame after the dropped ones; of a run's first frame; of a retake's first
  uint32_t timecode;  // of that frame
  uint32_t other;     // the timecode before the dropped frames or the retake; that of a run's last frame
  int32_t last_frame;  // of a run; the frame played before a retake
  int64_t frames;      // dropped, in the run, read again; the sequences sent twice
  uint8_t speed, forward;  // the deck's, in a run off speed's first frame
  bool by_content;         // a retake told by the frames' content
};
// "dropped", "repeated", "not at playback speed", "retake", "DIF sequences
// repeated".
const char* capture_kind_name(capture_kind kind);
// What a row tells beyond its place and its frames: "timecode from
// 00h 00m 01s 02f", "to 00h 00m 03s 04f (frame 95); speed 0x50, reverse",
// "back from 00h 00m 03s 09f (frame 100)". 96 bytes are enough.
const char* capture_details(const capture_row& row, char* out, size_t size);

struct part_row {
  int number;
  int32_t first_frame;
  frame_stamp first;
  int64_t frames;
  uint64_t bytes;
  char name[NAME_MAX + 1];  // its file's, without the folder
};

struct report_content {
  report_content(year_source year_of_now, int rows);

  // The system the durations are told in: that of the last status line.
  uint8_t system() const { return has_settings ? settings.system : NO_INFO8; }
  // A frame's position in the tape: the time from the first frame to it.
  const char* position_text(int32_t frame, char* out, size_t size) const;

  year_source year;
  std::unique_ptr<timeline> slices;
  bounded_rows<recording_row> recordings;
  bounded_rows<damage_run_event> runs;
  bounded_rows<status_row> statuses;
  bounded_rows<jump_row> jumps;
  bounded_rows<skipped_bytes_event> skipped;
  bounded_rows<capture_row> capture;  // in the order of the tape, once the summary is told
  bounded_rows<part_row> parts;
  const merge_event* merge = nullptr;  // the stream is a merge of several transfers
  const still_picker* stills = nullptr;  // pictures of the tape, when made
  bool tc_broken = false;
  event_place tc_broken_at{};
  uint32_t tc_broken_timecode = 0;
  int32_t last_frame = 0;
  // The settings of the last status line.
  bool has_settings = false;
  bool has_audio = false;
  dv_meta settings{};
  summary_event summary{};
};

}  // namespace dvlog
