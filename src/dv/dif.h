// The layout of a DV DIF sequence and the IDs of the metadata packs in it.
//
// A DV frame is recorded as 10 (525/60 system) or 12 (625/50 system) DIF
// sequences of 12000 bytes. A sequence is 150 DIF blocks of 80 bytes; every
// block opens with three ID bytes:
//   ID0  section type in its top three bits, plus sequence flags below
//   ID1  DIF sequence number and channel, the same in every block of a sequence
//   ID2  the block's number within its section
// and carries 77 bytes of payload. The first blocks of a sequence always are
// header, subcode 0 and 1, VAUX 0, 1 and 2; after them the audio blocks sit
// at every 16th block (one audio block, then 15 video blocks).
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

constexpr size_t BLOCK_SIZE = 80;
constexpr size_t SEQUENCE_SIZE = 150 * BLOCK_SIZE;  // 12000 bytes
constexpr size_t BLOCK_ID_SIZE = 3;                 // ID0, ID1, ID2

// Offsets of the ID bytes within a block.
constexpr size_t ID0 = 0;
constexpr size_t ID1 = 1;
constexpr size_t ID2 = 2;

// Blocks at fixed places in every sequence, as byte offsets of their first byte.
constexpr size_t HEADER_BLOCK = 0 * BLOCK_SIZE;
constexpr size_t SUBCODE_BLOCK_0 = 1 * BLOCK_SIZE;
constexpr size_t SUBCODE_BLOCK_1 = 2 * BLOCK_SIZE;
constexpr size_t VAUX_BLOCK_0 = 3 * BLOCK_SIZE;
constexpr size_t VAUX_BLOCK_1 = 4 * BLOCK_SIZE;
constexpr size_t VAUX_BLOCK_2 = 5 * BLOCK_SIZE;
constexpr size_t FIRST_VIDEO_BLOCK = 7 * BLOCK_SIZE;

// Audio block j (0 to 8) is DIF block 6 + 16 j.
constexpr int AUDIO_BLOCKS = 9;
constexpr size_t AUDIO_BLOCK_STRIDE = 16 * BLOCK_SIZE;
constexpr size_t audio_block(int j) { return 6 * BLOCK_SIZE + AUDIO_BLOCK_STRIDE * static_cast<size_t>(j); }

// ID1 carries the DIF sequence number in its high nibble, then FSC and FSP,
// which tell the channels of a frame recorded on two or four (DV50 and DVCPRO
// HD): channel 0 has FSC 0 and FSP 1, as every DV25 sequence.
constexpr unsigned sequence_number(uint8_t id1) { return id1 >> 4; }
constexpr unsigned channel_number(uint8_t id1) { return (id1 >> 3 & 1) | ((~id1 >> 2 & 1) << 1); }

// Audio and video blocks fill the rest of a sequence: nine rows of one audio
// block and fifteen video blocks.
constexpr int VIDEO_BLOCKS = 135;
constexpr size_t video_block(int k) { return audio_block(k / 15) + BLOCK_SIZE * static_cast<size_t>(1 + k % 15); }

// Byte 3 of a video block: STA (error status) in the high nibble, the
// quantisation number in the low one.
constexpr size_t VIDEO_STA = BLOCK_ID_SIZE;

// Section type, in the top three bits of ID0.
constexpr uint8_t SECTION_MASK = 0xE0;
enum dif_section : uint8_t {
  SECTION_HEADER = 0x00,
  SECTION_SUBCODE = 0x20,
  SECTION_VAUX = 0x40,
  SECTION_AUDIO = 0x60,
  SECTION_VIDEO = 0x80,
};

// The section of the block at place b (0 to 149) of a sequence, by the layout
// above: what a block is follows from where it lies, whatever its damaged ID
// says.
constexpr int BLOCKS_PER_SEQUENCE = static_cast<int>(SEQUENCE_SIZE / BLOCK_SIZE);
constexpr dif_section section_at(int b) {
  const size_t at = BLOCK_SIZE * static_cast<size_t>(b);
  if (at == HEADER_BLOCK) return SECTION_HEADER;
  if (at < VAUX_BLOCK_0) return SECTION_SUBCODE;
  if (at < audio_block(0)) return SECTION_VAUX;
  return (at - audio_block(0)) % AUDIO_BLOCK_STRIDE == 0 ? SECTION_AUDIO : SECTION_VIDEO;
}

// A pack is five bytes: an ID and four payload bytes PC1 to PC4.
constexpr size_t PACK_SIZE = 5;
constexpr size_t PC1 = 1, PC2 = 2, PC3 = 3, PC4 = 4;

// A subcode block holds six sync blocks of 8 bytes after its ID; each ends in
// a pack (two sync ID bytes, a parity byte, then the 5-byte pack).
constexpr size_t SUBCODE_PACK_FIRST = BLOCK_ID_SIZE + 3;
constexpr size_t SUBCODE_PACK_STRIDE = 8;
constexpr int SUBCODE_PACKS = 6;

// A VAUX block holds fifteen packs back to back after its ID.
constexpr size_t VAUX_PACK_FIRST = BLOCK_ID_SIZE;
constexpr size_t VAUX_PACK_STRIDE = PACK_SIZE;
constexpr int VAUX_PACKS = 15;

// An audio block carries one AAUX pack right after its ID, then 72 bytes of
// samples.
constexpr size_t AUDIO_PACK = BLOCK_ID_SIZE;
constexpr size_t AUDIO_DATA = AUDIO_PACK + 5;
constexpr size_t AUDIO_DATA_SIZE = BLOCK_SIZE - AUDIO_DATA;  // 72 bytes

enum dv_pack_id : uint8_t {
  PACK_TIMECODE = 0x13,             // subcode: tape timecode
  PACK_AUDIO_SOURCE = 0x50,         // AAUX: sampling rate, bits, samples in the frame
  PACK_AUDIO_SOURCE_CONTROL = 0x51, // AAUX: copy and recording-start flags, playback speed
  PACK_AAUX_REC_DATE = 0x52,        // AAUX: recording date, laid out as the VAUX one
  PACK_AAUX_REC_TIME = 0x53,        // AAUX: recording time of day, likewise
  PACK_VIDEO_SOURCE = 0x60,         // VAUX: 525/625 system, signal type
  PACK_VIDEO_SOURCE_CONTROL = 0x61, // VAUX: display aspect, interlacing
  PACK_REC_DATE = 0x62,             // VAUX: recording date and time zone
  PACK_REC_TIME = 0x63,             // VAUX: recording time of day
  PACK_CAMERA_1 = 0x70,             // VAUX: iris and gain
  PACK_CAMERA_2 = 0x71,             // VAUX: raw camera word
  PACK_SHUTTER = 0x7F,              // VAUX: shutter speed
  PACK_NONE = 0xFF,
};

// Takes whole DIF sequences, in stream order: the sequence's bytes (all
// SEQUENCE_SIZE of them, valid until the call returns) and the offset of its
// first byte in the input.
class sequence_consumer {
 public:
  virtual void on_sequence(const uint8_t* sequence, uint64_t offset) = 0;

 protected:
  ~sequence_consumer() = default;
};

}  // namespace dvlog
