#include "analysis/analyser.h"

#include <algorithm>

#include "dv/datetime.h"
#include "dv/recognizer.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// The first status line waits until every kind of pack has been met, or until
// the third frame or the 25th sequence, so that it does not show half-known
// settings.
constexpr int32_t WARM_UP_FRAMES = 2;
constexpr int32_t WARM_UP_SEQUENCES = 24;

}  // namespace

uint32_t settings_changed(const dv_meta& a, const dv_meta& b) {
  // Timecode, date, time and the audio frame size change from frame to frame
  // and are no settings.
  const bool differ[SETTING_COUNT] = {
      a.iris != b.iris,
      a.gain != b.gain,
      a.ap2 != b.ap2,
      a.shutter != b.shutter,
      a.sh2 != b.sh2,
      a.camera2 != b.camera2,
      a.system != b.system,
      a.src_flag != b.src_flag,
      a.video_type != b.video_type,
      a.aspect != b.aspect,
      a.interlaced != b.interlaced,
      a.audio_unlocked != b.audio_unlocked,
      a.audio_rate_code != b.audio_rate_code,
      a.audio_bits_code != b.audio_bits_code,
      a.emphasis_off != b.emphasis_off,
  };
  uint32_t changed = 0;
  for (int i = 0; i < SETTING_COUNT; ++i)
    if (differ[i]) changed |= 1u << i;
  return changed;
}

frame_format format_of(const dv_meta& m) {
  return {m.system,          m.video_type,      m.aspect,
          m.audio_rate_code, m.audio_bits_code, audio_channels_of(m.audio_type, m.audio_rate_code, m.audio_bits_code)};
}

analyser::analyser(event_sink& sink) : sink_(sink) {
  meta_reset(current_);
  meta_reset(previous_);
}

void analyser::on_sequence(const uint8_t* s, uint64_t offset) {
  sequence_count_ = wrapping_add(sequence_count_, 1);
  offset_ = offset;
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  channels_seen_ = std::max(channels_seen_, static_cast<int32_t>(channel_number(id1)) + 1);

  // While the timecode is trusted, forget it so that a sequence without a
  // timecode pack shows up as NO_INFO.
  const uint32_t saved_tc = current_.timecode;
  if (!tc_broken_) current_.timecode = NO_INFO;

  uint32_t seen = decode_packs(s + SUBCODE_BLOCK_0 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, current_);
  seen |= decode_packs(s + SUBCODE_BLOCK_1 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, current_);
  seen |= decode_packs(s + VAUX_BLOCK_0 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current_);
  seen |= decode_packs(s + VAUX_BLOCK_1 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current_);
  seen |= decode_packs(s + VAUX_BLOCK_2 + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, current_);
  packs_seen_ |= seen;

  count_frame(saved_tc);
  account_audio(s);
  if (!frame_start_done_) check_recording_start(s);
  report_if_changed();
  sink_.end_of_sequence();
}

void analyser::start_frame() {
  frame_audio_done_ = false;
  frame_start_done_ = false;
}

// Frames are not marked in the stream: a new timecode starts a new frame. When
// a sequence comes without a timecode, the timecode can no longer be trusted
// and from then on frames are counted from the number of sequences.
void analyser::count_frame(uint32_t saved_tc) {
  if ((packs_seen_ & SEEN_TIMECODE) && !tc_broken_) {
    uint32_t tc = current_.timecode;
    if (!has_time(tc)) {
      current_.timecode = saved_tc;
      tc_broken_ = true;
      tc = saved_tc;
      sink_.timecode_broken({here(), tc, current_.timecode_drop_frame});
    }
    if (tc != previous_.timecode) {
      frame_count_ = wrapping_add(frame_count_, 1);
      previous_.timecode = tc;
      start_frame();
    }
  } else if (packs_seen_ & SEEN_VIDEO_SOURCE) {
    // A video source pack has set the system and the signal type.
    const int32_t per_frame = sequences_per_frame(current_.system, current_.video_type, channels_seen_);
    const int32_t n = wrapping_add(wrapping_add(sequence_count_, -1) / per_frame, 1);
    const bool new_frame = n != frame_count_;
    frame_count_ = n;
    if (new_frame) start_frame();
  }
}

// The audio source pack in audio block 0 gives the audio settings and the
// samples the frame carries: its frame-size code plus a minimum by system and
// rate. Once per frame the samples carried so far are compared with the whole
// number that the frames counted so far call for.
void analyser::account_audio(const uint8_t* s) {
  const uint8_t* pack = s + audio_block(0) + AUDIO_PACK;
  if (pack[0] != PACK_AUDIO_SOURCE) return;
  packs_seen_ |= decode_pack(pack, pack_area::audio, current_).seen;

  if (frame_audio_done_) return;
  frame_audio_done_ = true;

  // Without a video source pack, the 50/60 bit of the audio pack tells the system.
  if (!(packs_seen_ & SEEN_VIDEO_SOURCE)) current_.system = current_.audio_pack_system;
  audio_.account_frame(frame_count_, current_.system, current_.audio_rate_code, current_.audio_frame_size,
                       previous_.audio_frame_size);
}

// The audio source control pack may sit in any audio block; finding it at
// all, with the recording-start flag or without, settles the question for the
// frame. Blocks that should be audio blocks but are not are told about.
void analyser::check_recording_start(const uint8_t* s) {
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (!is_audio_block_id(block[ID0])) {
      sink_.audio_block_warning({here(), j, block[ID0]});
      continue;
    }
    const uint8_t* pack = block + AUDIO_PACK;
    if (pack[0] != PACK_AUDIO_SOURCE_CONTROL) continue;
    if (decode_pack(pack, pack_area::audio, current_).recording_start) {
      sink_.recording_start(
          {here(), current_.timecode, current_.rec_date, current_.rec_time, current_.timecode_drop_frame});
    }
    frame_start_done_ = true;
    return;
  }
}

void analyser::report_if_changed() {
  const bool warming_up = (packs_seen_ & SEEN_ALL) != SEEN_ALL && frame_count_ <= WARM_UP_FRAMES &&
                          sequence_count_ <= WARM_UP_SEQUENCES;
  if (warming_up) return;
  const uint32_t changed = settings_changed(current_, previous_);
  if (changed == 0) return;
  sink_.status({here(), current_, changed, (packs_seen_ & SEEN_AUDIO_SOURCE) != 0, audio_.offset()});
  previous_ = current_;
}

void analyser::finish(const damage_totals* damage) {
  summary_event e{};
  if (damage) {
    e.has_damage = true;
    e.damage = *damage;
  }
  e.frames = frame_count_;
  e.sequences = sequence_count_;
  // A verdict only when some status line carried audio settings.
  e.has_verdict = previous_.audio_rate_code != NO_INFO8;
  if (e.has_verdict) e.audio = audio_.verdict(previous_.audio_rate_code);
  sink_.summary(e);
}

}  // namespace dvlog
