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
  // when an intact frame ends a run.
  bool add(const frame_event& f, damage_run_event* ended);
  // Damaged frames that are to be counted again (the count of frames went
  // back): no longer in the totals.
  void give_back(int64_t frames);
  // At the end of the input: true, with the run in *ended, when one is open.
  bool finish(damage_run_event* ended);

  damage_totals& totals() { return totals_; }
  const damage_totals& totals() const { return totals_; }

 private:
  bool open_ = false;
  damage_run_event run_{};
  damage_totals totals_;
};

// Whether each of the last frames closed was damaged, as far back as a
// fixed window reaches: when the count of frames goes back, those counted
// twice are found here.
class damage_history {
 public:
  static constexpr int64_t FRAMES = 4096;
  void add(bool damaged);
  // Damaged frames among the last `frames` closed; beyond the window, all are
  // taken as damaged, so that none is counted twice.
  int64_t damaged_in_last(int64_t frames) const;

 private:
  uint64_t bits_[FRAMES / 64] = {};
  int64_t count_ = 0;  // frames added
};

// Damage in even or odd sequences only, and more than a sequence's worth of
// video blocks, points at one clogged head rather than at the tape.
bool one_head(const damage_counts& d);

}  // namespace dvlog
