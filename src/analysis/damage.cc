#include "analysis/damage.h"

#include "dv/dif.h"
#include "dv/errors.h"
#include "dv/recognizer.h"

namespace dvlog {

namespace {

// One head reads a sequence's worth of blocks and more: 135 video blocks.
constexpr int64_t ONE_HEAD_MINIMUM = VIDEO_BLOCKS;

}  // namespace

void damage_counts::add(const damage_counts& o) {
  video_concealed += o.video_concealed;
  video_errors += o.video_errors;
  video_unknown += o.video_unknown;
  video_even += o.video_even;
  video_odd += o.video_odd;
  audio_error_samples += o.audio_error_samples;
  audio_error_blocks += o.audio_error_blocks;
  sequences_missing += o.sequences_missing;
}

void count_sequence_damage(const uint8_t* s, frame_tally& tally, uint8_t& quantisation) {
  // The number of the sequence within its frame and channel.
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  const unsigned number = sequence_number(id1);
  tally.sequences_seen |= uint64_t{1} << (16 * channel_number(id1) + number);

  int64_t damaged = 0;
  damage_counts& d = tally.damage;
  for (int k = 0; k < VIDEO_BLOCKS; ++k) {
    const uint8_t* block = s + video_block(k);
    if (!is_video_block_id(block[ID0])) continue;
    ++tally.video_blocks;
    switch (STA_MEANING[block[VIDEO_STA] >> 4]) {
      case block_status::intact:
        continue;
      case block_status::concealed:
        ++d.video_concealed;
        break;
      case block_status::error:
        ++d.video_errors;
        break;
      case block_status::unknown:
        ++d.video_unknown;
        break;
    }
    ++damaged;
  }
  (number % 2 == 0 ? d.video_even : d.video_odd) += damaged;

  // The quantisation of the audio comes from the last audio source pack.
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (is_audio_block_id(block[ID0]) && block[AUDIO_PACK] == PACK_AUDIO_SOURCE)
      quantisation = block[AUDIO_PACK + PC4] & 0x07;  // QU
  }
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (!is_audio_block_id(block[ID0])) continue;
    ++tally.audio_blocks;
    const int errors = audio_error_samples(block + AUDIO_DATA, quantisation);
    d.audio_error_samples += errors;
    d.audio_error_blocks += errors > 0;
  }
}

int64_t sequences_missing(uint64_t seen, int32_t per_channel, int32_t channels) {
  int64_t missing = 0;
  for (int32_t c = 0; c < channels && c < 4; ++c)
    for (int32_t n = 0; n < per_channel && n < 16; ++n) missing += !(seen & (uint64_t{1} << (16 * c + n)));
  return missing;
}

void damaged_frame_numbers::set(int64_t n, bool on) {
  const uint64_t bit = uint64_t{1} << (n % 64);
  uint64_t& word = bits_[(n % WINDOW) / 64];
  word = on ? word | bit : word & ~bit;
}

void damaged_frame_numbers::mark(int32_t number) {
  const int64_t n = number < 0 ? 0 : number;
  // Numbers newly in the window start unmarked.
  for (int64_t k = highest_ + 1; k <= n && k <= highest_ + WINDOW; ++k) set(k, false);
  if (n > highest_) highest_ = n;
  if (n <= highest_ - WINDOW || test(n)) return;  // too far back to tell, or marked
  set(n, true);
  ++marked_;
}

void damaged_frame_numbers::forget_above(int32_t number) {
  const int64_t n = number < 0 ? 0 : number;
  if (n >= highest_) return;
  int64_t forgotten = 0;
  for (int64_t k = highest_; k > n && k > highest_ - WINDOW; --k) {
    forgotten += test(k);
    set(k, false);
  }
  // Beyond the window: as many as there may be, no more than were marked.
  if (highest_ - WINDOW > n) forgotten += highest_ - WINDOW - n;
  if (forgotten > marked_) forgotten = marked_;
  marked_ -= forgotten;
  highest_ = n;
}

bool one_head(const damage_counts& d) {
  return d.video_damaged() >= ONE_HEAD_MINIMUM && (d.video_even == 0 || d.video_odd == 0);
}

bool damage_runs::add(const frame_event& f, damage_run_event* ended) {
  if (f.damage.any()) {
    totals_.sum.add(f.damage);
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
  run_.one_head = one_head(run_.damage);
  *ended = run_;
  return true;
}

}  // namespace dvlog
