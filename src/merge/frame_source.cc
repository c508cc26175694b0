#include "merge/frame_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "dv/errors.h"
#include "dv/recognizer.h"
#include "input/scanner.h"

namespace dvlog {

namespace {

// Puts the sequences of one frame into their slots, as they come: a
// sequence numbered no higher than the last of its channel begins the
// frame's second picture (DVCPRO HD 720p records two under one timecode
// frame), whichever sequences were lost.
class slot_filler final : public sequence_consumer {
 public:
  slot_filler(frame_bytes& into, int32_t channels, uint64_t size) : into_(into), channels_(channels), size_(size) {}
  void on_sequence(const uint8_t* s, uint64_t offset) override {
    const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
    const int channel = static_cast<int>(channel_number(id1)), number = static_cast<int>(sequence_number(id1));
    if (offset >= size_ || number >= SLOT_STRIDE) return;
    if (number <= last_[channel]) {
      ++picture_;
      for (int& n : last_) n = -1;
    }
    last_[channel] = number;
    const int lane = picture_ * channels_ + channel;
    const int slot = lane * SLOT_STRIDE + number;
    if (lane >= MAX_CHANNELS || (into_.held >> slot & 1)) return;
    std::memcpy(into_.slots + SEQUENCE_SIZE * static_cast<size_t>(slot), s, SEQUENCE_SIZE);
    into_.held |= uint64_t{1} << slot;
  }

 private:
  frame_bytes& into_;
  int32_t channels_;
  uint64_t size_;
  int picture_ = 0;
  int last_[MAX_CHANNELS] = {-1, -1, -1, -1};
};

}  // namespace

bool video_read_right(const uint8_t* block) { return video_block_right(block); }

bool audio_read_right(const uint8_t* block, uint8_t quantisation) {
  return quantisation != NO_INFO8 && audio_block_errors(block, quantisation) == 0;
}

bool content_read_right(const uint8_t* block, int b, uint8_t quantisation) {
  switch (section_at(b)) {
    case SECTION_VIDEO:
      return video_read_right(block);
    case SECTION_AUDIO:
      return audio_read_right(block, quantisation);
    default:
      return false;
  }
}

frame_source::frame_source(const std::vector<transfer_index>& transfers, const input_source* files)
    : transfers_(transfers), files_(files), staging_(new uint8_t[FRAME_BUFFER_BYTES]),
      window_(new uint8_t[SCAN_WINDOW_SIZE]) {}

int frame_source::load(int32_t t, int32_t index, frame_bytes& into) {
  const transfer_index& transfer = transfers_[static_cast<size_t>(t)];
  const frame_entry& f = transfer.frames[static_cast<size_t>(index)];
  into.held = 0;
  into.quantisation = NO_INFO8;
  const int fd = files_[t].fd;
  if (f.flags & FRAME_CONTIGUOUS) {
    const size_t size = std::min<size_t>(size_t{f.sequences}, FRAME_SLOTS) * SEQUENCE_SIZE;
    const ssize_t got = pread(fd, staging_.get(), size, static_cast<off_t>(f.offset));
    if (got < 0 || static_cast<size_t>(got) != size) {
      failed_read_ = t;
      return got < 0 ? errno : EIO;  // or the file was cut short since it was read
    }
    slot_filler fill(into, transfer.channels, size);
    for (size_t k = 0; k * SEQUENCE_SIZE < size; ++k)
      fill.on_sequence(staging_.get() + k * SEQUENCE_SIZE, k * SEQUENCE_SIZE);
  } else {
    const size_t next = static_cast<size_t>(index) + 1;
    const uint64_t end = next < transfer.frames.size() ? transfer.frames[next].offset : files_[t].size;
    slot_filler fill(into, transfer.channels, end - f.offset);
    scanner scan(window_.get(), fill);
    // A sequence is found once a sequence's worth of bytes lies beyond it:
    // read on past the frame by that much.
    for (uint64_t at = f.offset, stop = end + SEQUENCE_SIZE; at < stop;) {
      size_t room;
      uint8_t* space = scan.space(&room);
      const ssize_t got = pread(fd, space, static_cast<size_t>(std::min<uint64_t>(room, stop - at)), static_cast<off_t>(at));
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
  for (int slot = 0; slot < FRAME_SLOTS && into.quantisation == NO_INFO8; ++slot)
    if (into.held >> slot & 1) into.quantisation = sequence_quantisation(into.sequence(slot), NO_INFO8);
  return 0;
}

}  // namespace dvlog
