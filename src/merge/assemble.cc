#include "merge/assemble.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "dv/errors.h"
#include "dv/recognizer.h"
#include "dv/system.h"
#include "input/scanner.h"
#include "output/byte_copy.h"
#include "output/safe_file.h"
#include "output/output_stream.h"

namespace dvlog {

namespace {

constexpr size_t FRAME_BYTES = MERGE_SLOTS * SEQUENCE_SIZE;
constexpr int BLOCKS_PER_SEQUENCE = static_cast<int>(SEQUENCE_SIZE / BLOCK_SIZE);  // 150
constexpr size_t STRETCHES_PER_CHUNK = 65536;
// The disk is set to writing the stream every this many bytes, while the
// merge goes on, so that the sync before it is named has little left to do.
constexpr uint64_t WRITEBACK_BYTES = uint64_t{64} << 20;

// What a block of a sequence is, by its place: the header, two subcode
// blocks, three VAUX blocks, then rows of one audio block and fifteen video
// blocks.
enum class block_kind { header, packs, audio, video };
constexpr block_kind kind_of_block(int b) {
  return b == 0 ? block_kind::header
         : b < 6 ? block_kind::packs
         : (b - 6) % 16 == 0 ? block_kind::audio
                             : block_kind::video;
}

// How badly a video block was read, for choosing among reads that all lost
// it, in the order of block_status: one concealed (a block of a neighbouring
// frame in its place) shows least, then one with the error code, then a
// status of no known meaning; a block that is no video block at all, most.
int video_damage(const uint8_t* block) {
  if (!is_video_block_id(block[ID0])) return static_cast<int>(block_status::unknown) + 1;
  return static_cast<int>(STA_MEANING[block[VIDEO_STA] >> 4]);
}

// An audio block that is none is worse than any count of error samples.
int audio_damage(const uint8_t* block, uint8_t quantisation) {
  const int errors = audio_block_errors(block, quantisation);
  return errors < 0 ? INT_MAX : errors;
}

// Puts the sequences found in a stretch of a file into their slots.
class slot_filler final : public sequence_consumer {
 public:
  slot_filler(uint8_t* slots, uint64_t& held, uint64_t size) : slots_(slots), held_(held), size_(size) {}
  void on_sequence(const uint8_t* s, uint64_t offset) override {
    const int slot = merge_slot(s[SUBCODE_BLOCK_0 + ID1]);
    if (offset >= size_ || slot < 0) return;
    std::memcpy(slots_ + static_cast<size_t>(slot) * SEQUENCE_SIZE, s, SEQUENCE_SIZE);
    held_ |= uint64_t{1} << slot;
  }

