// The reading of one input: the scanner and its window, the log's analysis,
// and, when an output needs them, the frame model with its analysis and the
// picker of pictures. Their events go to the sinks of the outputs reading
// the input: straight to the one sink when there is one (a plain log pays
// for no fan-out), else through a fan-out.
#pragma once

#include <memory>
#include <vector>

#include "analysis/analyser.h"
#include "analysis/frame_analysis.h"
#include "events/event_fanout.h"
#include "frames/container.h"
#include "frames/frame_reader.h"
#include "input/scanner.h"
#include "main/outputs.h"
#include "picture/still_picker.h"

namespace dvlog {

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

class input_reading {
 public:
  // `outputs`: those reading the input, in the list's order. `worker`: makes
  // the pictures when an output needs them. `window`: the scanner's,
  // SCAN_WINDOW_SIZE bytes shared by the inputs of a run; nullptr: one of
  // its own.
  input_reading(const run_setup& setup, const std::vector<run_output*>& outputs, picture_worker* worker,
                uint8_t* window);

  // Where the stream goes in: the bytes as read, to the outputs that take
  // them, then into the scanner.
  void read(const uint8_t* at, size_t count) {
    if (scan_.bytes() == 0) frame_analysis_.set_container(container_of(at, count));
    for (run_output* o : byte_takers_) o->bytes(at, count);
    scan_.append(count);
  }
  scanner& scan() { return scan_; }
  // The scanner's window is about to take more of the stream: what still
  // points into the bytes it will write over is copied out.
  void before_refill() {
    if (pictures_) pictures_->window_moves(scan_.next_filled(), SCAN_WINDOW_SIZE);
  }
  const analyser& analysis() const { return analysis_; }
  // The pictures, when wanted; after finish(), chosen and made.
  const still_picker* pictures() const { return pictures_.get(); }
  // The totals of the frame model, once finished (when it ran).
  const damage_totals& frame_totals() const { return frame_analysis_.totals(); }

  // The input has ended: the frame model and the pictures are finished, and
  // the summary told.
  void finish();

 private:
  static event_sink& sink_of(const std::vector<run_output*>& outputs, bool frames, event_fanout& fanout);

  std::vector<run_output*> byte_takers_;
  bool frames_wanted_;   // the frame model reads the stream too
  event_fanout fanout_;
  event_sink& events_;   // where both analyses tell what they find
  analyser analysis_;
  frame_analysis frame_analysis_;
  std::unique_ptr<still_picker> pictures_;
  frame_tee frame_tee_;
  frame_reader frame_reader_;
  sequence_tee tee_;
  std::unique_ptr<uint8_t[]> own_window_;
  // With pictures, a second window: the frames that may yet be pictured stay
  // where they were read for a window more, and are seldom copied.
  std::unique_ptr<uint8_t[]> spare_window_;
  scanner scan_;
};

}  // namespace dvlog
