#include "analysis/analysis.h"
#include "analysis/audio.h"
#include "analysis/recording_start.h"
#include "input/dif_format.h"
#include "report/output.h"
#include "report/status_line.h"

namespace dvlog {

namespace {

// DIF sequences in one frame, by system: 10 in 525/60, 12 in 625/50.
constexpr int32_t sequences_per_frame[2] = {10, 12};

void start_frame() {
  frame_audio_done = false;
  frame_start_done = false;
}

// Frames are not marked in the stream: a new timecode starts a new frame. When
// a sequence comes without a timecode, the timecode can no longer be trusted
// and from then on frames are counted from the number of sequences.
void count_frame(uint32_t saved_tc) {
  if ((packs_seen & SEEN_TIMECODE) && !tc_broken) {
    uint32_t tc = current.timecode;
    if (tc == NO_INFO || tc == TIME_BLANK) {
      out_printf("Timecode is broken, switch to diff blocks for audio/frame count\n");
      current.timecode = saved_tc;
      tc_broken = true;
      tc = saved_tc;
    }
    if (tc != previous.timecode) {
      frame_count = wrapping_add(frame_count, 1);
      previous.timecode = tc;
      start_frame();
    }
  } else if (packs_seen & SEEN_VIDEO_SOURCE) {
    // A video source pack has set the system to 0 or 1.
    const int32_t per_frame = sequences_per_frame[current.system & 1];
    const int32_t n = wrapping_add(wrapping_add(sequence_count, -1) / per_frame, 1);
    if (n != frame_count) start_frame();
    frame_count = n;
  }
}

}  // namespace

void analyse_sequence(const uint8_t* s) {
  // While the timecode is trusted, forget it so that a sequence without a
  // timecode pack shows up as NO_INFO.
  uint32_t saved_tc = current.timecode;
  if (!tc_broken) current.timecode = NO_INFO;

  decode_packs(s + SUBCODE_BLOCK_0 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, current);
  decode_packs(s + SUBCODE_BLOCK_1 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, current);
  decode_packs(s + VAUX_BLOCK_0 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current);
  decode_packs(s + VAUX_BLOCK_1 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current);
  decode_packs(s + VAUX_BLOCK_2 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current);

  count_frame(saved_tc);
  account_audio(s);
  if (!frame_start_done) check_recording_start(s);
  report_if_changed();
  out_end_sequence();
}

}  // namespace dvlog
