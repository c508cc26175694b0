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

analyser::analyser(event_sink& sink, bool count_damage, int64_t year_now)
    : sink_(sink), count_damage_(count_damage), year_now_(year_now) {
  meta_reset(current_);
  meta_reset(previous_);
}

void analyser::on_sequence(const uint8_t* s, uint64_t offset) {
  sequence_count_ = wrapping_add(sequence_count_, 1);
  offset_ = offset;
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  sequence_number_ = sequence_number(id1);
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
  sequence_timecode_read_ = (seen & SEEN_TIMECODE) && has_time(current_.timecode);

  if (count_damage_) note_skipped(offset);
  count_frame(saved_tc);
  account_audio(s);
  if (count_damage_) {
    if (!frame_open_)
      open_frame();  // before the first frame is counted
    else if (counting_sequences() && begins_frame(id1))
      next_damage_frame();
    // Counted from sequences, the first frame gets its number once the
    // system is known; its sequences before that are its own.
    if (frame_place_.frame == 0) frame_place_.frame = frame_count_;
    count_sequence_damage(s, tally_, quantisation_);
    if (channel_number(id1) == 0) last_number_ = static_cast<int>(sequence_number_);
  }
  if (!frame_start_done_) check_recording_start(s);
  report_if_changed();
  sink_.end_of_sequence();
}

// Bytes between the end of the last sequence and this one belong to none.
void analyser::note_skipped(uint64_t offset) {
  if (offset > next_offset_) {
    const uint64_t bytes = offset - next_offset_;
    runs_.totals().bytes_skipped += bytes;
    sink_.skipped_bytes({{frame_count_, sequence_count_, next_offset_}, frame_stamp_, bytes, false});
  }
  next_offset_ = offset + SEQUENCE_SIZE;
}

void analyser::start_frame() {
  frame_audio_done_ = false;
  frame_start_done_ = false;
  // While frames are counted by timecode, a new timecode begins the next
  // frame of damage too.
  if (count_damage_ && !counting_sequences()) next_damage_frame();
}

// Once frames are counted from sequences, where one frame ends and the next
// begins is read from the sequences' numbers: a sequence of the first channel
// numbered no higher than the one before it begins a frame, whichever are
// lost. The count from sequences, which knows nothing of losses, gives the
// frame its number.
bool analyser::begins_frame(uint8_t id1) const {
  return channel_number(id1) == 0 && last_number_ >= 0 && static_cast<int>(sequence_number(id1)) <= last_number_;
}

// The frame of damage open ends, and the next begins at this sequence.
void analyser::next_damage_frame() {
  // Sequences met before the first frame was counted belong to it.
  if (frame_open_ && frame_place_.frame != 0) close_frame();
  open_frame();
  // Once frames are counted from sequences, the timecodes that still read are
  // compared frame to frame.
  if (counting_sequences() && sequence_timecode_read_ && last_frame_timecode_read_)
    check_timecode_step(last_frame_timecode_, current_.timecode, last_frame_drop_frame_);
  last_frame_timecode_read_ = sequence_timecode_read_ || (!tc_broken_ && has_time(current_.timecode));
  last_frame_timecode_ = current_.timecode;
  last_frame_drop_frame_ = current_.timecode_drop_frame;
}

void analyser::open_frame() {
  const bool keep = frame_open_ && frame_place_.frame == 0;
  if (!keep) tally_ = frame_tally{};
  if (!frame_open_) first_frame_whole_ = sequence_number_ == 0;
  frame_open_ = true;
  frame_place_ = here();
  frame_stamp_ = {current_.timecode, current_.rec_date, current_.rec_time, current_.timecode_drop_frame};
  frame_format_ = format_of(current_);
  frame_marked_ = false;
  last_number_ = -1;
}

