#include "main/reading.h"

#include "main/run.h"

namespace dvlog {

namespace {

unsigned needs_of(const std::vector<run_output*>& outputs) {
  unsigned needs = 0;
  for (const run_output* o : outputs) needs |= o->needs();
  return needs;
}

}  // namespace

// An output that tells others of the files it ends hears each event first:
// the last part is named, and told, before the logs' summary.
event_sink& input_reading::sink_of(const std::vector<run_output*>& outputs, bool frames, event_fanout& fanout) {
  for (const bool first : {true, false})
    for (run_output* o : outputs)
      if (o->sink() && o->tells_files() == first) fanout.add(*o->sink(), o->takes_damage());
  // One sink alone hears the analyses straight, unless it must be spared
  // the damage the frame model finds.
  if (fanout.size() == 1) {
    for (run_output* o : outputs)
      if (o->sink() && (o->takes_damage() || !frames)) return *o->sink();
  }
  return fanout;
}

input_reading::input_reading(const run_setup& setup, const std::vector<run_output*>& outputs,
                             picture_worker* worker, uint8_t* window)
    : frames_wanted_(needs_of(outputs) & NEEDS_FRAMES),
      events_(sink_of(outputs, frames_wanted_, fanout_)),
      analysis_(events_),
      frame_analysis_(events_, setup.year(), &analysis_.audio()),
      pictures_(worker && (needs_of(outputs) & NEEDS_PICTURES) ? new still_picker(*worker) : nullptr),
      frame_tee_(frame_analysis_, pictures_.get()),
      frame_reader_(frame_tee_),
      tee_(frames_wanted_ ? &frame_reader_ : nullptr, analysis_),
      own_window_(window ? nullptr : new uint8_t[SCAN_WINDOW_SIZE]),
      spare_window_(pictures_ ? new uint8_t[SCAN_WINDOW_SIZE] : nullptr),
      scan_(window ? window : own_window_.get(), tee_, spare_window_.get()) {
  for (run_output* o : outputs)
    if (o->needs() & NEEDS_BYTES) byte_takers_.push_back(o);
}

void input_reading::finish() {
  if (frames_wanted_) {
    frame_reader_.finish(scan_.bytes(), scan_.unexamined_sequence());
    frame_analysis_.finish();
  }
  if (pictures_) pictures_->finish();
  analysis_.finish(frames_wanted_ ? &frame_analysis_.totals() : nullptr);
}

}  // namespace dvlog
