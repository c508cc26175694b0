// Accounting of the audio samples carried per frame, and the verdict on them.
#pragma once

#include <cstdint>

namespace dvlog {

// Reads the audio source pack of audio block 0 into `current` and, once per
// frame, brings audio_offset up to date.
void account_audio(const uint8_t* s);

// The summary's last line: whether audio stayed locked to the frames.
void print_audio_verdict();

// Samples per second for an audio rate code; 0 for code 3 (no audio) and for
// codes no pack can produce.
uint32_t audio_rate_hz(uint8_t rate_code);

// Whole milliseconds for a count of samples at a rate code, as the verdict
// prints them; 0 when the rate is 0.
int32_t samples_to_ms(int32_t samples, uint8_t rate_code);

}  // namespace dvlog
