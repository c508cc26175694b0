// The analysis of DIF sequences and its state, held for the whole run.
#pragma once

#include <cstdint>

#include "analysis/dv_meta.h"

namespace dvlog {

extern dv_meta current;   // decoded from the sequences so far
extern dv_meta previous;  // as of the last status line; its timecode is the frame's
extern uint32_t packs_seen;

extern int32_t sequence_count;  // DIF sequences analysed
extern int32_t frame_count;
extern bool tc_broken;          // timecode unusable: frames are counted from sequences
extern bool frame_audio_done;   // this frame's audio has been accounted
extern bool frame_start_done;   // this frame's recording-start flag has been found
extern uint64_t audio_size_sum;
extern int32_t audio_offset;
extern int32_t audio_offset_max;
extern bool audio_size_changed;

// Counters follow 32-bit two's complement arithmetic and wrap.
constexpr int32_t wrapping_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Back to the start state: counters and flags zero, both records NO_INFO.
void analysis_reset();

// Analyses the sequence whose SEQUENCE_SIZE bytes start at s.
void analyse_sequence(const uint8_t* s);

}  // namespace dvlog
