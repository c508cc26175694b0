// The stages of the plan (plan.h says its rules): the reads grouped into
// runs and identified frames (plan_reads.cc), the passes and the order of the
// identified frames (plan_order.cc), the reads placed by position with the
// rows of the plan (plan_place.cc), and the rows checked against every
// transfer (plan_check.cc).
#pragma once

#include <cstdint>
#include <vector>

#include "merge/frame_index.h"
#include "merge/frame_match.h"
#include "merge/plan.h"

namespace dvlog {

// Two-digit years of recording dates count back from this one (DV was born in
// 1995), whenever the merge runs.
constexpr int LATEST_TWO_DIGIT_YEAR = 2069;

class planner {
 public:
  planner(const std::vector<transfer_index>& transfers, read_comparer& compare, const stop_request& stop)
      : transfers_(transfers), compare_(compare), stop_(stop) {}

  merge_refusal run(merge_plan& plan);

 private:
  // A run of this many equal reads with no timecode is content the tape holds
  // more than once: a capture repeats a frame once, rarely twice.
  static constexpr int32_t PLAIN_RUN = 3;

  // How a run's reads are placed.
  enum class kind : uint8_t {
    identified,  // one tape frame, known by its content
    too_little,  // too little read right to be told one frame with another
    unkeyed,     // nothing read whole to look it up by, and no timecode
    ambiguous,   // equal to reads of two frames that differ
    plain,       // content the tape holds more than once
  };
  // Reads next to one another in a transfer, at playback speed, each one
  // frame with the one before.
  struct read_run {
    int32_t transfer;
    int32_t first;   // its frames: first .. first + count - 1
    int32_t count;
    int32_t best;    // the frame with most blocks read right
    int32_t pass = -1;
    int32_t node = -1;          // the identified frame it reads
    bool after_gap = false;     // frames not at playback speed came before it
    kind how = kind::identified;
  };
  // What a run's reads say of the frame: the first timecode, date and time
  // any of them read, and whether one marks a recording start.
  struct stamp {
    int64_t count;  // the timecode as a count of frames; -1 when none read
    uint32_t timecode, rec_date, rec_time;
    bool recording_start;
  };
  struct link {
    int32_t from, to;  // runs of one transfer
    bool soft;         // stands only where the other links leave room for it
    bool kept = true;
    // Into a new recording whose timecode starts again: a pass of its own
    // while passes are cut (the deck may have gone back to that start), one
    // pass with the one before when the link stands.
    bool new_recording = false;
    // Soft links are tried in this order: 0 the timecode follows on, 1 played
    // on into a recording start (marked, or another date), 2 others.
    uint8_t priority = 0;
    bool cut = false;     // contradicted by surer links
    bool fallen = false;  // the deck went back over it: never stands
  };
  // Reads placed by position, in the order read: between two identified
  // frames of a pass (bounded, with the link between), before the first
  // (start) or after the last (end) of a pass, where a pass went back with
  // nothing to say which of the two they end or begin (either), or with no
  // identified frame of their pass on either side (floating: fitted where
  // their content is, anywhere).
  enum class word_kind : uint8_t { bounded, start, end, either, floating };
  struct word {
    word_kind how;
    int32_t left, right;  // the runs before and after
    int32_t link;         // of a bounded word
    int64_t begin, end;   // into word_reads_
  };
  // A read, its pass and its run.
  struct placed_read {
    read_ref read;
    int32_t pass;
    int32_t run;
  };

