// What a merge keeps of each frame of a transfer: where the frame lies in the
// file, what its subcode and VAUX say it is (timecode, recording date and
// time), a fingerprint of its content, and how well the deck read it. Sixty-
// four bytes a frame; the frames themselves are read again where their blocks
// must be compared one by one, and when the merged stream is written.
#pragma once

#include <cstdint>
#include <vector>

#include "dv/dif.h"
#include "frames/tape_frame.h"
#include "input/source.h"
#include "output/progress.h"

namespace dvlog {

// Flags of a frame.
enum frame_flag : uint8_t {
  FRAME_CONTIGUOUS = 1,        // its sequences lie back to back from `offset`, none sent twice
  FRAME_WHOLE = 2,             // every sequence of its system, signal type and channels is there
  FRAME_OFF_SPEED = 4,         // the deck did not play it forward at normal speed (shuttle, pause)
  FRAME_DROP_FRAME = 8,        // its timecode counts 525/60 frames with drop-frame numbering
  FRAME_RECORDING_START = 16,  // its AAUX marks the first frame of a recording
  FRAME_CONTROL_READ = 32,     // an AAUX source control pack was read: it would mark a start
  // Its sound opens the five-frame cycle of 525/60 sound at 48 kHz locked to
  // the picture: 1,600 samples, where the other four frames hold 1,602. Such
  // frames lie five apart within a recording, black or not.
  FRAME_SOUND_CYCLE = 64,
  // A sample other than silence was read right in it. The tape's sound runs
  // on from frame to frame: two frames of it alike in every block are
  // silent, so equal reads that are not are one frame read again.
  FRAME_AUDIBLE = 128,
};

// The audio and video blocks of one sequence: nine audio blocks and 135 video
// blocks.
constexpr int CONTENT_BLOCKS = AUDIO_BLOCKS + VIDEO_BLOCKS;

struct frame_entry {
  uint64_t offset;    // of its first sequence in the transfer
  uint32_t timecode;  // as the first sequence that has them tells them;
  uint32_t rec_date;  //   NO_INFO, TIME_BLANK or DATE_BLANK when none read
  uint32_t rec_time;
  // For each sequence number, a hash of the audio and video blocks of that
  // number in every channel (and both pictures of DVCPRO HD 720p); valid
  // where content_read has the number's bit, that is where all those blocks
  // were read right.
  uint16_t content[MAX_SEQUENCE_NUMBERS];
  uint16_t content_read;
  // All of its content in one word, where it was all read right; else 0.
  uint64_t signature;
  uint16_t packs_read;      // bits of packs_held() over its subcode and VAUX blocks
  uint16_t damaged_blocks;  // video and audio blocks not read right
  uint16_t right_blocks;    // video and audio blocks read right
  uint8_t sequences;        // sequences found
  uint8_t flags;            // frame_flag

  bool intact() const { return damaged_blocks == 0 && (flags & FRAME_WHOLE); }
};
static_assert(sizeof(frame_entry) == 64, "the index keeps 64 bytes a frame");

// The frames of one transfer, in file order, and what the transfer is.
struct transfer_index {
  std::vector<frame_entry> frames;
  uint8_t system = 0xFF;      // that most of its frames say: 0 525/60, 1 625/50
  uint8_t video_type = 0xFF;  //   and their signal type
  int32_t channels = 1;       // channels a frame carries
  int32_t lanes = 1;          // channels times pictures: 4 for DVCPRO HD 720p
  int32_t sequences_per_frame = 0;
  int64_t damaged_blocks = 0;
  int64_t off_speed = 0;  // frames not at playback speed
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

// Where the indexing shows how far it is: the line (nullptr: none), the bytes
// of the transfers before this one, and this one's number from 1.
struct index_progress {
  progress_line* line = nullptr;
  uint64_t bytes_before = 0;
  int file = 1;
};

// Reads a transfer through and indexes its frames. Returns false when reading
// failed (errno is then set) or a stop was asked for.
bool index_transfer(const input_source& in, uint8_t* window, const stop_request& stop, transfer_index& out,
                    const index_progress& progress = {});

}  // namespace dvlog
