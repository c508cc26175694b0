// What a merge keeps of each frame of a transfer: where the frame lies in the
// file, what its subcode and VAUX say it is (timecode, recording date and
// time), a fingerprint of its content, and how well the deck read it. About
// fifty bytes a frame; the frames themselves are read again when the merged
// stream is written.
#pragma once

#include <cstdint>
#include <vector>

#include "dv/dif.h"
#include "frames/tape_frame.h"
#include "input/source.h"

namespace dvlog {

// A frame holds up to four channels (DVCPRO HD) of up to twelve DIF sequences
// (625/50). A sequence's place in its frame is channel * 12 + number.
constexpr int MERGE_SLOTS = MAX_CHANNELS * MAX_SEQUENCE_NUMBERS;

constexpr int merge_slot(uint8_t id1) {
  const unsigned n = sequence_number(id1);
  return n < MAX_SEQUENCE_NUMBERS ? static_cast<int>(channel_number(id1) * MAX_SEQUENCE_NUMBERS + n) : -1;
}

// Flags of a frame.
enum frame_flag : uint8_t {
  FRAME_CONTIGUOUS = 1,  // its sequences lie back to back from `offset`
  FRAME_WHOLE = 2,       // every sequence of its system, signal type and channels is there
};

struct frame_entry {
  uint64_t offset;    // of its first sequence in the transfer
  uint32_t timecode;  // as the first sequence that has them tells them;
  uint32_t rec_date;  //   NO_INFO, TIME_BLANK or DATE_BLANK when none read
  uint32_t rec_time;
  // For each sequence number, a hash of the audio and video blocks of that
  // number in every channel; valid where content_read has the number's bit,
  // that is where all those blocks were read right.
  uint16_t content[MAX_SEQUENCE_NUMBERS];
  uint16_t content_read;
  uint16_t packs_read;      // bits of packs_held() over its subcode and VAUX blocks
  uint16_t damaged_blocks;  // video and audio blocks not read right
  uint8_t sequences;        // sequences found
  uint8_t flags;            // frame_flag

  bool intact() const { return damaged_blocks == 0 && (flags & FRAME_WHOLE); }
};

// The frames of one transfer, in file order, and what the transfer is.
struct transfer_index {
  std::vector<frame_entry> frames;
  uint8_t system = 0xFF;      // of the first video source pack: 0 525/60, 1 625/50
  uint8_t video_type = 0xFF;  //   and its signal type
  int32_t channels = 1;       // channels a frame carries
  int32_t sequences_per_frame = 0;
  int64_t damaged_blocks = 0;
};

// What the pack slots of a subcode or VAUX block hold, two bits a slot: bit
// i when slot i has a pack ID, bit 16 + i when the pack's four payload bytes
// are not all 0xFF either. A deck that loses a pack writes 0xFF over all of
// it, or over its payload only; one read of a block holds less than another
// where it lacks a bit the other has.
uint32_t packs_held(const uint8_t* block);

// True when a video block was read right: its ID says video and its error
// status is 0.
bool video_block_right(const uint8_t* block);
// The error samples of an audio block, or -1 when its ID says no audio.
int audio_block_errors(const uint8_t* block, uint8_t quantisation);
// The quantisation (QU) of the audio source pack in a sequence's audio blocks,
// or `before` when none holds one.
uint8_t sequence_quantisation(const uint8_t* s, uint8_t before);

// Reads a transfer through and indexes its frames. Returns false when reading
// failed (errno is then set) or a stop was asked for.
bool index_transfer(const input_source& in, uint8_t* window, const stop_request& stop, transfer_index& out);

}  // namespace dvlog
