// Where a split cuts the input (--split-at).
#pragma once

namespace dvlog {

enum split_rule : unsigned {
  SPLIT_AT_START = 1u << 0,          // a recording-start mark
  SPLIT_AT_FORMAT = 1u << 1,         // a change of system, signal type, aspect or audio format
  SPLIT_AT_TIME_JUMP = 1u << 2,      // a recording-time jump without a start mark
  SPLIT_AT_TIMECODE_JUMP = 1u << 3,  // a timecode jump
};

}  // namespace dvlog
