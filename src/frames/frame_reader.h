// Reads a stream's DIF sequences into frames, as the sequences' own numbers
// delimit them, and hands each frame, whole, to a listener.
#pragma once

#include <cstdint>

#include "dv/dif.h"
#include "dv/dv_meta.h"
#include "frames/tape_frame.h"

namespace dvlog {

class frame_reader final : public sequence_consumer {
 public:
  explicit frame_reader(frame_listener& listener);

  void on_sequence(const uint8_t* s, uint64_t offset) override;

  // At the end of the input: `unexamined` is the sequence that ends it when
  // no byte followed it (the scanner never handed it on), or nullptr;
  // `input_bytes` the input's length. Closes the last frame and tells the
  // bytes after it.
  void finish(uint64_t input_bytes, const uint8_t* unexamined);

  // Frames begun so far, the one being read included.
  int32_t frames() const { return number_; }

 private:
  void open_frame(const uint8_t* s, uint64_t offset);
  void close_frame();
  void read_packs(const uint8_t* s);
  bool begins_frame(unsigned channel, unsigned number);

  frame_listener& listener_;
  tape_frame frame_{};
  tape_frame previous_{};   // content hashes of the frame before, for repeats
  bool open_ = false;
  bool had_previous_ = false;
  int32_t number_ = 0;
  uint64_t next_offset_ = 0;   // where the sequence after the last would start
  int last_number_[MAX_CHANNELS] = {-1, -1, -1, -1};  // in the picture being read, by channel
  int picture_ = 0;            // of the frame being read (DVCPRO HD 720p holds two)
  int32_t channels_seen_ = 0;  // 1 + the highest channel met in the stream
  uint8_t quantisation_ = NO_INFO8;  // of the last audio source pack met
  // What the frame's packs said so far, and where its date and time came from.
  dv_meta meta_{};
  uint32_t dates_[4] = {}, times_[4] = {};  // by date_source
  uint8_t known_system_ = NO_INFO8, known_type_ = NO_INFO8;  // of the stream so far
};

}  // namespace dvlog
