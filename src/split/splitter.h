// Cuts the input into parts while it is read (--split DIR): at recording
// starts, changes of format and, when asked, jumps; always at the first byte
// of the first DIF sequence of a frame. Bytes before the first frame go with
// the first part and bytes between frames with the part they follow, so the
// parts put together are the input, byte for byte.
//
// Each part is written under a hidden name in DIR and named when it ends, so
// a part with a name is always whole, and no existing file is replaced. From
// a regular file the kernel copies the bytes (copy_file_range, which shares
// them on file systems that can); from a pipe they are written as they
// arrive, so that a capture is cut while it runs. Nothing is held in memory
// but a fixed buffer for copies the kernel will not make.
#pragma once

#include <cstddef>
#include <cstdint>

#include "events/events.h"
#include "events/part_facts.h"
#include "output/output_stream.h"
#include "output/safe_file.h"
#include "split/split_rules.h"

namespace dvlog {

struct split_setup {
  const char* directory;
  unsigned rules;          // split_rule bits of the command line
  const char* base_name;   // of the parts: the input's name without extension
  int input_fd;
  bool input_regular;      // read the parts' bytes again from the input,
  uint64_t input_start;    //   where its first byte read lies in the file
  int64_t year_now;
  int err_fd;
  output_stream* out;          // written out before a message
  part_listener* listener;      // told of each part when it is named; nullptr for none
  part_facts* records;         // kept for the lines after the summary
  int record_capacity;
  uint8_t* copy_buffer;        // for copies the kernel will not make
  size_t copy_size;
};

class splitter final : public event_sink {
 public:
  explicit splitter(const split_setup& setup);

  // Bytes of the input as they are read, before they are analysed: from a
  // pipe they go into the part being written.
  void bytes(const uint8_t* data, size_t size);
  // The input has ended after `input_bytes`, or the reading was stopped
  // there: the last part is ended with the summary; when stopped, after the
  // last frame read whole (the one being read may be cut short).
  void set_input_end(uint64_t input_bytes, bool stopped = false) {
    input_end_ = input_bytes;
    stopped_ = stopped;
  }

  void status(const status_event&) override {}
  void recording_start(const recording_start_event&) override {}
  void timecode_broken(const timecode_broken_event&) override {}
  void audio_block_warning(const audio_block_warning_event&) override {}
  void frame(const frame_event& e) override;
  void timecode_jump(const timecode_jump_event& e) override;
  void recording_time_jump(const recording_time_jump_event& e) override;
  void summary(const summary_event&) override;

  // False once a part could not be written (and that was told): from then on
  // no part is written.
  bool ok() const { return !failed_; }
  // "Part N: ..." for every part written, and how many more there were.
  void write_lines(output_stream& out) const;

 private:
  bool cuts_before(const frame_event& f, bool opens);
  safe_file& part() { return parts_[current_]; }
  bool make_part_file(safe_file& file, int number);
  void begin_part(uint64_t offset);
  bool copy_in(uint64_t end);
  void name_part(safe_file& file, uint64_t end);
  bool copy(int from_fd, uint64_t from, int to_fd, uint64_t length);
  bool write_error(int error);
  bool name_current();

  split_setup setup_;
  safe_file parts_[2];  // the part being written, and the next while bytes move into it
  int current_ = 0;
  char path_[4096] = {};
  bool failed_ = false;
  bool open_ = false;           // a part's file is being written
  int number_ = 0;              // of the part being written
  uint64_t part_start_ = 0;     // its first byte in the input
  uint64_t written_end_ = 0;    // from a pipe: the input's bytes written so far
  uint64_t copied_ = 0;         // from a regular file: the input's bytes copied so far
  static constexpr uint64_t COPY_STEP = 4 << 20;
  uint64_t input_end_ = 0;
  uint64_t frame_end_ = 0;      // of the last frame in a part
  bool stopped_ = false;
  int64_t frames_ = 0;          // in the part
  int32_t first_frame_ = 0;
  frame_stamp first_{}, last_{};
  frame_format format_{};       // of the part, as far as known
  uint64_t time_jump_at_ = UINT64_MAX;      // offset of a frame whose recording time jumped, unmarked
  uint64_t timecode_jump_at_ = UINT64_MAX;  // offset of a frame whose timecode jumped
  int32_t recording_ = 0;       // of the last frame, as the analysis numbers them
  int records_ = 0;
  int64_t more_ = 0;            // parts beyond the records kept
};

}  // namespace dvlog
