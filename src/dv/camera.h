// The camera codes of the VAUX camera packs, as values: aperture, gain and
// shutter speed.
#pragma once

#include <cstdint>

namespace dvlog {

// The iris code counts eighths of a stop from f/1.0 at 0xC0; codes up to 0xBF
// are no aperture and 0xFF is unknown.
struct f_number {
  enum kind_t { UNKNOWN, INVALID, VALUE } kind;
  float value;
  bool whole;  // shown as a whole number (from f/10 on)
};
f_number aperture_of(uint8_t iris);

// Gain codes 1 to 14 are 3 dB steps from 0 dB; -1 for any other code.
constexpr int gain_db_of(uint8_t gain) { return gain >= 1 && gain <= 14 ? 3 * (gain - 1) : -1; }

// Shutter codes count units of 1/15600 s: the denominator of the speed, or -1
// for code 0 (invalid) and from 0x7FFF on (unknown, a blank pack among them).
constexpr uint16_t SHUTTER_BLANK = 0x7FFF;
int shutter_denominator_of(uint16_t shutter);

}  // namespace dvlog
