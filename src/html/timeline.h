// The frames of a whole tape in a fixed number of slices: when they are all
// used, neighbours merge in pairs and each slice covers twice as many frames.
#pragma once

#include <cstdint>

#include "events/events.h"

namespace dvlog {

// The most damaged frame of a slice, by its share of damaged blocks. A lane
// draws this share rather than the slice's mean, so that a one-frame dropout
// stands as tall in a slice of 64 frames as in a slice of one.
struct worst_frame {
  int32_t frame = 0;
  uint32_t timecode = 0xFFFFFFFF;
  int64_t damaged = 0, blocks = 0;  // damaged 0: no frame of the slice is
  int64_t concealed = 0;  // video: the parts of `damaged` concealed
  int64_t missing = 0;    //   and in sequences the frame lacks

  double share() const { return blocks > 0 ? static_cast<double>(damaged) / static_cast<double>(blocks) : 0.0; }
  // Keeps the other when it is worse; of two alike, the earlier.
  void keep_worse(const worst_frame& o) {
    if (o.damaged > 0 && (damaged == 0 || o.share() > share())) *this = o;
  }
};

struct slice {
  int64_t frames = 0;
  int32_t first_frame = 0, last_frame = 0;
  uint32_t first_timecode = 0xFFFFFFFF, last_timecode = 0xFFFFFFFF;
  // Totals of all its frames.
  int64_t video_blocks = 0;
  int64_t concealed = 0;
  int64_t errors = 0;  // in error or of unknown status: damage not hidden
  int64_t sequences_missing = 0;
  int64_t audio_blocks = 0;
  int64_t audio_error_blocks = 0;
  worst_frame worst_video, worst_audio;
  int32_t offset_min = 0, offset_max = 0, offset_last = 0;  // audio offset, samples

  void add(const slice& later);
};

class timeline {
 public:
  static constexpr int SLICES = 2048;

  // The frame with this number (from 1, as frames are counted), in order.
  void add(int32_t frame, const frame_event& f);

  int used() const { return used_; }
  int32_t frames_per_slice() const { return frames_per_slice_; }
  int32_t first_frame() const { return first_frame_; }
  const slice& at(int i) const { return slices_[i]; }

 private:
  void merge_pairs();

  slice slices_[SLICES];
  int used_ = 0;
  int32_t frames_per_slice_ = 1;
  int32_t first_frame_ = 0;  // the frame that opens slice 0
};

}  // namespace dvlog
