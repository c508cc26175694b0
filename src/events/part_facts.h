// A part of a split input, as the logs and the report tell of it.
#pragma once

#include <cstdint>

#include "events/events.h"

namespace dvlog {

struct part_facts {
  int number;               // from 1, in tape order
  const char* path;         // as written: DIR/NAME
  uint64_t offset;          // of its first byte in the input
  uint64_t bytes;
  int64_t frames;
  int32_t first_frame;      // the number of its first frame; 0 when it holds none
  frame_stamp first, last;  // of its first and last frames
};

// Told of each part once it is written whole and named.
class part_listener {
 public:
  virtual void part(const part_facts& p) = 0;

 protected:
  ~part_listener() = default;
};


}  // namespace dvlog