// The frame is complete: its damage, a jump of its recording time, and the run
// of damaged frames it extends or ends. The first frame may begin before the
// input does unless it began with sequence 0: its missing sequences are not
// judged.
void analyser::close_frame() {
  const bool first = !frames_closed_;
  const bool judged = (!first || first_frame_whole_) && unjudged_frames_ == 0;
  if (unjudged_frames_ > 0) --unjudged_frames_;
  if (judged) {
    // By the frame's own system, unless it began before any was known.
    const bool known = frame_format_.system != NO_INFO8;
    const uint8_t system = known ? frame_format_.system : current_.system;
    const uint8_t type = known ? frame_format_.video_type : current_.video_type;
    tally_.damage.sequences_missing =
        sequences_missing(tally_.sequences_seen, system_of(system).sequences_per_frame, channels_of(type, channels_seen_));
  }

  if (!first) {
    const int64_t before = recorded_seconds(last_closed_.rec_date, last_closed_.rec_time, year_now_);
    const int64_t now = recorded_seconds(frame_stamp_.rec_date, frame_stamp_.rec_time, year_now_);
    if (recording_time_jumped(before, now)) {
      runs_.totals().recording_time_jumps += 1;
      runs_.totals().unmarked_recording_time_jumps += !frame_marked_;
      sink_.recording_time_jump({frame_place_, frame_stamp_, last_closed_.rec_date, last_closed_.rec_time, frame_marked_});
    }
  }

  const frame_event f{frame_place_, frame_stamp_, frame_format_, tally_.damage, tally_.video_blocks, tally_.audio_blocks,
                      frame_marked_, audio_.offset()};
  sink_.frame(f);
  damage_run_event run;
  if (f.damage.any()) numbers_.mark(f.at.frame);
  if (runs_.add(f, &run)) sink_.damage_run(run);
  last_closed_ = frame_stamp_;
  frames_closed_ = true;
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
      // Where frames begin is uncertain in the frame open now and the next:
      // the count moves from timecodes to sequences between them.
      unjudged_frames_ = 2;
    }
    if (tc != previous_.timecode) {
      if (count_damage_ && previous_.timecode != NO_INFO)
        check_timecode_step(previous_.timecode, tc, last_frame_drop_frame_);
      frame_count_ = wrapping_add(frame_count_, 1);
      previous_.timecode = tc;
      start_frame();
    }
  } else if (packs_seen_ & SEEN_VIDEO_SOURCE) {
    // A video source pack has set the system and the signal type.
    const int32_t per_frame = sequences_per_frame(current_.system, current_.video_type, channels_seen_);
    const int32_t n = wrapping_add(wrapping_add(sequence_count_, -1) / per_frame, 1);
    const bool new_frame = n != frame_count_;
    // The count went back (from timecodes to sequences, or a larger frame):
    // the frames above it will be counted again, and their damage with them.
    if (count_damage_ && n < frame_count_) {
      numbers_.forget_above(n);
      if (frame_place_.frame > n) frame_place_.frame = n;
    }
    frame_count_ = n;
    if (new_frame) start_frame();
  }
}

// A timecode that does not advance by one frame is a jump: an edit, a
// re-recording or damage. Told at the first sequence of the new frame.
void analyser::check_timecode_step(uint32_t from, uint32_t to, uint8_t from_drop_frame) {
  const system_profile& system = system_of(current_.system);
  const bool drop_frame = system.frames_per_second == 30 && current_.timecode_drop_frame == 1;
  if (is_next_timecode(from, to, system.frames_per_second, drop_frame)) return;
  runs_.totals().timecode_jumps += 1;
  event_place at = here();
  // Told at the first sequence of the new frame, which is counted only after
  // this when frames are counted by timecode.
  if (!tc_broken_) at.frame = wrapping_add(frame_count_, 1);
  sink_.timecode_jump(
      {at, {to, current_.rec_date, current_.rec_time, current_.timecode_drop_frame}, from, from_drop_frame});
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
      frame_marked_ = true;
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

void analyser::finish(uint64_t input_bytes, const uint8_t* unexamined) {
  summary_event e{};
  if (count_damage_) {
    // The unexamined sequence belongs to the frame open, unless it begins a
    // frame (numbered 0 in the first channel) that the input cuts short
    // after it: that frame is counted nowhere, and its bytes are skipped.
    const uint8_t id1 = unexamined ? unexamined[SUBCODE_BLOCK_0 + ID1] : 0;
    const bool own_frame = sequence_number(id1) == 0 && channel_number(id1) == 0;
    const bool counted = unexamined && frame_open_ && !own_frame;
    if (counted) count_sequence_damage(unexamined, tally_, quantisation_);
    const uint64_t tail_start = next_offset_ + (counted ? SEQUENCE_SIZE : 0);
    if (input_bytes > tail_start) {
      runs_.totals().bytes_skipped += input_bytes - tail_start;
      sink_.skipped_bytes({{frame_count_, sequence_count_, tail_start}, frame_stamp_, input_bytes - tail_start, true});
    }
    // With its unexamined sequence counted, the last frame is judged as the
    // others are: a frame cut short is damage.
    if (frame_open_ && frame_place_.frame != 0) close_frame();
    damage_run_event run;
    if (runs_.finish(&run)) sink_.damage_run(run);
    runs_.totals().damaged_frames = numbers_.marked();
    e.has_damage = true;
    e.damage = runs_.totals();
  }
  e.frames = frame_count_;
  e.sequences = sequence_count_;
  // A verdict only when some status line carried audio settings.
  e.has_verdict = previous_.audio_rate_code != NO_INFO8;
  if (e.has_verdict) e.audio = audio_.verdict(previous_.audio_rate_code);
  sink_.summary(e);
}

}  // namespace dvlog
