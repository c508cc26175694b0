// The table of tapes (--table): one CSV row an input, as RFC 4180 writes it,
// after a header row, each row written as soon as its input has been read.
// It keeps only the facts of the input being read.
#pragma once

#include <cstdint>

#include "events/events.h"
#include "output/output_stream.h"
#include "tables/csv_writer.h"
#include "texts/time_texts.h"

namespace dvlog {

enum class tape_status { ok, open_error, read_error, stopped, no_dv };

class tape_table final : public event_sink {
 public:
  tape_table(output_stream& out, year_source year);

  // The header row.
  void write_header();
  // A new input: what was gathered of the last one is forgotten.
  void begin(const char* name);
  // The input's row: `bytes` read, and how the reading ended (a stream in
  // which nothing was found is told as such).
  void end(tape_status status, uint64_t bytes);

  void status(const status_event& e) override;
  void recording_start(const recording_start_event&) override {}
  void timecode_broken(const timecode_broken_event&) override {}
  void audio_block_warning(const audio_block_warning_event&) override {}
  void frame(const frame_event& e) override;
  void end_of_sequence() override {}
  void summary(const summary_event& e) override;

 private:
  // Values in the order first seen; there are few of each kind.
  struct seen_values {
    static constexpr int MAX = 16;
    uint16_t codes[MAX];
    int count = 0;
    void add(uint16_t code);
  };

  void values(const seen_values& v, const char* (*name)(uint16_t code, char* buffer, size_t size));

  output_stream& out_;
  csv_writer csv_;
  year_source year_;
  const char* name_ = "";
  seen_values systems_, signal_types_, aspects_, audio_;
  int64_t frames_by_system_[2] = {};  // frames closed of each system, for a tape of both
  frame_stamp first_{}, last_{};  // timecode and recording time of the first and last frames that give them
  bool first_timecode_ = false, first_recorded_ = false;
  summary_event summary_{};
  bool summarised_ = false;
};

}  // namespace dvlog
