// The table of frames (--frames FILE): one CSV row a frame as the stream
// delimits it, with what the frame model and the capture checks found in it,
// as archival QC keeps a frame-level record.
#pragma once

#include "events/events.h"
#include "output/output_stream.h"
#include "tables/csv_writer.h"
#include "texts/time_texts.h"

namespace dvlog {

class frame_table final : public event_sink {
 public:
  // Writes the header row.
  frame_table(output_stream& out, year_source year);

  void status(const status_event&) override {}
  void recording_start(const recording_start_event&) override {}
  void timecode_broken(const timecode_broken_event&) override {}
  void audio_block_warning(const audio_block_warning_event&) override {}
  void frame(const frame_event& e) override;
  void summary(const summary_event&) override {}

  // The first bytes of a file of frames, by which a new table may replace an
  // old one.
  static const char* header_start();

 private:
  csv_writer csv_;
  year_source year_;
  uint32_t date_word_ = 0;  // the last recording date written, and its text
  bool date_made_ = false;
  char date_[32] = {};
  uint32_t audio_code_ = 0;  // the last audio format written, and its text
  bool audio_made_ = false;
  char audio_[40] = {};
};

}  // namespace dvlog
