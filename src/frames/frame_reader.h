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
  // Where a sequence goes: into the frame open, into a new one, or, for one
  // that fills a place the frame lacks without a timecode to tell, where the
  // sequence after it says.
  enum class place { in_frame, new_frame, undecided };
  void take(const uint8_t* s, uint64_t offset, place where);
  bool continues_held(const uint8_t* next) const;
  void open_frame(const uint8_t* s, uint64_t offset);
  void add_sequence(const uint8_t* s, uint64_t offset, unsigned channel, unsigned number);
  void close_frame();
  void read_packs(const uint8_t* s);
  void keep_date(date_source from, const dv_meta& m);
  place place_of(const uint8_t* s, unsigned channel, unsigned number);
  place out_of_place(const uint8_t* s, unsigned channel, unsigned number);
  int frames_per_second() const;
  bool possible_timecode(uint32_t tc) const;
  bool frame_whole_so_far() const;
  uint8_t video_type() const;
  int32_t lanes() const;  // channels times pictures of the frame open
  int64_t missing(int32_t expected) const;
  int32_t expected_sequences() const;

  frame_listener& listener_;
  tape_frame frame_{};
  // The content of the frame before, to tell a repeat.
  uint64_t previous_content_[FRAME_SLOTS] = {};
  uint64_t previous_seen_ = 0, previous_intact_ = 0;
  bool open_ = false;
  bool had_previous_ = false;
  int32_t number_ = 0;
  int32_t sequences_ = 0;      // sequences read so far
  uint64_t next_offset_ = 0;   // where the sequence after the last would start
  int last_number_[MAX_CHANNELS] = {-1, -1, -1, -1};  // in the picture being read, by channel
  int picture_ = 0;            // of the frame being read (DVCPRO HD 720p holds two)
  int last_slot_ = -1;         // of the last sequence the frame took
  int32_t channels_seen_ = 0;  // 1 + the highest channel met in the stream
  uint8_t quantisation_ = NO_INFO8;  // of the last audio source pack met
  // The recording dates and times the frame's packs gave, by date_source.
  uint32_t dates_[3] = {}, times_[3] = {};  // by date_source
  uint8_t known_system_ = NO_INFO8, known_type_ = NO_INFO8;  // of the frames so far
  uint8_t audio_system_ = NO_INFO8;  // the audio source pack's 50/60 bit, where no video source pack read
  frame_format known_format_{NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, 0};
  // The sequence held back until the next tells its frame.
  bool holding_ = false;
  uint64_t held_offset_ = 0;
  uint8_t held_[SEQUENCE_SIZE];
};

}  // namespace dvlog
