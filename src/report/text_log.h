// The text log: the events of the analysis as lines on standard output, and
// the warnings on standard error.
#pragma once

#include "analysis/events.h"
#include "report/output_stream.h"
#include "report/time_texts.h"

namespace dvlog {

class text_log final : public event_sink {
 public:
  text_log(output_stream& out, year_source year);

  void status(const status_event& e) override;
  void recording_start(const recording_start_event& e) override;
  void timecode_broken(const timecode_broken_event& e) override;
  void audio_block_warning(const audio_block_warning_event& e) override;
  void end_of_sequence() override;
  void summary(const summary_event& e) override;

 private:
  output_stream& out_;
  year_source year_;
};

}  // namespace dvlog
