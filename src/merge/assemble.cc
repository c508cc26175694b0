#include "merge/assemble.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "dv/errors.h"
#include "dv/recognizer.h"
#include "dv/system.h"
#include "output/byte_copy.h"
#include "output/output_stream.h"

namespace dvlog {

namespace {

constexpr size_t STRETCHES_PER_CHUNK = 65536;
// The disk is set to writing the stream every this many bytes, while the
// merge goes on, so that the sync before it is named has little left to do.
constexpr uint64_t WRITEBACK_BYTES = uint64_t{64} << 20;

// How badly a video block was read, for choosing among reads that all lost
// it, in the order of block_status: one concealed (a block of a neighbouring
// frame in its place) shows least, then one with the error code, then a
// status of no known meaning; a block that is no video block at all, most.
int video_damage(const uint8_t* block) {
  if (!is_video_block_id(block[ID0])) return static_cast<int>(block_status::unknown) + 1;
  return static_cast<int>(STA_MEANING[block[VIDEO_STA] >> 4]);
}

// Error samples of an audio block; where its frame's audio source pack was
// not read (a deck's stand-in), worse than any count of them; an audio block
// that is none, worst.
int audio_damage(const uint8_t* block, uint8_t quantisation) {
  const int errors = audio_block_errors(block, quantisation == NO_INFO8 ? QUANTISATION_16_BITS : quantisation);
  if (errors < 0) return INT_MAX;
  return quantisation == NO_INFO8 ? INT_MAX - 1 : errors;
}

}  // namespace

assembler::assembler(const std::vector<transfer_index>& transfers, const merge_plan& plan, const input_source* files,
                     int out_fd, merge_tally& tally)
    : transfers_(transfers),
      plan_(plan),
      files_(files),
      out_fd_(out_fd),
      tally_(tally),
      source_(transfers, files),
      reads_(new uint8_t[FRAME_BUFFER_BYTES * MAX_READS]),
      frame_(new uint8_t[FRAME_BUFFER_BYTES]) {
  for (int k = 0; k < MAX_READS; ++k) loaded_[k].slots = reads_.get() + FRAME_BUFFER_BYTES * static_cast<size_t>(k);
  tally_.transfers.assign(transfers.size(), merge_transfer{});
  for (size_t t = 0; t < transfers.size(); ++t) {
    merge_transfer& m = tally_.transfers[t];
    m.name = files[t].name;
    m.frames = static_cast<int64_t>(transfers[t].frames.size());
    m.damaged_blocks = transfers[t].damaged_blocks;
    m.off_speed = transfers[t].off_speed;
    m.repeated = plan.repeated[t];
  }
  const size_t passes = plan.pass_transfer.size();
  tally_.passes.assign(passes, merge_pass{});
  for (size_t p = 0; p < passes; ++p) {
    merge_pass& pass = tally_.passes[p];
    pass.transfer = plan.pass_transfer[p];
    pass.number = ++tally_.transfers[static_cast<size_t>(pass.transfer)].passes;
    pass.first_frame = pass.last_frame = -1;
  }
  for (int64_t row = 0; row < plan.frames(); ++row)
    for (int32_t k = 0; k < plan.row_size(row); ++k) {
      if (k > 0 && plan.row(row)[k - 1].pass == plan.row(row)[k].pass) continue;  // a repeat
      merge_pass& pass = tally_.passes[static_cast<size_t>(plan.row(row)[k].pass)];
      if (pass.first_frame < 0) pass.first_frame = row;
      pass.last_frame = row;
      ++pass.frames;
    }
  tally_.stretches.reserve(STRETCHES_PER_CHUNK);
}

int assembler::write(const stop_request& stop, const wait_control* wait, progress_line* progress) {
  wait_ = wait;
  for (int64_t row = 0; row < plan_.frames(); ++row) {
    if (stop_requested(stop)) return EINTR;
    const int error = write_frame(row);
    if (error != 0) return error;
    if (progress) progress->update(written_ + copy_size_, static_cast<int32_t>(frames_written_));
  }
  const int error = flush_copy();
  tally_.totals.frames = frames_written_;
  return error;
}

void assembler::add_stretch(int32_t transfer, bool damaged) {
  std::vector<merge_stretch>& v = tally_.stretches;
  if (!v.empty() && v.back().transfer == transfer && v.back().damaged == damaged) {
    ++v.back().frames;
  } else {
    if (v.size() == v.capacity()) v.reserve(v.capacity() + STRETCHES_PER_CHUNK);
    v.push_back({frames_written_, 1, transfer, damaged});
  }
  ++frames_written_;
}

int assembler::write_frame(int64_t row) {
  // The reads of the frame, the first passes' first.
  const plan_read* reads = plan_.row(row);
  reads_held_ = std::min(plan_.row_size(row), MAX_READS);
  for (int k = 0; k < reads_held_; ++k)
    read_pass_[k] = reads[k].pass, read_transfer_[k] = plan_.pass_transfer[static_cast<size_t>(reads[k].pass)];
  auto entry = [&](int k) -> const frame_entry& {
    return transfers_[static_cast<size_t>(read_transfer_[k])].frames[static_cast<size_t>(reads[k].frame)];
  };
  const int32_t base = read_transfer_[0];
  const frame_entry& first = entry(0);
  merge_transfer& from_base = tally_.transfers[static_cast<size_t>(base)];
  merge_pass& base_pass = tally_.passes[static_cast<size_t>(read_pass_[0])];
  ++from_base.frames_taken, ++base_pass.frames_taken;

  bool whole = first.intact() && (first.flags & FRAME_CONTIGUOUS);
  for (int k = 1; k < reads_held_ && whole; ++k)
    if (entry(k).packs_read > first.packs_read) whole = false;
  if (whole) {
    const int64_t blocks = int64_t{first.sequences} * BLOCKS_PER_SEQUENCE;
    from_base.blocks_taken += blocks, base_pass.blocks_taken += blocks;
    add_stretch(base, false);
    return copy_whole(base, first);
  }

  int error = flush_copy();
  uint64_t held = 0;
  for (int k = 0; k < reads_held_ && error == 0; ++k) {
    error = source_.load(read_transfer_[k], reads[k].frame, loaded_[k]);
    held |= loaded_[k].held;
  }
  if (error != 0) {
    failed_read_ = source_.failed_read();
    return error;
  }

  const transfer_index& format = transfers_.front();
  uint64_t expected = 0;
  const int32_t per_lane = format.system == NO_INFO8 ? 0 : system_of(format.system).sequences_per_frame;
  for (int32_t lane = 0; lane < format.lanes && lane < MAX_CHANNELS; ++lane)
    for (int32_t n = 0; n < per_lane; ++n) expected |= uint64_t{1} << (lane * SLOT_STRIDE + n);
  const int missing = __builtin_popcountll(expected & ~held);

  merge_event& totals = tally_.totals;
  const int64_t damaged_before = totals.damaged_blocks;
  uint32_t from_reads = 0;
  size_t sequences = 0;
  for (int slot = 0; slot < FRAME_SLOTS; ++slot)
    if (held >> slot & 1) build_sequence(slot, reads, frame_.get() + SEQUENCE_SIZE * sequences++, &from_reads);
  const bool damaged = totals.damaged_blocks > damaged_before || missing > 0;
  totals.sequences_missing += missing;
  totals.damaged_frames += damaged;
  // Assembled: from several transfers, or, from a lone transfer, several passes.
  const int first_used = from_reads ? __builtin_ctz(from_reads) : 0;
  bool several_transfers = false;
  for (int k = 0; k < reads_held_; ++k)
    several_transfers |= (from_reads >> k & 1) && read_transfer_[k] != read_transfer_[first_used];
  const bool several = transfers_.size() == 1 ? __builtin_popcount(from_reads) > 1 : several_transfers;
  totals.assembled_frames += several;
  add_stretch(several_transfers ? -1 : read_transfer_[first_used], damaged);
  error = write_all(out_fd_, reinterpret_cast<const char*>(frame_.get()), SEQUENCE_SIZE * sequences, wait_);
  if (error == 0) wrote(SEQUENCE_SIZE * sequences);
  return error;
}

void assembler::wrote(uint64_t bytes) {
  written_ += bytes;
  if (written_ - synced_ < WRITEBACK_BYTES) return;
  // Only a hint: a file system that cannot take it syncs it all at the end.
  (void)sync_file_range(out_fd_, static_cast<off_t>(synced_), static_cast<off_t>(written_ - synced_),
                        SYNC_FILE_RANGE_WRITE);
  synced_ = written_;
}

void assembler::build_sequence(int slot, const plan_read* row, uint8_t* out, uint32_t* from_reads) {
  int readers[MAX_READS];  // the reads that hold the sequence
  int count = 0;
  for (int k = 0; k < reads_held_; ++k)
    if (loaded_[k].held >> slot & 1) readers[count++] = k;
  auto block_of = [&](int k, size_t at) { return loaded_[k].sequence(slot) + at; };
  auto entry = [&](int k) -> const frame_entry& {
    return transfers_[static_cast<size_t>(read_transfer_[k])].frames[static_cast<size_t>(row[k].frame)];
  };

  merge_event& totals = tally_.totals;
  for (int b = 0; b < BLOCKS_PER_SEQUENCE; ++b) {
    const size_t at = static_cast<size_t>(b) * BLOCK_SIZE;
    const dif_section section = section_at(b);
    int chosen = readers[0];
    bool right = true;
    if (section == SECTION_SUBCODE || section == SECTION_VAUX) {
      // Read right: holding every pack any read of the block holds; of
      // those, one from a frame with packs (never a deck's stand-in, whose
      // packs are all 0xFF, where the tape holds none there either).
      uint32_t all = 0, held[MAX_READS];
      for (int i = 0; i < count; ++i) all |= held[i] = packs_held(block_of(readers[i], at));
      int best = -1;
      for (int i = 0; i < count; ++i) {
        const int score = 2 * __builtin_popcount(held[i]) + (entry(readers[i]).packs_read > 0);
        if (score > best) best = score, chosen = readers[i];
      }
      for (int i = 0; i < count; ++i)
        if (readers[i] == chosen) right = held[i] == all;
    } else if (section != SECTION_HEADER) {
      int least = INT_MAX;
      for (int i = 0; i < count; ++i) {
        const uint8_t* block = block_of(readers[i], at);
        const int damage = section == SECTION_VIDEO ? video_damage(block)
                                                    : audio_damage(block, loaded_[readers[i]].quantisation);
        if (damage < least || i == 0) least = damage, chosen = readers[i];
        if (damage == 0) break;
      }
      right = least == 0;
      if (!right) ++totals.damaged_blocks;
    }
    std::memcpy(out + at, block_of(chosen, at), BLOCK_SIZE);
    ++tally_.transfers[static_cast<size_t>(read_transfer_[chosen])].blocks_taken;
    ++tally_.passes[static_cast<size_t>(read_pass_[chosen])].blocks_taken;
    *from_reads |= 1u << chosen;
    if (right && chosen != 0) ++totals.blocks_recovered;
  }
}

int assembler::copy_whole(int32_t t, const frame_entry& f) {
  const uint64_t size = uint64_t{f.sequences} * SEQUENCE_SIZE;
  if (copy_from_ == t && copy_offset_ + copy_size_ == f.offset && copy_size_ < WRITEBACK_BYTES) {
    copy_size_ += size;
    return 0;
  }
  const int error = flush_copy();
  copy_from_ = t, copy_offset_ = f.offset, copy_size_ = size;
  return error;
}

int assembler::flush_copy() {
  if (copy_from_ < 0) return 0;
  const int32_t from = copy_from_;
  copy_from_ = -1;
  bool reading;
  const int error =
      copy_range(files_[from].fd, copy_offset_, out_fd_, copy_size_, frame_.get(), FRAME_BUFFER_BYTES, &reading);
  if (reading) failed_read_ = from;  // or the file was cut short since it was read
  if (error == 0) wrote(copy_size_);
  return error;
}

}  // namespace dvlog