  // plan_reads.cc
  bool make_runs();
  bool group_runs();
  void find_plain();
  stamp stamp_of(int32_t r) const;
  bool heard(const read_run& u) const {  // some read of it holds sound
    for (int32_t k = u.first; k < u.first + u.count; ++k)
      if (entry({u.transfer, k}).flags & FRAME_AUDIBLE) return true;
    return false;
  }
  // What the reads of a run's frame say: of all runs read as that frame.
  const stamp& run_stamp(int32_t r) const {
    const int32_t g = group_[static_cast<size_t>(r)];
    return group_stamps_[static_cast<size_t>(g >= 0 ? g : r)];
  }
  likeness compare_runs(int32_t a, int32_t b);
  bool timecode_fits(int32_t bare, int32_t timed) const;
  int64_t inferred_count(int32_t r) const;
  bool counts_left(int32_t r, int64_t& lo, int64_t& hi) const;
  bool bare_fit(int32_t a, int32_t b) const;
  read_ref best(int32_t r) const { return {runs_[static_cast<size_t>(r)].transfer, runs_[static_cast<size_t>(r)].best}; }
  int32_t find(int32_t r);
  bool identified(int32_t r) const {
    const int32_t g = group_[static_cast<size_t>(r)];
    return g >= 0 && !plain_[static_cast<size_t>(g)];
  }
  // plan_order.cc
  bool cut_passes(bool& again);
  bool reread_goes_on(int32_t r, int32_t chain_first, const std::vector<int32_t>& pass_of_group,
                      const std::vector<int32_t>& place_in_pass, const std::vector<int32_t>& last_place,
                      std::vector<int32_t>& reread, int32_t& passed_over);
  bool make_graph();
  void split_passes();
  bool check_shared();
  bool read_ahead(int32_t first, int32_t then, int32_t upto) const;
  bool picture_held(int32_t r);
  size_t went_back_to(const std::vector<int32_t>& new_runs, int32_t r) const;
  bool leader_before_start(int32_t r, int32_t pass) const;
  bool order_nodes();
  bool order_ready(std::vector<int32_t>& in, std::vector<int32_t>& ready, const std::vector<int32_t>* next_timed);
  int order_by_keys(int32_t a, int32_t b);
  bool refuse_order(int32_t a, int32_t b, int verdict);
  bool timecode_goes_back(int32_t from, int32_t to) const;
  bool timecode_back(int32_t from, int32_t to) const;
  bool timecode_leaps(int32_t from, int32_t to) const;
  bool dates_differ(int32_t from, int32_t to) const;
  bool recorded_before(int32_t a, int32_t b) const;
  bool follows_on(int32_t from, int32_t to) const;
  bool reaches(int32_t from, int32_t to);
  // plan_place.cc
  bool place_words();
  void make_rows(merge_plan& plan);
  void release_order();
  // plan_check.cc
  bool check_rows();
  int64_t timecode_steps(read_ref a, read_ref b) const;
  int64_t timecode_count(read_ref r) const;
  read_ref other_read(int64_t row, read_ref r) const;
  bool repeat_fits(const std::vector<int32_t>& rows, const std::vector<frame_entry>& frames, int32_t j,
                   int64_t count) const;

  bool stopped();
  bool refuse(merge_refusal::reason why, read_ref at, read_ref other = {-1, -1});
  bool fail_if_unread();
  const frame_entry& entry(read_ref r) const { return compare_.entry(r); }

  const std::vector<transfer_index>& transfers_;
  read_comparer& compare_;
  const stop_request& stop_;
  merge_refusal refusal_;
  uint32_t steps_ = 0;

  std::vector<read_run> runs_;
  std::vector<int32_t> transfer_runs_;  // by transfer, into runs_; one more at the end
  std::vector<int32_t> parent_;         // the runs read as one frame, as a forest
  std::vector<int32_t> group_;          // of each run: its root, or -1 when placed by position
  std::vector<bool> plain_;             // by root: content the tape holds more than once
  std::vector<stamp> group_stamps_;     // by root (and by run, for a run of no group)
  std::vector<int32_t> pass_transfer_;
  std::vector<link> links_;
  // Where a pass's timecode went back with nothing to say that the deck
  // did: the runs before and after.
  std::vector<std::pair<int32_t, int32_t>> silent_backs_;
  std::vector<word> words_;
  std::vector<placed_read> word_reads_;
  // The identified frames: a run of each, whose best read stands for it; its
  // runs; the links between them; and their order.
  std::vector<int32_t> node_run_;
  std::vector<int32_t> node_runs_begin_, node_runs_;
  std::vector<int32_t> edge_begin_, edge_to_;  // by node, all links kept
  std::vector<int32_t> in_begin_, in_from_;    // and the same backwards
  std::vector<int32_t> order_, position_;
  std::vector<stamp> node_stamps_;
  // Rows of the plan: how many, and (row, read) as placed.
  int64_t rows_ = 0;
  std::vector<std::pair<int64_t, placed_read>> placed_;
};

}  // namespace dvlog
