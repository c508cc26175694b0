// The runs of damaged frames, and the totals of the whole stream.
#pragma once

#include <cstdint>

#include "events/events.h"

namespace dvlog {

class damage_runs {
 public:
  // A complete frame: damaged or not. Returns true, with the run in *ended,
  // when an intact frame ends a run.
  bool add(const frame_event& f, damage_run_event* ended);
  // At the end of the input: true, with the run in *ended, when one is open.
  bool finish(damage_run_event* ended);

 private:
  bool open_ = false;
  damage_run_event run_{};
};

// A clogged head loses every other track: damage in even or odd sequences
// only, more than a sequence's worth of video blocks, over several frames in
// a row. One frame that lost one sequence is a dropout, not a head.
bool one_head(const damage_counts& d, int64_t frames);

}  // namespace dvlog
