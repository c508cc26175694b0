// Accounting of the audio samples carried per frame, and the verdict on them.
#pragma once

#include <cstdint>

#include "events/events.h"

namespace dvlog {

// In DV each frame carries a varying number of audio samples: the audio
// source pack's frame-size code plus a minimum by system and rate. Once per
// frame the samples carried so far are compared with the whole number that
// the frames counted so far call for: the difference is the audio offset,
// positive when the audio is ahead.
class audio_accounting {
 public:
  explicit audio_accounting(uint64_t size_sum = 0) : size_sum_(size_sum) {}

  // Accounts the frame whose first audio source pack gave `frame_size`;
  // `frames` have been counted so far. `size_at_last_status` is the frame
  // size as of the last status line (NO_INFO8 before any).
  void account_frame(int32_t frames, uint8_t system, uint8_t rate_code, uint8_t frame_size,
                     uint8_t size_at_last_status);

  int32_t offset() const { return offset_; }
  int32_t max_offset() const { return max_offset_; }
  // The verdict, with milliseconds at the rate of the last status line.
  audio_verdict verdict(uint8_t rate_code) const;

 private:
  uint64_t size_sum_;  // of the frame-size codes
  int32_t offset_ = 0;
  int32_t max_offset_ = 0;  // the largest magnitude
  bool size_changed_ = false;
};

// Whole milliseconds for a count of samples at a rate code, as the verdict
// gives them; 0 when the rate is 0.
int32_t samples_to_ms(int32_t samples, uint8_t rate_code);

}  // namespace dvlog
