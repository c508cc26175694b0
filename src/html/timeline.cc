#include "html/timeline.h"

#include <algorithm>

#include "dv/dif.h"

namespace dvlog {

void slice::add(const slice& later) {
  if (frames == 0) {
    *this = later;
    return;
  }
  if (later.frames == 0) return;
  frames += later.frames;
  first_frame = std::min(first_frame, later.first_frame);  // a frame out of order joins the last slice
  last_frame = std::max(last_frame, later.last_frame);
  last_timecode = later.last_timecode;
  video_blocks += later.video_blocks;
  concealed += later.concealed;
  errors += later.errors;
  sequences_missing += later.sequences_missing;
  audio_blocks += later.audio_blocks;
  audio_error_blocks += later.audio_error_blocks;
  worst_video.keep_worse(later.worst_video);
  worst_audio.keep_worse(later.worst_audio);
  offset_min = std::min(offset_min, later.offset_min);
  offset_max = std::max(offset_max, later.offset_max);
  offset_last = later.offset_last;
}

void timeline::merge_pairs() {
  for (int i = 0; i < SLICES / 2; ++i) {
    slice merged = slices_[2 * i];
    merged.add(slices_[2 * i + 1]);
    slices_[i] = merged;
  }
  for (int i = SLICES / 2; i < SLICES; ++i) slices_[i] = slice{};
  frames_per_slice_ *= 2;
  used_ = (used_ + 1) / 2;
}

void timeline::add(int32_t frame, const frame_event& f) {
  if (used_ == 0 && slices_[0].frames == 0) first_frame_ = frame;
  // Frames are placed by their number; one that comes out of order (the
  // count restarted from sequences) goes with the last slice.
  int64_t index = (int64_t{frame} - first_frame_) / frames_per_slice_;
  if (index < used_ - 1 || index < 0) index = std::max(used_ - 1, 0);
  while (index >= SLICES) {
    merge_pairs();
    index = (int64_t{frame} - first_frame_) / frames_per_slice_;
  }
  const damage_counts& d = f.damage;
  slice s;
  s.frames = 1;
  s.first_frame = s.last_frame = frame;
  s.first_timecode = s.last_timecode = f.stamp.timecode;
  s.video_blocks = f.video_blocks;
  s.concealed = d.video_concealed;
  s.errors = d.video_errors + d.video_unknown;
  s.sequences_missing = d.sequences_missing;
  s.audio_blocks = f.audio_blocks;
  s.audio_error_blocks = d.audio_error_blocks;
  // A missing sequence takes its video blocks with it: they count as damaged
  // blocks of the frame.
  const int64_t missing = d.sequences_missing * VIDEO_BLOCKS;
  if (s.concealed + s.errors + missing > 0)
    s.worst_video = {frame, f.stamp.timecode, s.concealed + s.errors + missing, s.video_blocks + missing, s.concealed,
                     missing};
  if (s.audio_error_blocks > 0) s.worst_audio = {frame, f.stamp.timecode, s.audio_error_blocks, s.audio_blocks, 0, 0};
  s.offset_min = s.offset_max = s.offset_last = f.audio_offset;
  slices_[index].add(s);
  used_ = std::max(used_, static_cast<int>(index) + 1);
}

}  // namespace dvlog
