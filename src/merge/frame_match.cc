#include "merge/frame_match.h"

#include <algorithm>
#include <cstring>

#include "dv/dv_meta.h"

namespace dvlog {

namespace {

// Both read a word, and it differs.
bool words_differ(uint32_t a, uint32_t b, bool (*read)(uint32_t)) { return read(a) && read(b) && a != b; }

}  // namespace

bool keys_differ(const frame_entry& a, const frame_entry& b) {
  // (A recording's first frame is marked so on the tape: where both reads
  // have the mark's pack, one marked and one not are two frames.)
  const bool starts_differ = (a.flags & b.flags & FRAME_CONTROL_READ) &&
                             ((a.flags ^ b.flags) & FRAME_RECORDING_START);
  return words_differ(a.timecode, b.timecode, has_time) || words_differ(a.rec_date, b.rec_date, has_date) ||
         words_differ(a.rec_time, b.rec_time, has_time) || starts_differ;
}

read_comparer::read_comparer(const std::vector<transfer_index>& transfers, frame_source* source)
    : transfers_(transfers), source_(source) {
  int sequences = 0;
  for (const transfer_index& t : transfers) {
    sequences = std::max(sequences, t.sequences_per_frame);
    lanes_ = std::max(lanes_, t.lanes);
  }
  enough_ = std::max(1, sequences * CONTENT_BLOCKS / 4);
  if (source_) {
    buffers_.reset(new uint8_t[2 * FRAME_BUFFER_BYTES]);
    for (int k = 0; k < 2; ++k) frames_[k].slots = buffers_.get() + FRAME_BUFFER_BYTES * static_cast<size_t>(k);
  }
}

// The frame of read r, read again unless it is one of the two held; the one
// held at `keep` stays.
const frame_bytes& read_comparer::loaded(read_ref r, int keep) {
  for (int k = 0; k < 2; ++k)
    if (held_[k].transfer == r.transfer && held_[k].frame == r.frame) return frames_[k];
  const int k = keep == 0 ? 1 : 0;
  held_[k] = {-1, -1};
  const int failed = source_->load(r.transfer, r.frame, frames_[k]);
  if (failed != 0) {
    if (error_ == 0) error_ = failed;
    frames_[k].held = 0;
    return frames_[k];
  }
  held_[k] = r;
  return frames_[k];
}

likeness read_comparer::compare_whole(read_ref ra, read_ref rb, int* common_blocks) const {
  const frame_entry &a = entry(ra), &b = entry(rb);
  if (common_blocks) *common_blocks = 0;
  if (keys_differ(a, b)) return likeness::different;
  // The sequence numbers both read whole: their content hashes.
  const unsigned both = a.content_read & b.content_read;
  int common = 0;
  for (int n = 0; n < MAX_SEQUENCE_NUMBERS; ++n) {
    if (!(both >> n & 1)) continue;
    if (a.content[n] != b.content[n]) return likeness::different;
    common += CONTENT_BLOCKS * lanes_;
  }
  if (common_blocks) *common_blocks = common;
  return common >= enough_ ? likeness::same : likeness::unknown;
}

likeness read_comparer::pictures(read_ref ra, read_ref rb) {
  if (!source_) return likeness::unknown;
  return compare_blocks(ra, rb, true);
}

likeness read_comparer::compare(read_ref ra, read_ref rb) {
  const likeness whole = compare_whole(ra, rb);
  if (whole != likeness::unknown) return whole;
  const frame_entry &a = entry(ra), &b = entry(rb);
  if (!source_ || a.right_blocks < enough_ || b.right_blocks < enough_) return likeness::unknown;
  // Too few whole: every block both read right, one by one.
  return compare_blocks(ra, rb, false);
}

likeness read_comparer::compare_blocks(read_ref ra, read_ref rb, bool video_only) {
  const frame_bytes& fa = loaded(ra, -1);
  if (error_ != 0) return likeness::unknown;
  const int kept = held_[0].transfer == ra.transfer && held_[0].frame == ra.frame ? 0 : 1;
  const frame_bytes& fb = loaded(rb, kept);
  if (error_ != 0) return likeness::unknown;
  const uint64_t slots = fa.held & fb.held;
  int common = 0;
  for (int slot = 0; slot < FRAME_SLOTS; ++slot) {
    if (!(slots >> slot & 1)) continue;
    const uint8_t *sa = fa.sequence(slot), *sb = fb.sequence(slot);
    for (int k = 0; k < BLOCKS_PER_SEQUENCE; ++k) {
      const size_t at = BLOCK_SIZE * static_cast<size_t>(k);
      const bool both_right = video_only ? section_at(k) == SECTION_VIDEO && video_read_right(sa + at) && video_read_right(sb + at)
                                         : content_read_right(sa + at, k, fa.quantisation) &&
                                               content_read_right(sb + at, k, fb.quantisation);
      if (!both_right) continue;
      if (std::memcmp(sa + at, sb + at, BLOCK_SIZE) != 0) return likeness::different;
      ++common;
    }
  }
  return common >= enough_ ? likeness::same : likeness::unknown;
}

}  // namespace dvlog
