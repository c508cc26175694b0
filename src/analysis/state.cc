#include "analysis/analysis.h"

namespace dvlog {

dv_meta current;
dv_meta previous;
uint32_t packs_seen;
int32_t sequence_count;
int32_t frame_count;
bool tc_broken;
bool frame_audio_done;
bool frame_start_done;
uint64_t audio_size_sum;
int32_t audio_offset;
int32_t audio_offset_max;
bool audio_size_changed;

void meta_reset(dv_meta& meta) {
  meta.iris = meta.gain = NO_INFO8;
  meta.ap2 = meta.shutter = meta.sh2 = NO_INFO16;
  meta.camera2 = NO_INFO;
  meta.system = meta.src_flag = meta.video_type = meta.aspect = meta.interlaced = NO_INFO8;
  meta.audio_unlocked = meta.audio_frame_size = meta.audio_rate_code = NO_INFO8;
  meta.audio_bits_code = meta.emphasis_off = NO_INFO8;
  meta.timecode = meta.rec_date = meta.rec_time = NO_INFO;
}

void analysis_reset() {
  meta_reset(current);
  meta_reset(previous);
  packs_seen = 0;
  sequence_count = frame_count = 0;
  tc_broken = frame_audio_done = frame_start_done = audio_size_changed = false;
  audio_size_sum = 0;
  audio_offset = audio_offset_max = 0;
}

}  // namespace dvlog
