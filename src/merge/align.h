// Which frames of the transfers are one tape frame, in tape order.
//
// Two transfers are two sequences of frames, each missing some of the tape's
// (a late start, an early end, frames the capture dropped) and holding some
// that are not (frames it repeated). They are matched as diff matches two
// files: first by the frames that stand out, whose timecode and recording
// date and time occur once in each (the anchors, kept only where they go
// forward in both); then, between anchors, in step, by what the frames read.
// A third transfer is matched in the same way to the tape the first two made.
#pragma once

#include <cstdint>
#include <vector>

#include "merge/frame_index.h"

namespace dvlog {

// The tape as the transfers show it: for each tape frame and each transfer,
// the index of that transfer's read of the frame, or -1.
struct merge_plan {
  int32_t transfers = 0;
  std::vector<int32_t> reads;  // transfers entries a tape frame

  int64_t frames() const { return transfers > 0 ? static_cast<int64_t>(reads.size()) / transfers : 0; }
  const int32_t* frame(int64_t p) const { return &reads[static_cast<size_t>(p * transfers)]; }
};

// Plans the merge of all transfers. Returns -1, or the first transfer that
// shares no frame with those before it (the plan is then of no use).
int32_t plan_merge(const std::vector<transfer_index>& transfers, merge_plan& plan);

}  // namespace dvlog
