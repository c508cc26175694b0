// The progress line on standard error during long runs: bytes read (and, for
// files, the share and the time left), the rate and the frames so far; with
// several inputs, which one is read and the bytes of all of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/output_stream.h"

namespace dvlog {

class progress_line final : public screen_line {
 public:
  // `total`: the size of the inputs, 0 when it is not known; `files`: how
  // many there are.
  progress_line(int fd, uint64_t total, int files = 1);

  // Starts a stage of a run that has several (indexing, writing): the line
  // names it, counts `total` bytes afresh, and is drawn at once.
  void begin(const char* doing, uint64_t total, int files = 1);
  // Redraws the line, at most four times a second: `bytes` of all inputs
  // read so far, `frames` of the one being read, input number `file` (from 1).
  void update(uint64_t bytes, int32_t frames, int file = 1);
  // Removes the line from the screen; the next update draws it again.
  void erase() override;

 private:
  void draw(int64_t now, uint64_t bytes, int32_t frames, int file);

  int fd_;
  const char* doing_ = nullptr;
  uint64_t total_;
  int files_;
  int64_t start_ns_;
  int64_t last_draw_ns_;
  size_t shown_ = 0;  // characters on the screen
};

// The text of the line, into out.
// "file FILE of FILES, " leads it when there are several, and "DOING, "
// before that when a stage is named.
void progress_text(uint64_t bytes, uint64_t total, double seconds, int32_t frames, char* out, size_t size,
                   int file = 1, int files = 1, const char* doing = nullptr);

}  // namespace dvlog
