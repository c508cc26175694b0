// The two DV systems, the signal types, and the codes of the audio source
// pack: the tables that frame counting, audio accounting and every report
// share.
#pragma once

#include <cstdint>

namespace dvlog {

// The 50/60 bit of the video source pack (and of the audio source pack)
// selects the system: 0 for 525 lines at 29.97 frames a second, 1 for 625
// lines at 25.
struct system_profile {
  const char* name;             // as the log shows it
  int32_t sequences_per_frame;  // of one channel
  int64_t frame_num;            // the frame period in seconds,
  int64_t frame_den;            //   as numerator / denominator
  int32_t min_samples[4];       // fewest audio samples in a frame, by rate code
  int32_t frames_per_second;    // of the timecode
};

constexpr system_profile SYSTEMS[2] = {
    {"NTSC", 10, 1001, 30000, {1580, 1452, 1053, 0}, 30},
    {"PAL", 12, 1, 25, {1896, 1742, 1264, 0}, 25},
};

// Any code a pack can carry, NO_INFO included, picks one of the two by its
// low bit.
constexpr const system_profile& system_of(uint8_t system) { return SYSTEMS[system & 1]; }

// Signal type (STYPE) of the video source pack. DV50 and DVCPRO HD record a
// picture on two or four channels, each with its own run of 10 or 12
// sequences. DVCPRO HD 720p records 60 (or 50) progressive pictures a second
// under a timecode of 30 (or 25): a frame, as its timecode counts frames and
// as dvlog does, is a pair of pictures.
struct signal_type {
  uint8_t code;
  const char* name;
  int32_t channels;
  int32_t pictures;  // in a frame of the timecode
};

constexpr signal_type SIGNAL_TYPES[] = {
    {0x00, "DV25", 1, 1},
    {0x04, "DV50", 2, 1},
    {0x14, "DVCPROHD_1080i", 4, 1},
    {0x18, "DVCPROHD_720p", 2, 2},
};

// The named type of a code, or nullptr.
constexpr const signal_type* find_signal_type(uint8_t code) {
  for (const signal_type& t : SIGNAL_TYPES)
    if (t.code == code) return &t;
  return nullptr;
}

// The channels of a frame: those of its signal type, but no more than the
// stream has been seen to carry, so that one damaged pack naming another type
// does not change how a DV25 stream is counted.
constexpr int32_t channels_of(uint8_t video_type, int32_t channels_seen) {
  const signal_type* t = find_signal_type(video_type);
  const int32_t channels = t ? t->channels : 1;
  return channels < channels_seen ? channels : channels_seen > 0 ? channels_seen : 1;
}

// Pictures in one frame of a signal type.
constexpr int32_t pictures_of(uint8_t video_type) {
  const signal_type* t = find_signal_type(video_type);
  return t ? t->pictures : 1;
}

// DIF sequences in one frame of the given system, signal type and channels seen.
constexpr int32_t sequences_per_frame(uint8_t system, uint8_t video_type, int32_t channels_seen) {
  return system_of(system).sequences_per_frame * channels_of(video_type, channels_seen) * pictures_of(video_type);
}

// Display select mode of the video source control pack; other codes show as 4:3.
constexpr const char* aspect_name(uint8_t code) {
  return code == 2 || code == 7 ? "16:9" : code == 3 ? "Letterbox" : "4:3";
}

// Codes of the audio source pack, indexed by their two-bit values.
constexpr uint32_t AUDIO_RATE_HZ[4] = {48000, 44100, 32000, 0};  // 3: no audio
constexpr const char* AUDIO_RATE_NAMES[4] = {"48kHz", "44.1kHz", "32kHz", ""};
constexpr int AUDIO_BITS[4] = {16, 12, 20, 0};

// The audio channels a frame carries. STYPE of the audio source pack gives the
// stereo pairs of the signal type: one for DV25, two for DV50, four for DVCPRO
// HD; DV25 at 32 kHz in 12 bits records a second pair in the other half of
// the frame's sequences. 0: unknown.
constexpr int AUDIO_PAIRS_BY_TYPE[32] = {1, 0, 2, 4};
constexpr uint8_t audio_channels_of(uint8_t audio_type, uint8_t rate_code, uint8_t bits_code) {
  if (audio_type == 0xFF) return 0;
  const int pairs = AUDIO_PAIRS_BY_TYPE[audio_type & 0x1F];
  const bool two_pairs_of_12_bits = pairs == 1 && (rate_code & 3) == 2 && (bits_code & 3) == 1;
  return static_cast<uint8_t>(2 * (two_pairs_of_12_bits ? 2 : pairs));
}

}  // namespace dvlog
