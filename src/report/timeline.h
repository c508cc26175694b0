// The frames of a whole tape in a fixed number of slices: when they are all
// used, neighbours merge in pairs and each slice covers twice as many frames.
#pragma once

#include <cstdint>

#include "analysis/events.h"

namespace dvlog {

struct slice {
  int64_t frames = 0;
  uint32_t first_timecode = 0xFFFFFFFF;  // of its first frame
  int64_t video_blocks = 0;
  int64_t concealed = 0;
  int64_t errors = 0;  // in error or of unknown status: damage not hidden
  int64_t audio_blocks = 0;
  int64_t audio_error_blocks = 0;
  int32_t offset_min = 0, offset_max = 0, offset_last = 0;  // audio offset

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
