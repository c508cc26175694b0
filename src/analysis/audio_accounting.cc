#include "analysis/audio_accounting.h"

#include <cstdlib>

#include "dv/dv_meta.h"
#include "dv/system.h"

namespace dvlog {

namespace {

int32_t magnitude(int32_t x) {
  // -2^31 has no positive counterpart in 32 bits; it counts as the largest.
  return x == INT32_MIN ? INT32_MAX : std::abs(x);
}

}  // namespace

int32_t samples_to_ms(int32_t samples, uint8_t rate_code) {
  const int64_t rate = AUDIO_RATE_HZ[rate_code & 3];
  if (rate == 0) return 0;
  // Tenths of a millisecond, then rounded: (tenths + 5) / 10, truncating.
  return static_cast<int32_t>((int64_t{samples} * 10000 / rate + 5) / 10);
}

void audio_accounting::account_frame(int32_t frames, uint8_t system_code, uint8_t rate_code, uint8_t frame_size,
                                     uint8_t size_at_last_status) {
  if (size_at_last_status != NO_INFO8 && size_at_last_status != frame_size) size_changed_ = true;
  size_sum_ += frame_size;

  // Samples carried (codes plus the minimum of every frame) against the whole
  // number of samples that the frames call for. Wrapping 32-bit arithmetic,
  // in unsigned types.
  const system_profile& system = system_of(system_code);
  rate_code &= 3;
  const int64_t expected = int64_t{frames} * AUDIO_RATE_HZ[rate_code] * system.frame_num / system.frame_den;
  const uint32_t carried = static_cast<uint32_t>(size_sum_) +
                           static_cast<uint32_t>(system.min_samples[rate_code]) * static_cast<uint32_t>(frames);
  offset_ = static_cast<int32_t>(carried - static_cast<uint32_t>(expected));
  if (magnitude(offset_) > max_offset_) max_offset_ = magnitude(offset_);
}

audio_verdict audio_accounting::verdict(uint8_t rate_code) const {
  return {!size_changed_ && max_offset_ == 0, offset_, samples_to_ms(offset_, rate_code), max_offset_,
          samples_to_ms(max_offset_, rate_code), rate_code};
}

}  // namespace dvlog
