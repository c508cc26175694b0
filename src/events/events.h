// What the analysis of a stream tells, as typed events, and the interface of
// those who take them (the text log, the JSON log, the HTML report).
#pragma once

#include <cstdint>

#include "dv/dv_meta.h"
#include "frames/container.h"
#include "frames/tape_frame.h"

namespace dvlog {

// Where an event happened.
struct event_place {
  int32_t frame;     // frames counted so far, this sequence's frame included
  int32_t sequence;  // DIF sequences analysed so far, this one included (from 1)
  uint64_t offset;   // byte offset in the input of this sequence's first byte
};

// The settings a status line compares, one bit each; CHANGED_* of a status
// event say which differ from the last status line (on the first, which differ
// from the all-unknown record).
enum setting_bit : uint32_t {
  CHANGED_APERTURE = 1u << 0,
  CHANGED_GAIN = 1u << 1,
  CHANGED_AP2 = 1u << 2,
  CHANGED_SHUTTER = 1u << 3,
  CHANGED_SH2 = 1u << 4,
  CHANGED_CAMERA2 = 1u << 5,
  CHANGED_SYSTEM = 1u << 6,
  CHANGED_SOURCE_FLAG = 1u << 7,
  CHANGED_SIGNAL_TYPE = 1u << 8,
  CHANGED_ASPECT = 1u << 9,
  CHANGED_INTERLACE = 1u << 10,
  CHANGED_AUDIO_LOCK = 1u << 11,
  CHANGED_AUDIO_RATE = 1u << 12,
  CHANGED_AUDIO_BITS = 1u << 13,
  CHANGED_EMPHASIS = 1u << 14,
};
constexpr int SETTING_COUNT = 15;

// A camera, picture or audio setting changed (or the first settings are known).
struct status_event {
  event_place at;
  dv_meta settings;
  uint32_t changed;   // setting_bit
  bool has_audio;     // an audio source pack has been read: the audio fields hold
  int32_t audio_offset;
};

// The frame is marked as the start of a recording.
struct recording_start_event {
  event_place at;
  uint32_t timecode, rec_date, rec_time;
  uint8_t drop_frame;  // the timecode's drop-frame flag; NO_INFO8 before any timecode
};

// The timecode failed; from here on frames are counted from sequences.
struct timecode_broken_event {
  event_place at;
  uint32_t timecode;  // the last one read, kept from here on
  uint8_t drop_frame;
};

// A block where an audio block belongs is something else.
struct audio_block_warning_event {
  event_place at;
  int audio_block;  // 1 to 8
  uint8_t id0;
};

// A frame is complete, as the stream delimits it (with --damage, every frame).
struct frame_event {
  event_place at;  // of the frame's first sequence
  frame_stamp stamp;
  frame_format format;
  damage_counts damage;    // what the tape lost in it: none in a frame read off speed
  int64_t video_blocks;    // video blocks read in the frame
  int64_t audio_blocks;    // audio blocks read in the frame
  bool recording_start;    // the frame is marked as a recording start
  int32_t audio_offset;    // after the frame
  const tape_frame* frame;  // all the frame model has of it
  int32_t recording;        // the recording it belongs to, from 1
  int64_t dropped_before;   // frames the capture dropped just before it
  bool repeated;            // the same frame as the one before: the capture repeated it
  bool off_speed;           // the deck was not playing the tape forward at normal speed: `damage` is none
  int64_t retake_frames;    // the capture went back over this many frames it had read, to this one; else 0
  int32_t sequences_repeated;  // DIF sequences the capture sent twice in the frame
};

// Consecutive damaged frames, told when the first intact frame after them (or
// the end of the input) comes.
struct damage_run_event {
  event_place at;  // of the first frame's first sequence
  frame_stamp first;
  uint32_t last_timecode;
  uint8_t last_drop_frame;
  int32_t last_frame;
  int64_t frames;
  damage_counts damage;
  bool one_head;  // much video damage, all in even or all in odd sequences
};

// From one frame to the next the timecode did not advance by one frame.
struct timecode_jump_event {
  event_place at;  // of the frame where the new timecode starts
  frame_stamp stamp;
  uint32_t from;
  uint8_t from_drop_frame;
};

// The recording date and time went back or forward by more than a second.
struct recording_time_jump_event {
  event_place at;  // of the first sequence of the frame where the new time starts
  frame_stamp stamp;
  uint32_t from_date, from_time;
  bool marked;  // the frame is marked as a recording start
};

// Bytes of the input that belong to no DIF sequence: junk between sequences
// (a capture glitch, a splice, a container's own bytes), or a sequence cut
// short at the end of the input (with --damage).
struct skipped_bytes_event {
  event_place at;   // the frames and sequences so far; the offset of the first byte skipped
  frame_stamp stamp;  // of the frame before them
  uint64_t bytes;
  bool at_end;      // the input ends with them
};

// Within a recording the timecode went on by more than one frame: the
// capture lost the frames between.
struct frames_dropped_event {
  event_place at;  // of the frame after them
  frame_stamp stamp;
  uint32_t from;   // the timecode before them
  int64_t frames;
};

// Consecutive frames the capture repeated (each the same as the one before),
// or read while the deck was not playing at normal speed; told when the run
// ends.
struct frame_run_event {
  event_place at;  // of the first frame's first sequence
  frame_stamp first;
  uint32_t last_timecode;
  int32_t last_frame;
  int64_t frames;
  uint8_t speed, forward;  // of the first frame, for runs off speed
};

// The capture went back over frames it had read: the deck was rewound, or
// the capture restarted, and played on from an earlier frame.
struct retake_event {
  event_place at;        // of the first frame read again
  frame_stamp stamp;     // its timecode and recording time
  uint32_t from;         // the timecode of the last frame played before it
  uint8_t from_drop_frame;
  int32_t from_frame;    // that frame's number
  int64_t frames;        // the frames read again, from this one to that one
  bool by_content;       // told by the frames' content: no timecode told it
};

struct damage_totals {
  int64_t frames = 0;  // in the stream, as it delimits them
  int64_t damaged_frames = 0;
  uint64_t bytes_skipped = 0;
  damage_counts sum;
  int64_t timecode_jumps = 0;
  int64_t recording_time_jumps = 0;
  int64_t unmarked_recording_time_jumps = 0;
  int64_t recordings = 0;
  int64_t frames_dropped = 0;
  int64_t frames_repeated = 0;
  int64_t frames_off_speed = 0;
  int64_t retakes = 0;
  int64_t sequences_repeated = 0;  // DIF sequences the capture sent twice within a frame
  container_kind container = container_kind::none;
  uint64_t container_bytes = 0;
};

// The end of the run.
struct audio_verdict {
  bool locked;
  int32_t final_offset, final_offset_ms;
  int32_t max_offset, max_offset_ms;
  uint8_t rate_code;
};
struct summary_event {
  int32_t frames;
  int32_t sequences;
  bool has_verdict;  // some status line showed audio settings
  audio_verdict audio;
  bool has_damage;  // damage was counted
  damage_totals damage;
};

// What one transfer gave a merge of several transfers of a tape (--merge).
struct merge_transfer {
  const char* name;
  int64_t frames;          // frames found in it
  int64_t frames_taken;    // merged frames whose first read is its
  int64_t blocks_taken;    // blocks of the merged stream taken from it
  int64_t damaged_blocks;  // its video and audio blocks not read right
  int32_t passes;          // reads of the tape going forward: 1, and one more a retake
  int64_t off_speed;       // frames not at playback speed (shuttle, pause), never taken
  int64_t repeated;        // frames repeating one taken, left out
};

// One pass of a transfer over the tape: a stretch it read going forward.
struct merge_pass {
  int32_t transfer;      // counted from 0
  int32_t number;        // within its transfer, from 1
  int64_t frames;        // merged frames it read
  int64_t first_frame;   // the first and last of them, counted from 0
  int64_t last_frame;
  int64_t frames_taken;  // merged frames whose first read is its
  int64_t blocks_taken;  // blocks of the merged stream taken from it
};

// Merged frames that came alike, for drawing where the stream came from:
// all from one transfer, or assembled from several; still damaged or not.
struct merge_stretch {
  int64_t first_frame;  // counted from 0
  int64_t frames;
  int32_t transfer;     // that all came from, counted from 0; -1: several
  bool damaged;
};

// The merged stream, told after its own log.
struct merge_event {
  const char* output;
  const merge_transfer* transfers;
  int32_t transfer_count;
  int64_t frames;
  int64_t assembled_frames;   // with blocks from more than one transfer (of a lone transfer: pass)
  int64_t blocks_recovered;   // read right by another transfer than the frame's first
  int64_t damaged_frames;     // with a block no transfer read right, or a sequence none had
  int64_t damaged_blocks;     // video and audio blocks no transfer read right
  int64_t sequences_missing;  // sequences no transfer had
  const merge_stretch* stretches;
  int64_t stretch_count;
  const merge_pass* passes;  // of every transfer, in order
  int32_t pass_count;
};

class event_sink {
 public:
  virtual void status(const status_event& e) = 0;
  virtual void recording_start(const recording_start_event& e) = 0;
  virtual void timecode_broken(const timecode_broken_event& e) = 0;
  virtual void audio_block_warning(const audio_block_warning_event& e) = 0;
  // With damage counting only.
  virtual void frame(const frame_event&) {}
  virtual void damage_run(const damage_run_event&) {}
  virtual void timecode_jump(const timecode_jump_event&) {}
  virtual void recording_time_jump(const recording_time_jump_event&) {}
  virtual void skipped_bytes(const skipped_bytes_event&) {}
  virtual void frames_dropped(const frames_dropped_event&) {}
  virtual void frames_repeated(const frame_run_event&) {}
  virtual void off_speed(const frame_run_event&) {}
  virtual void retake(const retake_event&) {}
  // All events of one sequence have been given: a good moment to write.
  virtual void end_of_sequence() {}
  virtual void summary(const summary_event& e) = 0;
  // After the summary of a merged stream.
  virtual void merge(const merge_event&) {}

 protected:
  ~event_sink() = default;
};

}  // namespace dvlog
