#include "dv/dv_meta.h"
#include "dv/dif.h"

namespace dvlog {

namespace {

uint16_t le16(uint8_t lo, uint8_t hi) { return static_cast<uint16_t>(lo | hi << 8); }
uint32_t le32(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return static_cast<uint32_t>(b0) | static_cast<uint32_t>(b1) << 8 | static_cast<uint32_t>(b2) << 16 |
         static_cast<uint32_t>(b3) << 24;
}

}  // namespace

void meta_reset(dv_meta& meta) {
  meta.iris = meta.gain = NO_INFO8;
  meta.ap2 = meta.shutter = meta.sh2 = NO_INFO16;
  meta.camera2 = NO_INFO;
  meta.system = meta.src_flag = meta.video_type = meta.aspect = meta.interlaced = NO_INFO8;
  meta.audio_unlocked = meta.audio_frame_size = meta.audio_rate_code = NO_INFO8;
  meta.audio_bits_code = meta.emphasis_off = NO_INFO8;
  meta.timecode = meta.rec_date = meta.rec_time = NO_INFO;
  meta.timecode_drop_frame = meta.audio_pack_system = meta.audio_type = NO_INFO8;
}

pack_result decode_pack(const uint8_t* p, pack_area area, dv_meta& out) {
  // Audio blocks carry the audio packs; subcode and VAUX blocks the others.
  const bool in_audio = area == pack_area::audio;
  const bool audio_pack = p[0] == PACK_AUDIO_SOURCE || p[0] == PACK_AUDIO_SOURCE_CONTROL;
  if (in_audio != audio_pack) return {};
  switch (p[0]) {
    case PACK_TIMECODE:  // frames, seconds, minutes, hours; the top bits are flags
      out.timecode = le32(p[PC1] & 0x3F, p[PC2] & 0x7F, p[PC3] & 0x7F, p[PC4] & 0x3F);
      out.timecode_drop_frame = (p[PC1] >> 6) & 1;  // DF
      return {SEEN_TIMECODE, false};
    case PACK_AUDIO_SOURCE:
      out.audio_unlocked = p[PC1] >> 7;            // LF: audio not locked to video
      out.audio_frame_size = p[PC1] & 0x3F;        // samples in this frame - minimum
      out.audio_pack_system = (p[PC3] >> 5) & 1;   // the 50/60 bit
      out.audio_type = p[PC3] & 0x1F;              // STYPE: two, four or eight channels
      out.audio_bits_code = p[PC4] & 0x03;         // quantisation
      out.audio_rate_code = (p[PC4] >> 3) & 0x03;  // sampling frequency
      out.emphasis_off = p[PC4] >> 7;
      return {SEEN_AUDIO_SOURCE, false};
    case PACK_AUDIO_SOURCE_CONTROL:
      return {0, !(p[PC2] & 0x80)};  // REC ST is 0 in the frames that start a recording
    case PACK_VIDEO_SOURCE:
      out.src_flag = p[PC2] >> 7;
      out.system = (p[PC3] >> 5) & 1;  // the 50/60 bit
      out.video_type = p[PC3] & 0x1F;  // STYPE
      return {SEEN_VIDEO_SOURCE, false};
    case PACK_VIDEO_SOURCE_CONTROL:
      out.aspect = p[PC2] & 0x07;          // display select mode
      out.interlaced = (p[PC3] >> 3) & 1;  // the interlace flag
      return {SEEN_VIDEO_CONTROL, false};
    case PACK_REC_DATE:  // zone byte whole, day, weekday and month, year
      out.rec_date = le32(p[PC1], p[PC2] & 0x3F, p[PC3], p[PC4]);
      return {SEEN_REC_DATE, false};
    case PACK_REC_TIME:  // frames, seconds, minutes, hours
      out.rec_time = le32(p[PC1] & 0x3F, p[PC2] & 0x7F, p[PC3] & 0x7F, p[PC4] & 0x3F);
      return {SEEN_REC_TIME, false};
    case PACK_CAMERA_1:
      out.iris = p[PC1];
      out.gain = p[PC2] & 0x0F;  // automatic gain control code
      out.ap2 = le16(p[PC3], p[PC4]);
      return {SEEN_CAMERA_1, false};
    case PACK_CAMERA_2:
      out.camera2 = le32(p[PC1], p[PC2], p[PC3], p[PC4]);
      return {};
    case PACK_SHUTTER:
      out.shutter = le16(p[PC3], p[PC4] & 0x7F);  // 15-bit speed code
      out.sh2 = le16(p[PC1], p[PC2]);
      return {SEEN_SHUTTER, false};
    default:  // no pack (0xFF), or one that is not logged
      return {};
  }
}

uint32_t decode_packs(const uint8_t* data, size_t stride, int count, dv_meta& out) {
  uint32_t seen = 0;
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = data + stride * static_cast<size_t>(i);
    if (p[0] == PACK_NONE) continue;  // most slots of most streams are empty
    seen |= decode_pack(p, pack_area::subcode_or_vaux, out).seen;
  }
  return seen;
}

}  // namespace dvlog