 private:
  uint8_t* slots_;
  uint64_t& held_;
  uint64_t size_;
};

}  // namespace

assembler::assembler(const std::vector<transfer_index>& transfers, const merge_plan& plan, const input_source* files,
                     int out_fd, merge_tally& tally)
    : transfers_(transfers),
      plan_(plan),
      files_(files),
      out_fd_(out_fd),
      tally_(tally),
      reads_(new uint8_t[FRAME_BYTES * MAX_READS]),
      quantisation_(new uint8_t[transfers.size()]),
      frame_(new uint8_t[FRAME_BYTES]),
      window_(new uint8_t[SCAN_WINDOW_SIZE]) {
  tally_.transfers.assign(transfers.size(), merge_transfer{});
  for (size_t t = 0; t < transfers.size(); ++t) {
    merge_transfer& m = tally_.transfers[t];
    m.name = files[t].name;
    m.frames = static_cast<int64_t>(transfers[t].frames.size());
    m.damaged_blocks = transfers[t].damaged_blocks;
    m.off_speed = transfers[t].off_speed;
    m.repeated = plan.repeated[t];
    quantisation_[t] = 0xFF;
  }
  tally_.passes.assign(static_cast<size_t>(plan.columns), merge_pass{});
  for (int32_t c = 0; c < plan.columns; ++c) {
    merge_pass& pass = tally_.passes[static_cast<size_t>(c)];
    pass.transfer = plan.column_transfer[static_cast<size_t>(c)];
    pass.number = ++tally_.transfers[static_cast<size_t>(pass.transfer)].passes;
    pass.first_frame = pass.last_frame = -1;
    for (int64_t p = 0; p < plan.frames(); ++p) {
      if (plan.frame(p)[c] < 0) continue;
      if (pass.first_frame < 0) pass.first_frame = p;
      pass.last_frame = p;
      ++pass.frames;
    }
  }
  tally_.stretches.reserve(STRETCHES_PER_CHUNK);
}

int assembler::write(const stop_request& stop, const wait_control* wait, progress_line* progress) {
  wait_ = wait;
  for (int64_t p = 0; p < plan_.frames(); ++p) {
    if (stop_requested(stop)) return EINTR;
    const int error = write_frame(plan_.frame(p));
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

int assembler::write_frame(const int32_t* row) {
  // The reads of the frame, the first passes' first.
  reads_held_ = 0;
  for (int32_t c = 0; c < plan_.columns && reads_held_ < MAX_READS; ++c)
    if (row[c] >= 0)
      read_column_[reads_held_] = c, read_transfer_[reads_held_++] = plan_.column_transfer[static_cast<size_t>(c)];
  const int32_t base = read_transfer_[0];
  auto entry = [&](int k) -> const frame_entry& {
    return transfers_[static_cast<size_t>(read_transfer_[k])].frames[static_cast<size_t>(row[read_column_[k]])];
  };
  const frame_entry& first = entry(0);
  merge_transfer& from_base = tally_.transfers[static_cast<size_t>(base)];
  merge_pass& base_pass = tally_.passes[static_cast<size_t>(read_column_[0])];
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
    error = load(k, read_transfer_[k], row[read_column_[k]]);
    held |= slots_[k];
  }
  if (error != 0) return error;

  const transfer_index& format = transfers_.front();
  uint64_t expected = 0;
  const int32_t per_channel = format.system == 0xFF ? 0 : system_of(format.system).sequences_per_frame;
  for (int32_t c = 0; c < format.channels && c < MAX_CHANNELS; ++c)
    for (int32_t n = 0; n < per_channel; ++n) expected |= uint64_t{1} << (c * MAX_SEQUENCE_NUMBERS + n);
  const int missing = __builtin_popcountll(expected & ~held);

  merge_event& totals = tally_.totals;
  const int64_t damaged_before = totals.damaged_blocks;
  uint32_t from_reads = 0;
  size_t sequences = 0;
  for (int slot = 0; slot < MERGE_SLOTS; ++slot)
    if (held >> slot & 1) build_sequence(slot, frame_.get() + SEQUENCE_SIZE * sequences++, &from_reads);
  const bool damaged = totals.damaged_blocks > damaged_before || missing > 0;
  totals.sequences_missing += missing;
  totals.damaged_frames += damaged;
  const bool several = __builtin_popcount(from_reads) > 1;
  totals.assembled_frames += several;
  add_stretch(several ? -1 : from_reads ? read_transfer_[__builtin_ctz(from_reads)] : base, damaged);
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

// Reads transfer t's frame `index` into the slots of read k: at once when its
// sequences lie back to back, else by finding them between it and the next
// frame.
int assembler::load(int k, int32_t t, int32_t index) {
  const transfer_index& transfer = transfers_[static_cast<size_t>(t)];
  const frame_entry& f = transfer.frames[static_cast<size_t>(index)];
  uint8_t* slots = reads_.get() + FRAME_BYTES * static_cast<size_t>(k);
  uint64_t& held = slots_[k];
  held = 0;
  const int fd = files_[t].fd;
  if (f.flags & FRAME_CONTIGUOUS) {
    const size_t size = size_t{f.sequences} * SEQUENCE_SIZE;
    const ssize_t got = pread(fd, frame_.get(), size, static_cast<off_t>(f.offset));
    if (got < 0 || static_cast<size_t>(got) != size) {
      failed_read_ = t;
      return got < 0 ? errno : EIO;  // or the file was cut short since it was read
    }
    slot_filler fill(slots, held, size);
    for (size_t k = 0; k < f.sequences; ++k) fill.on_sequence(frame_.get() + k * SEQUENCE_SIZE, k * SEQUENCE_SIZE);
  } else {
    const size_t next = static_cast<size_t>(index) + 1;
    const uint64_t end = next < transfer.frames.size() ? transfer.frames[next].offset : files_[t].size;
    slot_filler fill(slots, held, end - f.offset);
    scanner scan(window_.get(), fill);
    // A sequence is found once a sequence's worth of bytes lies beyond it:
    // read on past the frame by that much.
    for (uint64_t at = f.offset, stop = end + SEQUENCE_SIZE; at < stop;) {
      size_t room;
      uint8_t* into = scan.space(&room);
      const ssize_t got = pread(fd, into, static_cast<size_t>(std::min<uint64_t>(room, stop - at)), static_cast<off_t>(at));
      if (got < 0) {
        failed_read_ = t;
        return errno;
      }
      if (got == 0) break;
      scan.append(static_cast<size_t>(got));
      at += static_cast<uint64_t>(got);
    }
    if (const uint8_t* last = scan.unexamined_sequence()) fill.on_sequence(last, scan.bytes() - SEQUENCE_SIZE);
  }
  for (int slot = 0; slot < MERGE_SLOTS; ++slot)
    if (held >> slot & 1) quantisation_[t] = sequence_quantisation(slots + SEQUENCE_SIZE * static_cast<size_t>(slot), quantisation_[t]);
  return 0;
}

void assembler::build_sequence(int slot, uint8_t* out, uint32_t* from_reads) {
  int readers[MAX_READS];  // the reads that hold the sequence
  int count = 0;
  for (int k = 0; k < reads_held_; ++k)
    if (slots_[k] >> slot & 1) readers[count++] = k;
  auto block_of = [&](int k, size_t at) {
    return reads_.get() + FRAME_BYTES * static_cast<size_t>(k) + SEQUENCE_SIZE * static_cast<size_t>(slot) + at;
  };

  merge_event& totals = tally_.totals;
  for (int b = 0; b < BLOCKS_PER_SEQUENCE; ++b) {
    const size_t at = static_cast<size_t>(b) * BLOCK_SIZE;
    const block_kind kind = kind_of_block(b);
    int chosen = readers[0];
    bool right = true;
    if (kind == block_kind::packs) {
      // Read right: holding every pack any read of the block holds.
      uint32_t all = 0, held[MAX_READS];
      for (int i = 0; i < count; ++i) all |= held[i] = packs_held(block_of(readers[i], at));
      int best = -1;
      right = false;
      for (int i = 0; i < count && !right; ++i) {
        const int n = __builtin_popcount(held[i]);
        if (held[i] == all) right = true;
        if (held[i] == all || n > best) best = n, chosen = readers[i];
      }
    } else if (kind != block_kind::header) {
      int least = INT_MAX;
      for (int i = 0; i < count; ++i) {
        const uint8_t* block = block_of(readers[i], at);
        const uint8_t quantisation = quantisation_[read_transfer_[readers[i]]];
        const int damage = kind == block_kind::video ? video_damage(block) : audio_damage(block, quantisation);
        if (damage < least || i == 0) least = damage, chosen = readers[i];
        if (damage == 0) break;
      }
      right = least == 0;
      if (!right) ++totals.damaged_blocks;
    }
    std::memcpy(out + at, block_of(chosen, at), BLOCK_SIZE);
    ++tally_.transfers[static_cast<size_t>(read_transfer_[chosen])].blocks_taken;
    ++tally_.passes[static_cast<size_t>(read_column_[chosen])].blocks_taken;
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
      copy_range(files_[from].fd, copy_offset_, out_fd_, copy_size_, frame_.get(), FRAME_BYTES, &reading);
  if (reading) failed_read_ = from;  // or the file was cut short since it was read
  if (error == 0) wrote(copy_size_);
  return error;
}

}  // namespace dvlog
