// Which reads of the transfers are one tape frame, in tape order.
//
// The tape is one line, and every transfer a walk along it that may drop a
// frame, repeat one, or go back over a stretch it passed (the deck rewound to
// read a bad spot again, a capture put together out of order). So each
// transfer is cut where it goes back, or where the deck left playback speed,
// into stretches that go forward; each stretch is matched to the tape made so
// far as diff matches two files: first by the frames that stand out, whose
// timecode and recording date and time, or whose whole content, occur once
// on each side (the anchors, kept only where they go forward in both); then,
// between anchors, in step, by what the frames read. A stretch that goes back
// over frames its transfer read already is another pass: another read of
// those tape frames, used block by block like another transfer's.
#pragma once

#include <cstdint>
#include <vector>

#include "dv/dv_meta.h"
#include "merge/frame_index.h"

namespace dvlog {

// The tape as the transfers show it: for each tape frame and each pass (a
// column), the index of that pass's read of the frame in its transfer, or -1.
// Columns are in the order of the transfers, and of their passes within each.
struct merge_plan {
  int32_t columns = 0;
  std::vector<int32_t> column_transfer;  // the transfer each pass reads
  std::vector<int32_t> reads;            // `columns` entries a tape frame
  std::vector<int64_t> repeated;         // by transfer: reads left out, repeating a frame taken

  int64_t frames() const { return columns > 0 ? static_cast<int64_t>(reads.size()) / columns : 0; }
  const int32_t* frame(int64_t p) const { return &reads[static_cast<size_t>(p * columns)]; }
};

// Why transfers cannot be merged.
struct merge_refusal {
  enum class reason { none, shares_nothing, differs };
  reason why = reason::none;
  int32_t transfer = -1;  // the one refused
  int32_t other = -1;     // the one it differs from, or shares nothing with
  uint32_t timecode = NO_INFO;  // where they differ
  bool drop_frame = false;      //   counted with drop-frame numbering
};

// Plans the merge of all transfers.
merge_refusal plan_merge(const std::vector<transfer_index>& transfers, merge_plan& plan);

}  // namespace dvlog
