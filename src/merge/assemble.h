// Writing the merged stream: each tape frame of the plan, built block by block
// from the transfers' reads of it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "events/events.h"
#include "input/source.h"
#include "merge/frame_index.h"
#include "merge/frame_source.h"
#include "merge/plan.h"
#include "output/progress.h"

namespace dvlog {

// What the merge took from where: the facts of the merge event.
struct merge_tally {
  std::vector<merge_transfer> transfers;
  std::vector<merge_pass> passes;  // by pass of the plan
  std::vector<merge_stretch> stretches;
  merge_event totals{};
};

// Within a frame, each block is taken from the first pass (in the order of
// the transfers, then of their passes) that read it right: a video block with
// status 0; an audio block without error samples, from a frame whose own
// audio source pack was read (a deck's stand-in, with no packs and every
// sample an error code, never gives its audio over another read's); a subcode
// or VAUX block holding every pack that any read of it holds; the header from
// any. Where none read it right, from the one that lost least: concealed
// before in error, marks and all. A frame whose first read is intact and holds
// as many packs as any other read is copied whole.
class assembler {
 public:
  // `files` are the transfers, open, in the order given; `out_fd` takes the
  // stream. Buffers are made here, before anything is read.
  assembler(const std::vector<transfer_index>& transfers, const merge_plan& plan, const input_source* files, int out_fd,
            merge_tally& tally);

  // Writes every frame of the plan, showing how far on `progress` (when not
  // nullptr). Returns 0, or the errno of the read or write that failed
  // (EINTR when a stop was asked for; `wait` lets a stop end a write that
  // keeps failing so).
  int write(const stop_request& stop, const wait_control* wait, progress_line* progress);
  // Bytes of the stream written.
  uint64_t written() const { return written_; }
  // The transfer whose read failed, or -1 when the write did.
  int32_t failed_read() const { return failed_read_; }

 private:
  // A frame is built from this many reads at most, the first passes' that
  // hold it: the buffers stay the same however many passes there are.
  static constexpr int MAX_READS = 16;

  int write_frame(int64_t row);
  int copy_whole(int32_t t, const frame_entry& f);
  int flush_copy();
  void build_sequence(int slot, const plan_read* row, uint8_t* out, uint32_t* from_reads);
  void add_stretch(int32_t transfer, bool damaged);
  void wrote(uint64_t bytes);

  const std::vector<transfer_index>& transfers_;
  const merge_plan& plan_;
  const input_source* files_;
  int out_fd_;
  const wait_control* wait_ = nullptr;
  merge_tally& tally_;
  frame_source source_;
  // The reads of the frame being built: their pass, transfer, and each one's
  // sequences by slot.
  int reads_held_ = 0;
  int32_t read_pass_[MAX_READS], read_transfer_[MAX_READS];
  std::unique_ptr<uint8_t[]> reads_;
  frame_bytes loaded_[MAX_READS];
  std::unique_ptr<uint8_t[]> frame_;  // the frame built
  // A whole-frame copy not yet made: runs of frames copied whole from one
  // transfer are copied at once.
  int32_t copy_from_ = -1;
  uint64_t copy_offset_ = 0, copy_size_ = 0;
  int64_t frames_written_ = 0;
  int32_t failed_read_ = -1;
  uint64_t written_ = 0, synced_ = 0;  // bytes of the stream written, and set to the disk
};

}  // namespace dvlog
