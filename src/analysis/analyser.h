// The analysis behind the log: takes a stream's DIF sequences in order, counts
// frames as the log counts them (by the timecode, or from sequences once it
// fails), accounts audio samples, finds recording starts and setting changes,
// and tells its event sink what it found. What lies beyond the log (damage,
// capture, the frames a stream holds) is the frame model's.
#pragma once

#include <cstdint>

#include "analysis/audio_accounting.h"
#include "dv/dif.h"
#include "dv/dv_meta.h"
#include "events/events.h"

namespace dvlog {

class analyser final : public sequence_consumer {
 public:
  explicit analyser(event_sink& sink);

  // Analyses one sequence; `offset` is where it starts in the input.
  void on_sequence(const uint8_t* s, uint64_t offset) override;

  // Tells the summary, with the totals of the frames when given. Call once,
  // after the last sequence.
  void finish(const damage_totals* damage = nullptr);

  int32_t frames() const { return frame_count_; }
  bool timecode_broken() const { return tc_broken_; }
  const dv_meta& current() const { return current_; }
  int32_t audio_offset() const { return audio_.offset(); }
  int32_t audio_offset_max() const { return audio_.max_offset(); }
  const audio_accounting& audio() const { return audio_; }

 private:
  void count_frame(uint32_t saved_tc);
  void start_frame();
  void account_audio(const uint8_t* s);
  void check_recording_start(const uint8_t* s);
  void report_if_changed();
  event_place here() const { return {frame_count_, sequence_count_, offset_}; }

  event_sink& sink_;
  dv_meta current_;   // decoded from the sequences so far
  dv_meta previous_;  // as of the last status line; its timecode is the frame's
  uint32_t packs_seen_ = 0;
  int32_t sequence_count_ = 0;
  int32_t frame_count_ = 0;
  uint64_t offset_ = 0;            // of the sequence being analysed
  int32_t channels_seen_ = 0;      // 1 + the highest channel number met
  bool tc_broken_ = false;         // timecode unusable: frames are counted from sequences
  bool frame_audio_done_ = false;  // this frame's audio has been accounted
  bool frame_start_done_ = false;  // this frame's recording-start flag has been found
  audio_accounting audio_;
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
