// A picture of the tape written with --stills, as the logs tell of it.
#pragma once

#include <cstdint>

#include "events/events.h"

namespace dvlog {

// Why a frame was pictured; a frame may be pictured for several reasons.
enum still_reason : unsigned {
  STILL_RECORDING = 1,      // the first frame of a recording
  STILL_ALONG = 2,          // a frame some minutes into a recording
  STILL_BEFORE_DAMAGE = 4,  // the frame just before a damaged run
  STILL_WORST_DAMAGE = 8,   // the worst frame of a damaged run
};
constexpr int STILL_REASONS = 4;
// Their names in the JSON log, bit by bit.
constexpr const char* STILL_REASON_NAMES[STILL_REASONS] = {"recording", "along", "before_damage", "worst_damage"};

struct still_facts {
  const char* path;     // DIR/NAME as written; nullptr when there is no picture
  const char* failure;  // why there is none
  event_place at;       // of the frame
  frame_stamp stamp;
  unsigned reasons;     // still_reason bits
  int32_t recording;    // from 1
  int32_t run_first, run_last;  // the damaged run's frames, for its pictures; else 0
  int width, height;
};

class still_listener {
 public:
  virtual void still(const still_facts& s) = 0;

 protected:
  ~still_listener() = default;
};

}  // namespace dvlog
