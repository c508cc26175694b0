// The metadata decoded from the packs of a DIF sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

// Every field holds all ones (NO_INFO) until a pack sets it.
constexpr uint8_t NO_INFO8 = 0xFF;
constexpr uint16_t NO_INFO16 = 0xFFFF;
constexpr uint32_t NO_INFO = 0xFFFFFFFF;

// A timecode or time pack whose bytes are all 0xFF decodes, after masking, to
// this word; a blank date pack to DATE_BLANK. Both mean "no information".
constexpr uint32_t TIME_BLANK = 0x3F7F7F3F;
constexpr uint32_t DATE_BLANK = 0xFFFF3FFF;

constexpr bool has_time(uint32_t word) { return word != NO_INFO && word != TIME_BLANK; }
constexpr bool has_date(uint32_t word) { return word != NO_INFO && word != DATE_BLANK; }

struct dv_meta {
  uint8_t iris;              // camera 1 pack: aperture code
  uint8_t gain;              // camera 1 pack: gain code
  uint16_t ap2;              // camera 1 pack: raw PC3, PC4
  uint16_t shutter;          // shutter pack: speed in units of 1/15600 s
  uint16_t sh2;              // shutter pack: raw PC1, PC2
  uint32_t camera2;          // camera 2 pack: raw payload
  uint8_t system;            // 0: 525/60 (NTSC), 1: 625/50 (PAL)
  uint8_t src_flag;          // video source pack: top bit of PC2
  uint8_t video_type;        // video source pack: signal type
  uint8_t aspect;            // video source control pack: display aspect
  uint8_t interlaced;        // video source control pack: interlace flag
  uint8_t audio_unlocked;    // audio source pack: audio not locked to video
  uint8_t audio_frame_size;  // audio source pack: samples in frame - minimum
  uint8_t audio_rate_code;   // 0: 48 kHz, 1: 44.1 kHz, 2: 32 kHz, 3: none
  uint8_t audio_bits_code;   // 0: 16, 1: 12, 2: 20 bits, 3: none
  uint8_t emphasis_off;      // audio source pack: emphasis flag (1 = off)
  uint32_t timecode;         // BCD: frames, seconds, minutes, hours (byte 0 to 3)
  uint32_t rec_date;         // BCD: time zone, day, weekday and month, year
  uint32_t rec_time;         // BCD: frames, seconds, minutes, hours
  // Read along, never compared or shown in the text log.
  uint8_t timecode_drop_frame;  // timecode pack: drop-frame flag
  uint8_t audio_pack_system;    // audio source pack: its own 50/60 bit
  uint8_t audio_type;           // audio source pack: STYPE, the audio blocks' layout
};

// Bits of packs_seen: one for each kind of pack ever decoded.
enum pack_seen_bit : uint32_t {
  SEEN_TIMECODE = 0x001,
  SEEN_VIDEO_SOURCE = 0x002,
  SEEN_VIDEO_CONTROL = 0x004,
  SEEN_REC_DATE = 0x008,
  SEEN_REC_TIME = 0x010,
  SEEN_CAMERA_1 = 0x020,
  SEEN_SHUTTER = 0x040,
  SEEN_AUDIO_SOURCE = 0x080,
  SEEN_ALL = 0x0FF,  // the kinds that the first status line waits for
};

void meta_reset(dv_meta& meta);

// Where a pack was found: the audio packs count only in audio blocks.
enum class pack_area { subcode_or_vaux, audio };

// What one pack told, besides the fields it set in the record.
struct pack_result {
  uint32_t seen;          // its bit of packs_seen, 0 for none
  bool recording_start;   // an audio source control pack with REC ST clear
};

// Decodes the pack whose ID is at p[0] into `out`.
pack_result decode_pack(const uint8_t* p, pack_area area, dv_meta& out);

// Decodes `count` packs, the first with its ID at data[0] and each next one
// `stride` bytes further; returns the bits of the kinds met.
uint32_t decode_packs(const uint8_t* data, size_t stride, int count, dv_meta& out);

}  // namespace dvlog
