// Counting what the tape lost, frame by frame: video blocks concealed or in
// error, audio error samples, missing DIF sequences; and the runs of damaged
// frames.
#pragma once

#include <cstdint>

#include "analysis/events.h"

namespace dvlog {

// The tally of the frame being read.
struct frame_tally {
  damage_counts damage;
  int64_t video_blocks = 0;
  int64_t audio_blocks = 0;
  uint64_t sequences_seen = 0;  // bit 16 c + n: sequence number n of channel c met
};

// Counts the blocks of one sequence into the tally. `quantisation` is that of
// the last audio source pack met (0xFF before any); a pack in this sequence
// updates it.
void count_sequence_damage(const uint8_t* s, frame_tally& tally, uint8_t& quantisation);

// The sequence numbers of 0 .. per_channel - 1 of each of `channels` that the
// tally has not met.
int64_t sequences_missing(uint64_t seen, int32_t per_channel, int32_t channels);

// Gathers damaged frames into runs, and the totals of the whole stream.
class damage_runs {
 public:
  // A complete frame: damaged or not. Returns true, with the run in *ended,
  // when an intact frame ends a run. Damaged frames are counted by
  // damaged_frame_numbers, not here.
  bool add(const frame_event& f, damage_run_event* ended);
  // At the end of the input: true, with the run in *ended, when one is open.
  bool finish(damage_run_event* ended);

  damage_totals& totals() { return totals_; }
  const damage_totals& totals() const { return totals_; }

 private:
  bool open_ = false;
  damage_run_event run_{};
  damage_totals totals_;
};

// The frame numbers counted as damaged, so that each is counted once: when
// the count of frames goes back (it moves from timecodes to sequences, or the
// frame size grows), the frames counted again keep their numbers. Kept for
// the last WINDOW numbers; of those further back nothing is known, and they
// count as damaged when forgotten, so that no number is counted twice.
class damaged_frame_numbers {
 public:
  static constexpr int64_t WINDOW = 4096;
  // Marks a damaged frame's number.
  void mark(int32_t number);
  // The count went back to `number`: marks above it are dropped.
  void forget_above(int32_t number);
  // The damaged frames: numbers marked and not dropped.
  int64_t marked() const { return marked_; }

 private:
  bool test(int64_t n) const { return (bits_[(n % WINDOW) / 64] >> (n % 64)) & 1; }
  void set(int64_t n, bool on);

  uint64_t bits_[WINDOW / 64] = {};
  int64_t highest_ = 0;  // the highest number looked at; those up to WINDOW below it are in bits_
  int64_t marked_ = 0;   // numbers marked and not forgotten
};

// Damage in even or odd sequences only, and more than a sequence's worth of
// video blocks, points at one clogged head rather than at the tape.
bool one_head(const damage_counts& d);

}  // namespace dvlog
