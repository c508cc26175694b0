#include "support/dif_builder.h"

namespace dvtest {

namespace {

constexpr size_t BLOCK = 80;

void set_ids(uint8_t* block, uint8_t id0, uint8_t id1, uint8_t id2) {
  block[0] = id0;
  block[1] = id1;
  block[2] = id2;
}

void put_pack(uint8_t* at, pack p) {
  at[0] = p.id;
  at[1] = p.pc1;
  at[2] = p.pc2;
  at[3] = p.pc3;
  at[4] = p.pc4;
}

}  // namespace

uint8_t bcd(int value) { return static_cast<uint8_t>((value / 10) << 4 | value % 10); }

bytes make_sequence(uint8_t dseq) {
  bytes s(SEQ, 0xFF);
  const uint8_t id1 = static_cast<uint8_t>(dseq << 4 | 0x07);
  set_ids(&s[0], 0x1F, id1, 0x00);  // header
  for (int b = 0; b < 2; ++b) set_ids(&s[(1 + b) * BLOCK], 0x3F, id1, static_cast<uint8_t>(b));  // subcode
  for (int b = 0; b < 3; ++b) set_ids(&s[(3 + b) * BLOCK], 0x56, id1, static_cast<uint8_t>(b));  // VAUX
  // Then 9 rows of one audio block and 15 video blocks.
  uint8_t video_number = 0;
  for (int row = 0; row < 9; ++row) {
    size_t first = (6 + 16 * row) * BLOCK;
    set_ids(&s[first], 0x76, id1, static_cast<uint8_t>(row));
    for (int v = 1; v <= 15; ++v) {
      uint8_t* block = &s[first + v * BLOCK];
      set_ids(block, 0x96, id1, video_number++);
      for (size_t k = 3; k < BLOCK; ++k) block[k] = static_cast<uint8_t>(k * 7 + v);
      block[3] &= 0x0F;  // STA 0: a block read intact
    }
  }
  // Subcode sync blocks: two ID bytes and a parity byte before each pack.
  for (int b = 0; b < 2; ++b)
    for (int i = 0; i < 6; ++i) {
      uint8_t* sync = &s[(1 + b) * BLOCK + 3 + 8 * i];
      sync[0] = 0x8F;
      sync[1] = static_cast<uint8_t>(0xF0 | i);
      sync[2] = 0xFF;
    }
  return s;
}

bytes make_stream(size_t n, bool pal) {
  bytes out;
  out.reserve(n * SEQ);
  const size_t per_frame = pal ? 12 : 10;
  for (size_t i = 0; i < n; ++i) {
    bytes s = make_sequence(static_cast<uint8_t>(i % per_frame));
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

void put_subcode_pack(uint8_t* seq, int block, int index, pack p) {
  put_pack(seq + (1 + block) * BLOCK + 3 + 8 * index + 3, p);
}
void put_vaux_pack(uint8_t* seq, int block, int index, pack p) { put_pack(seq + (3 + block) * BLOCK + 3 + 5 * index, p); }
void put_audio_pack(uint8_t* seq, int audio_block, pack p) { put_pack(seq + (6 + 16 * audio_block) * BLOCK + 3, p); }

pack timecode_pack(int h, int m, int s, int f) { return {0x13, bcd(f), bcd(s), bcd(m), bcd(h)}; }

pack video_source_pack(bool pal, uint8_t video_type) {
  return {0x60, 0xFF, 0xFF, static_cast<uint8_t>((pal ? 0x20 : 0x00) | (video_type & 0x1F) | 0xC0), 0xFF};
}

pack video_control_pack(uint8_t aspect, bool interlaced) {
  return {0x61, 0xFF, static_cast<uint8_t>(0xF8 | (aspect & 7)), static_cast<uint8_t>(interlaced ? 0xFC : 0xF4),
          0xFF};
}

pack rec_date_pack(uint8_t zone, int day, int weekday, int month, int yy) {
  return {0x62, zone, bcd(day), static_cast<uint8_t>(weekday << 5 | bcd(month)), bcd(yy)};
}

pack rec_time_pack(int h, int m, int s, uint8_t frames_byte) { return {0x63, frames_byte, bcd(s), bcd(m), bcd(h)}; }

pack camera1_pack(uint8_t iris, uint8_t gain, uint16_t ap2) {
  return {0x70, iris, static_cast<uint8_t>(0xF0 | gain), static_cast<uint8_t>(ap2), static_cast<uint8_t>(ap2 >> 8)};
}

pack shutter_pack(uint16_t shutter, uint16_t sh2) {
  return {0x7F, static_cast<uint8_t>(sh2), static_cast<uint8_t>(sh2 >> 8), static_cast<uint8_t>(shutter),
          static_cast<uint8_t>(0x80 | shutter >> 8)};
}

pack audio_source_pack(uint8_t frame_size, uint8_t rate_code, bool pal, bool locked, uint8_t bits_code,
                       bool emphasis_off) {
  return {0x50, static_cast<uint8_t>((locked ? 0x00 : 0x80) | 0x40 | (frame_size & 0x3F)), 0x00,
          static_cast<uint8_t>(0xC0 | (pal ? 0x20 : 0x00)),
          static_cast<uint8_t>((emphasis_off ? 0x80 : 0x00) | (rate_code & 3) << 3 | (bits_code & 3))};
}

pack audio_control_pack(bool recording_start) {
  return {0x51, 0x1C, static_cast<uint8_t>(recording_start ? 0x4F : 0xCF), 0xF8, 0xFF};
}

}  // namespace dvtest
