// A frame as the stream delimits it, and what its own packs and blocks say.
//
// Every DIF sequence carries its number within its frame (and, for DV50 and
// DVCPRO HD, its channel) in the ID of each block: a frame begins where that
// numbering starts again, whatever the timecode does. The facts of a frame
// come from all of its sequences: the timecode from any subcode, the
// recording date and time from VAUX, subcode or AAUX (whichever read), the
// recording-start mark and the deck's playback speed from any AAUX source
// control pack.
#pragma once

#include <cstdint>

#include "dv/dv_meta.h"

namespace dvlog {

// A frame holds up to four channels (DVCPRO HD 1080i) of up to twelve DIF
// sequences (625/50); DVCPRO HD 720p holds two pictures of two channels. A
// sequence's place in its frame is its slot: 16 * (channel, counting the
// second picture's channels after the first's) + number.
constexpr int MAX_CHANNELS = 4;
constexpr int MAX_SEQUENCE_NUMBERS = 12;
constexpr int SLOT_STRIDE = 16;
constexpr int FRAME_SLOTS = MAX_CHANNELS * SLOT_STRIDE;  // bits of a uint64_t

// What the tape lost in one frame, or in several. Counts are 64-bit: a whole
// tape's damage fits.
struct damage_counts {
  int64_t video_concealed = 0;  // video blocks replaced from another frame
  int64_t video_errors = 0;     // video blocks in error, not concealed
  int64_t video_unknown = 0;    // video blocks with a reserved status
  int64_t video_even = 0;       // damaged video blocks in even-numbered sequences
  int64_t video_odd = 0;        //   and in odd-numbered ones
  int64_t audio_error_samples = 0;
  int64_t audio_error_blocks = 0;  // audio blocks holding an error sample
  int64_t sequences_missing = 0;   // sequence numbers the frame lacks

  int64_t video_damaged() const { return video_concealed + video_errors + video_unknown; }
  bool any() const { return video_damaged() > 0 || audio_error_samples > 0 || sequences_missing > 0; }
  void add(const damage_counts& o);
};

// The timecode and recording date and time of a frame.
struct frame_stamp {
  uint32_t timecode, rec_date, rec_time;
  uint8_t drop_frame;  // the timecode's drop-frame flag; NO_INFO8 when none read
};

// The picture and sound formats of a frame: what one file of a split keeps
// the same. NO_INFO8 (0 for the channels) while unknown.
struct frame_format {
  uint8_t system;
  uint8_t video_type;
  uint8_t aspect;
  uint8_t audio_rate_code;
  uint8_t audio_bits_code;
  uint8_t audio_channels;

  bool operator==(const frame_format& o) const {
    return system == o.system && video_type == o.video_type && aspect == o.aspect &&
           audio_rate_code == o.audio_rate_code && audio_bits_code == o.audio_bits_code &&
           audio_channels == o.audio_channels;
  }
  bool operator!=(const frame_format& o) const { return !(*this == o); }
};

// Where a frame's recording date and time may be read.
enum class date_source : uint8_t { vaux, subcode, aaux };

struct tape_frame {
  int32_t number;        // in stream order, from 1
  uint64_t offset;       // of its first sequence in the input
  uint64_t end;          // just past its last sequence
  int32_t first_sequence;  // sequences in the input up to its first, that one included
  int32_t sequences;     // sequences found in it
  int32_t sequences_repeated;  // of those, copies of one it holds: sent twice by the capture
  uint64_t slots_seen;   // bit slot: that sequence was found
  int32_t sequences_expected;  // of its system, signal type and channels; 0 while unknown
  bool contiguous;       // its sequences lie back to back, from offset to end
  bool judged;           // its missing sequences are counted (it did not begin before the input)
  frame_stamp stamp;
  bool recording_start;  // some AAUX source control pack has REC ST clear
  frame_format format;
  uint8_t speed;         // SPEED of the AAUX source control pack; NO_INFO8 when none read
  uint8_t forward;       // its DRF: 1 forward, 0 reverse; NO_INFO8 when none read
  // Its own AAUX source pack's AF_SIZE (samples in the frame beyond the least
  // its system and rate allow) and LF (1: sound not locked to the picture);
  // NO_INFO8 when it holds none.
  uint8_t audio_frame_size, audio_unlocked;
  damage_counts damage;
  int64_t video_blocks;  // video blocks read in it
  int64_t audio_blocks;  // audio blocks read in it
  // A hash of the audio and video blocks of each sequence, by slot; whether
  // all of them were read right.
  uint64_t content[FRAME_SLOTS];
  uint64_t slots_intact;
  bool same_as_previous;  // identical to the frame before in every sequence both read right

  bool whole() const { return sequences_expected > 0 && sequences >= sequences_expected && damage.sequences_missing == 0; }
};

// The slot of a sequence in a frame of `channels` channels, reading picture
// `picture` of it.
constexpr int slot_of(uint8_t id1, int picture = 0, int channels = 1) {
  return (picture * channels + static_cast<int>(id1 >> 3 & 1) + 2 * static_cast<int>(~id1 >> 2 & 1)) * SLOT_STRIDE +
         static_cast<int>(id1 >> 4);
}

// The deck played the tape forward at normal speed, or said nothing of it.
// SPEED 0x20 is normal in IEC 61834; SMPTE 314M gives 0x78 for 525/60 and
// 0x64 for 625/50 (four times the frame rate). 0x7F: no information.
constexpr bool at_playback_speed(const tape_frame& f) {
  if (f.speed == NO_INFO8 || f.speed == 0x7F) return true;
  const bool normal = f.speed == 0x20 || f.speed == (f.format.system == 1 ? 0x64 : 0x78);
  return normal && f.forward != 0;
}

// Takes the frames of a stream, in order.
class frame_listener {
 public:
  // A sequence of the frame being read, as it comes: its bytes are valid
  // until the call returns. `frame` is the number the frame will have.
  virtual void frame_sequence(const uint8_t*, uint64_t /*offset*/, int32_t /*frame*/) {}
  // The frame is complete: the next one began, or the input ended.
  virtual void frame(const tape_frame& f) = 0;
  // Bytes between sequences, or after the last, that belong to none.
  // `between_frames`: the frame before them is whole (or none came yet) and
  // the sequence after them begins a frame (or none follows).
  virtual void gap(uint64_t /*offset*/, uint64_t /*bytes*/, bool /*between_frames*/, bool /*at_end*/) {}

 protected:
  ~frame_listener() = default;
};

}  // namespace dvlog
