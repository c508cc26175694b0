// A transfer's frame read again, sequence by sequence, for comparing two
// reads block by block and for building the merged frame; and what a read
// block is worth.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dv/dif.h"
#include "frames/tape_frame.h"
#include "input/source.h"
#include "merge/frame_index.h"

namespace dvlog {

// A frame's sequences by slot (as the frame model numbers them: lane * 16 +
// sequence number, the second picture of DVCPRO HD 720p in lanes of its own).
constexpr size_t FRAME_BUFFER_BYTES = FRAME_SLOTS * SEQUENCE_SIZE;

struct frame_bytes {
  uint8_t* slots = nullptr;  // FRAME_BUFFER_BYTES
  uint64_t held = 0;         // a bit a slot read
  // The quantisation of the frame's own audio source packs; NO_INFO8 when
  // none was read (a deck's stand-in): its audio cannot be judged.
  uint8_t quantisation = NO_INFO8;

  const uint8_t* sequence(int slot) const { return slots + SEQUENCE_SIZE * static_cast<size_t>(slot); }
};

// A video block is read right when its ID says video and its error status
// is 0; an audio block when its frame's audio source pack was read and it
// holds no error sample.
bool video_read_right(const uint8_t* block);
bool audio_read_right(const uint8_t* block, uint8_t quantisation);
// Whether the block at place b of a sequence was read right: its video or
// audio as above; false for the header and the pack blocks, which are judged
// by the packs they hold.
bool content_read_right(const uint8_t* block, int b, uint8_t quantisation);

class frame_source {
 public:
  // `files` are the transfers, open, in the order of `transfers`.
  frame_source(const std::vector<transfer_index>& transfers, const input_source* files);

  // Reads frame `index` of transfer t into `into`. Returns 0, or the errno of
  // the read that failed (EIO when the file is shorter than it was).
  int load(int32_t t, int32_t index, frame_bytes& into);
  // The transfer whose read failed last, or -1.
  int32_t failed_read() const { return failed_read_; }

 private:
  const std::vector<transfer_index>& transfers_;
  const input_source* files_;
  std::unique_ptr<uint8_t[]> staging_;  // a contiguous frame as read
  std::unique_ptr<uint8_t[]> window_;   // for finding the sequences of a frame with junk inside
  int32_t failed_read_ = -1;
};

}  // namespace dvlog
