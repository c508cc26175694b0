// The progress line on standard error during long runs: bytes read (and, for
// a file, the share and the time left), the rate and the frames so far.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/output_stream.h"

namespace dvlog {

class progress_line final : public screen_line {
 public:
  // `total`: the size of the input, 0 when it is not known.
  progress_line(int fd, uint64_t total);

  // Redraws the line, at most four times a second.
  void update(uint64_t bytes, int32_t frames);
  // Removes the line from the screen; the next update draws it again.
  void erase() override;

 private:
  int fd_;
  uint64_t total_;
  int64_t start_ns_;
  int64_t last_draw_ns_;
  size_t shown_ = 0;  // characters on the screen
};

// The text of the line, into out.
void progress_text(uint64_t bytes, uint64_t total, double seconds, int32_t frames, char* out, size_t size);

}  // namespace dvlog
