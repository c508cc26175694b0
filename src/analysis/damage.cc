#include "analysis/damage.h"

#include "dv/dif.h"

namespace dvlog {

namespace {

// One head reads a sequence's worth of blocks and more: 135 video blocks,
// and the pattern holds over this many frames.
constexpr int64_t ONE_HEAD_MINIMUM = VIDEO_BLOCKS;
constexpr int64_t ONE_HEAD_FRAMES = 3;

}  // namespace

bool one_head(const damage_counts& d, int64_t frames) {
  return frames >= ONE_HEAD_FRAMES && d.video_damaged() >= ONE_HEAD_MINIMUM && (d.video_even == 0 || d.video_odd == 0);
}

bool damage_runs::add(const frame_event& f, damage_run_event* ended) {
  if (f.damage.any()) {
    if (!open_) {
      open_ = true;
      run_ = damage_run_event{};
      run_.at = f.at;
      run_.first = f.stamp;
    }
    run_.last_timecode = f.stamp.timecode;
    run_.last_drop_frame = f.stamp.drop_frame;
    run_.last_frame = f.at.frame;
    run_.frames += 1;
    run_.damage.add(f.damage);
    return false;
  }
  return finish(ended);
}

bool damage_runs::finish(damage_run_event* ended) {
  if (!open_) return false;
  open_ = false;
  run_.one_head = one_head(run_.damage, run_.frames);
  *ended = run_;
  return true;
}

}  // namespace dvlog
