// The analysis of a DV stream: takes its DIF sequences in order, counts frames,
// accounts audio samples, finds recording starts and setting changes, and
// tells its event sink what it found.
#pragma once

#include <cstdint>

#include "analysis/audio_accounting.h"
#include "analysis/damage.h"
#include "dv/dv_meta.h"
#include "analysis/events.h"
#include "dv/dif.h"

namespace dvlog {

class analyser final : public sequence_consumer {
 public:
  // With count_damage, also tells what the tape lost, frame by frame;
  // `year_now` places the two-digit years of recording dates.
  explicit analyser(event_sink& sink, bool count_damage = false, int64_t year_now = 2000);

  // Analyses one sequence; `offset` is where it starts in the input.
  void on_sequence(const uint8_t* s, uint64_t offset) override;

  // Tells the summary. Call once, after the last sequence: `input_bytes` is
  // the length of the input, `unexamined` the sequence that ends it when it
  // was never examined (no byte followed it), or nullptr. With damage
  // counting, the bytes after the last sequence are skipped bytes, and the
  // unexamined sequence's blocks count with its frame's.
  void finish(uint64_t input_bytes = 0, const uint8_t* unexamined = nullptr);

  int32_t frames() const { return frame_count_; }
  bool timecode_broken() const { return tc_broken_; }
  const dv_meta& current() const { return current_; }
  int32_t audio_offset() const { return audio_.offset(); }
  int32_t audio_offset_max() const { return audio_.max_offset(); }
  // What the tape lost, with damage counting, once finished.
  const damage_totals& damage() const { return runs_.totals(); }

 private:
  void count_frame(uint32_t saved_tc);
  void start_frame();
  void account_audio(const uint8_t* s);
  void check_recording_start(const uint8_t* s);
  void report_if_changed();
  void open_frame();
  void close_frame();
  void check_timecode_step(uint32_t from, uint32_t to, uint8_t from_drop_frame);
  void note_skipped(uint64_t offset);
  void next_damage_frame();
  bool begins_frame(uint8_t id1) const;
  // Frames are counted from sequences: the timecode failed, or there is none.
  bool counting_sequences() const { return tc_broken_ || !(packs_seen_ & SEEN_TIMECODE); }
  event_place here() const { return {frame_count_, sequence_count_, offset_}; }

  event_sink& sink_;
  dv_meta current_;   // decoded from the sequences so far
  dv_meta previous_;  // as of the last status line; its timecode is the frame's
  uint32_t packs_seen_ = 0;
  int32_t sequence_count_ = 0;
  int32_t frame_count_ = 0;
  uint64_t offset_ = 0;            // of the sequence being analysed
  unsigned sequence_number_ = 0;   //   and its number within its frame
  int32_t channels_seen_ = 0;      // 1 + the highest channel number met
  bool tc_broken_ = false;         // timecode unusable: frames are counted from sequences
  bool frame_audio_done_ = false;  // this frame's audio has been accounted
  bool frame_start_done_ = false;  // this frame's recording-start flag has been found
  audio_accounting audio_;

  // Damage counting.
  bool count_damage_;
  int64_t year_now_;
  frame_tally tally_;             // of the frame being read
  event_place frame_place_{};     // of its first sequence
  frame_stamp frame_stamp_{NO_INFO, NO_INFO, NO_INFO, NO_INFO8};  //   and what that sequence gave
  frame_format frame_format_{};
  bool frame_marked_ = false;     // a recording start
  bool frame_open_ = false;
  bool first_frame_whole_ = false;  // the first frame began with sequence 0
  bool frames_closed_ = false;
  int unjudged_frames_ = 0;       // frames around the switch to counting sequences
  frame_stamp last_closed_{NO_INFO, NO_INFO, NO_INFO, NO_INFO8};  // of the frame before
  uint8_t quantisation_ = 0xFF;
  damage_runs runs_;
  damaged_frame_numbers numbers_;
  int last_number_ = -1;             // of the last sequence of the first channel in the frame open
  uint64_t next_offset_ = 0;          // where the sequence after the last one would start
  bool sequence_timecode_read_ = false;  // this sequence gave a timecode
  bool last_frame_timecode_read_ = false;  // the frame before gave one, at its first sequence:
  uint32_t last_frame_timecode_ = NO_INFO;
  uint8_t last_frame_drop_frame_ = NO_INFO8;
};

// Counters follow 32-bit two's complement arithmetic and wrap.
constexpr int32_t wrapping_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The formats of a record: system, signal type, aspect and audio.
frame_format format_of(const dv_meta& m);

// The settings that differ between two records, as setting_bit.
uint32_t settings_changed(const dv_meta& now, const dv_meta& before);

}  // namespace dvlog
