#include "analysis/analysis.h"
#include "input/dif_format.h"

namespace dvlog {

namespace {

uint16_t le16(uint8_t lo, uint8_t hi) { return static_cast<uint16_t>(lo | hi << 8); }
uint32_t le32(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return static_cast<uint32_t>(b0) | static_cast<uint32_t>(b1) << 8 | static_cast<uint32_t>(b2) << 16 |
         static_cast<uint32_t>(b3) << 24;
}

void decode_pack(const uint8_t* p, dv_meta& out) {
  switch (p[0]) {
    case PACK_TIMECODE:  // frames, seconds, minutes, hours; the top bits are flags
      out.timecode = le32(p[PC1] & 0x3F, p[PC2] & 0x7F, p[PC3] & 0x7F, p[PC4] & 0x3F);
      packs_seen |= SEEN_TIMECODE;
      break;
    case PACK_VIDEO_SOURCE:
      out.src_flag = p[PC2] >> 7;
      out.system = (p[PC3] >> 5) & 1;  // the 50/60 bit
      out.video_type = p[PC3] & 0x1F;  // STYPE
      packs_seen |= SEEN_VIDEO_SOURCE;
      break;
    case PACK_VIDEO_SOURCE_CONTROL:
      out.aspect = p[PC2] & 0x07;            // display select mode
      out.interlaced = (p[PC3] >> 3) & 1;    // the interlace flag
      packs_seen |= SEEN_VIDEO_CONTROL;
      break;
    case PACK_REC_DATE:  // zone byte whole, day, weekday and month, year
      out.rec_date = le32(p[PC1], p[PC2] & 0x3F, p[PC3], p[PC4]);
      packs_seen |= SEEN_REC_DATE;
      break;
    case PACK_REC_TIME:  // frames, seconds, minutes, hours
      out.rec_time = le32(p[PC1] & 0x3F, p[PC2] & 0x7F, p[PC3] & 0x7F, p[PC4] & 0x3F);
      packs_seen |= SEEN_REC_TIME;
      break;
    case PACK_CAMERA_1:
      out.iris = p[PC1];
      out.gain = p[PC2] & 0x0F;  // automatic gain control code
      out.ap2 = le16(p[PC3], p[PC4]);
      packs_seen |= SEEN_CAMERA_1;
      break;
    case PACK_CAMERA_2:
      out.camera2 = le32(p[PC1], p[PC2], p[PC3], p[PC4]);
      break;
    case PACK_SHUTTER:
      out.shutter = le16(p[PC3], p[PC4] & 0x7F);  // 15-bit speed code
      out.sh2 = le16(p[PC1], p[PC2]);
      packs_seen |= SEEN_SHUTTER;
      break;
    default:  // no pack (0xFF), or one that is not logged
      break;
  }
}

}  // namespace

void decode_packs(const uint8_t* data, size_t stride, int count, dv_meta& out) {
  for (int i = 0; i < count; ++i) decode_pack(data + stride * static_cast<size_t>(i), out);
}

}  // namespace dvlog
