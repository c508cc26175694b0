// Builds DIF sequences and streams for tests: valid block IDs everywhere, no
// packs (0xFF) until a test places them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dvtest {

using bytes = std::vector<uint8_t>;

constexpr size_t SEQ = 12000;

struct pack {
  uint8_t id, pc1, pc2, pc3, pc4;
};

// A 12000-byte sequence with header, subcode, VAUX, audio and video block IDs,
// ID1 = sequence number << 4 | 0x07, block numbers in ID2, and every pack
// 0xFF. `dseq` is the sequence number within its frame (0 to 11).
bytes make_sequence(uint8_t dseq = 0);

// `n` sequences back to back, numbered 0 to 9 (or 11 when pal) as in frames.
bytes make_stream(size_t n, bool pal = false);

// Places a pack in a sequence that starts at seq.
void put_subcode_pack(uint8_t* seq, int block, int index, pack p);  // block 0-1, index 0-5
void put_vaux_pack(uint8_t* seq, int block, int index, pack p);     // block 0-2, index 0-14
void put_audio_pack(uint8_t* seq, int audio_block, pack p);         // audio block 0-8

// Packs in their DV forms. Values given as decimal are stored as BCD.
pack timecode_pack(int hours, int minutes, int seconds, int frames);
pack video_source_pack(bool pal, uint8_t video_type = 0);
pack video_control_pack(uint8_t aspect, bool interlaced = true);
pack rec_date_pack(uint8_t zone, int day, int weekday, int month, int yy);
pack rec_time_pack(int hours, int minutes, int seconds, uint8_t frames_byte = 0xFF);
pack camera1_pack(uint8_t iris, uint8_t gain, uint16_t ap2 = 0xFFFF);
pack shutter_pack(uint16_t shutter, uint16_t sh2 = 0xFFFF);
// Audio source: frame-size code, rate code (0 48k, 1 44.1k, 2 32k), locked,
// 50-field system bit, bits code (0 = 16 bits), emphasis off.
pack audio_source_pack(uint8_t frame_size, uint8_t rate_code, bool pal, bool locked = true,
                       uint8_t bits_code = 0, bool emphasis_off = true);
pack audio_control_pack(bool recording_start);

uint8_t bcd(int value);

}  // namespace dvtest
