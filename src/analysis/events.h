// What the analysis of a stream tells, as typed events, and the interface of
// those who take them (the text log, the JSON log, the HTML report).
#pragma once

#include <cstdint>

#include "analysis/dv_meta.h"

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
};

// The timecode failed; from here on frames are counted from sequences.
struct timecode_broken_event {
  event_place at;
  uint32_t timecode;  // the last one read, kept from here on
};

// A block where an audio block belongs is something else.
struct audio_block_warning_event {
  event_place at;
  int audio_block;  // 1 to 8
  uint8_t id0;
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
};

class event_sink {
 public:
  virtual void status(const status_event& e) = 0;
  virtual void recording_start(const recording_start_event& e) = 0;
  virtual void timecode_broken(const timecode_broken_event& e) = 0;
  virtual void audio_block_warning(const audio_block_warning_event& e) = 0;
  // All events of one sequence have been given: a good moment to write.
  virtual void end_of_sequence() {}
  virtual void summary(const summary_event& e) = 0;

 protected:
  ~event_sink() = default;
};

}  // namespace dvlog
