#include <cstdlib>

#include "analysis/analysis.h"
#include "analysis/audio.h"
#include "input/dif_format.h"
#include "report/output.h"

namespace dvlog {

namespace {

// Indexed by the two-bit sampling-rate code of the audio source pack.
constexpr uint32_t sample_rate_hz[4] = {48000, 44100, 32000, 0};

// A DV frame carries a varying number of samples: the pack's frame-size code
// plus this minimum, by system (525/60, 625/50) and rate code. Code 3 carries
// no audio.
constexpr int32_t min_samples_per_frame[2][4] = {
    {1580, 1452, 1053, 0},
    {1896, 1742, 1264, 0},
};

// The frame period in seconds, as numerator / denominator, by system.
struct fraction {
  int64_t num;
  int64_t den;
};
constexpr fraction frame_period[2] = {{1001, 30000}, {1, 25}};

int32_t magnitude(int32_t x) {
  // -2^31 has no positive counterpart in 32 bits; it counts as the largest.
  return x == INT32_MIN ? INT32_MAX : std::abs(x);
}

}  // namespace

uint32_t audio_rate_hz(uint8_t rate_code) { return rate_code < 4 ? sample_rate_hz[rate_code] : 0; }

int32_t samples_to_ms(int32_t samples, uint8_t rate_code) {
  const int64_t rate = audio_rate_hz(rate_code);
  if (rate == 0) return 0;
  // Tenths of a millisecond, then rounded: (tenths + 5) / 10, truncating.
  return static_cast<int32_t>((int64_t{samples} * 10000 / rate + 5) / 10);
}

void account_audio(const uint8_t* s) {
  const uint8_t* pack = s + audio_block(0) + AUDIO_PACK;
  if (pack[0] != PACK_AUDIO_SOURCE) return;

  current.audio_unlocked = pack[PC1] >> 7;       // LF: audio not locked to video
  current.audio_frame_size = pack[PC1] & 0x3F;   // samples in this frame - minimum
  current.audio_bits_code = pack[PC4] & 0x03;    // quantisation
  current.audio_rate_code = (pack[PC4] >> 3) & 0x03;  // sampling frequency
  current.emphasis_off = pack[PC4] >> 7;
  packs_seen |= SEEN_AUDIO_SOURCE;

  if (frame_audio_done) return;
  frame_audio_done = true;

  // Compared with the frame size at the last status line, not the last frame.
  if (previous.audio_frame_size != NO_INFO8 && previous.audio_frame_size != current.audio_frame_size)
    audio_size_changed = true;

  // Without a video source pack, the 50/60 bit of the audio pack tells the system.
  if (!(packs_seen & SEEN_VIDEO_SOURCE)) current.system = (pack[PC3] >> 5) & 1;
  const int system = current.system & 1;
  const uint8_t rate_code = current.audio_rate_code;

  audio_size_sum += current.audio_frame_size;

  // Samples carried (codes plus the minimum of every frame) against the whole
  // number of samples that frame_count frames call for. Wrapping 32-bit
  // arithmetic, in unsigned types.
  const int64_t expected = int64_t{frame_count} * audio_rate_hz(rate_code) * frame_period[system].num /
                           frame_period[system].den;
  const uint32_t carried = static_cast<uint32_t>(audio_size_sum) +
                           static_cast<uint32_t>(min_samples_per_frame[system][rate_code]) *
                               static_cast<uint32_t>(frame_count);
  audio_offset = static_cast<int32_t>(carried - static_cast<uint32_t>(expected));

  if (magnitude(audio_offset) > audio_offset_max) audio_offset_max = magnitude(audio_offset);
}

void print_audio_verdict() {
  if (previous.audio_rate_code == NO_INFO8) return;  // no status line carried audio
  if (!audio_size_changed && audio_offset_max == 0) {
    out_printf("Audio is locked\n");
    return;
  }
  const uint8_t rate_code = previous.audio_rate_code;
  out_printf("Audio offset: final=%d (%d ms), max=%d (%d ms)\n", audio_offset,
             samples_to_ms(audio_offset, rate_code), audio_offset_max,
             samples_to_ms(audio_offset_max, rate_code));
}

}  // namespace dvlog
