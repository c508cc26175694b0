// A run of the tool: each input read through the scanner into the analysis,
// whose events go to the chosen log, report, table and split.
#pragma once

#include <csignal>
#include <memory>

#include "analysis/analyser.h"
#include "analysis/frame_analysis.h"
#include "events/event_fanout.h"
#include "frames/frame_reader.h"
#include "html/html_report.h"
#include "input/scanner.h"
#include "input/source.h"
#include "log/file_lines.h"
#include "log/json_log.h"
#include "log/text_log.h"
#include "main/options.h"
#include "output/output_stream.h"
#include "picture/still_picker.h"
#include "split/splitter.h"
#include "tables/frame_table.h"
#include "tables/tape_table.h"
#include "texts/time_texts.h"

namespace dvlog {

struct run_setup {
  options opts;
  int out_fd = 1;
  int err_fd = 2;
  year_source year = clock_local_year;
  stop_request stop;  // none by default
  wait_control wait;  // the same stop, for waits on outputs
  // The input is the stream a merge made of these facts: its report shows
  // where each stretch came from.
  const merge_event* merged = nullptr;
};

// What the splits of all inputs share, made before any is read: the buffer
// for copies the kernel will not make, and the parts kept for the lines after
// the summary.
struct split_resources {
  static constexpr size_t COPY_SIZE = 1 << 20;
  static constexpr int PARTS_KEPT = 4096;
  std::unique_ptr<uint8_t[]> copy_buffer{new uint8_t[COPY_SIZE]};
  std::unique_ptr<part_facts[]> parts{new part_facts[PARTS_KEPT]};
};

// Hands each sequence to the frame model, when it is wanted, then to the log's
// analysis.
class sequence_tee final : public sequence_consumer {
 public:
  sequence_tee(sequence_consumer* first, sequence_consumer& second) : first_(first), second_(second) {}
  void on_sequence(const uint8_t* s, uint64_t offset) override {
    if (first_) first_->on_sequence(s, offset);
    second_.on_sequence(s, offset);
  }

 private:
  sequence_consumer* first_;
  sequence_consumer& second_;
};

// Hands each frame to the frame analysis, then, with the recording the
// analysis found it in, to the picker of pictures; the picker also keeps the
// bytes of the frame being read.
class frame_tee final : public frame_listener {
 public:
  frame_tee(frame_analysis& analysis, still_picker* stills) : analysis_(analysis), stills_(stills) {}
  void frame_sequence(const uint8_t* s, uint64_t, int32_t frame) override {
    if (stills_) stills_->sequence(s, frame);
  }
  void frame(const tape_frame& f) override {
    analysis_.frame(f);
    if (!stills_) return;
    if (analysis_.played()) return stills_->frame(f, analysis_.recording());
    // What a deck reads while it moves the tape is no damage to picture.
    tape_frame moving = f;
    moving.damage = {};
    stills_->frame(moving, analysis_.recording());
  }
  void gap(uint64_t offset, uint64_t bytes, bool between_frames, bool at_end) override {
    analysis_.gap(offset, bytes, between_frames, at_end);
  }

 private:
  frame_analysis& analysis_;
  still_picker* stills_;
};

// Everything the log of one input needs, made before its stream is read: the
// log, the report, the analysis, and the scanner with its window.
class log_run {
 public:
  // `table`: where the input's row goes, instead of a log; `several`: the
  // input is one of several, named in every event of the JSON log.
  // `window`: the scanner's, SCAN_WINDOW_SIZE bytes shared by the inputs of
  // a run; nullptr: one of its own. `frames_fd`: where the table of frames
  // goes, -1 for none.
  log_run(const run_setup& setup, output_stream& out, const input_source& in, tape_table* table = nullptr,
          bool several = false, split_resources* split = nullptr, uint8_t* window = nullptr, int frames_fd = -1);

  // Where the stream goes in: the bytes as read, then into the scanner.
  void read(const uint8_t* at, size_t count) {
    if (scan_.bytes() == 0) frame_analysis_.set_container(container_of(at, count));
    if (splitter_) splitter_->bytes(at, count);
    scan_.append(count);
  }
  scanner& scan() { return scan_; }
  // The scanner's window is about to take more of the stream: what still
  // points into it is copied out.
  void before_refill() {
    if (stills_) stills_->window_moves();
  }
  // The split of the input, when one was asked for.
  splitter* split() { return splitter_.get(); }
  const analyser& analysis() const { return analysis_; }
  // The pictures of the tape, when the report or --stills wants them; after
  // finish(), chosen.
  const still_picker* stills() const { return stills_.get(); }
  // With --stills: tells each picture on the log as a line after the summary
  // (a JSON event, or nothing for the table).
  still_listener* still_log() { return setup_.opts.json ? static_cast<still_listener*>(&json_) : table_ ? nullptr : &still_lines_; }
  // The totals of the frame model, once finished (when anything beyond the
  // log was asked for).
  const damage_totals& frame_totals() const { return frame_analysis_.totals(); }

  // Tells the summary (told as stopped by `stop_signal`, or as ended by
  // `read_error`, when not 0) and writes out what is left. Returns 0, or 1
  // when the log could not be written.
  int finish(int stop_signal = 0, int read_error = 0);
  // Writes the HTML report, when one was asked for, to fd. False when it
  // could not be written (and that was told).
  bool write_report(int fd);
  // False when the table of frames could not be written (and that was told).
  bool frames_written() {
    if (!frames_out_) return true;
    frames_out_->flush();
    return frames_out_->failure() == 0;
  }

 private:
  const run_setup& setup_;
  output_stream& out_;
  tape_table* table_;
  run_facts facts_;
  text_log text_;
  json_log json_;
  event_sink& log_;
  still_lines still_lines_;
  report_facts report_facts_;
  std::unique_ptr<html_report> report_;
  char base_name_[256];
  std::unique_ptr<splitter> splitter_;
  std::unique_ptr<output_stream> frames_out_;
  std::unique_ptr<frame_table> frames_table_;
  event_fanout fanout_;
  bool frames_wanted_;  // anything beyond the log: the frame model reads the stream too
  event_sink& events_;  // where both analyses tell what they find
  analyser analysis_;
  frame_analysis frame_analysis_;
  std::unique_ptr<still_picker> stills_;
  frame_tee frame_tee_;
  frame_reader frame_reader_;
  sequence_tee tee_;
  std::unique_ptr<uint8_t[]> own_window_;
  scanner scan_;
};

// Progress is shown when asked for, or when standard error is a terminal
// and the log goes elsewhere.
bool wants_progress(const run_setup& setup);

// Runs on every input the options name, in turn; returns the exit status:
// 1 when some input failed, 128 + the signal when a stop signal ended the
// reading (the inputs after it are left untouched).
int run_all(const run_setup& setup);

// With --merge: writes the tape rebuilt from the inputs to the path given,
// then its log and the merge's facts. Returns the exit status.
int run_merge(const run_setup& setup);

}  // namespace dvlog
