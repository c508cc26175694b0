// Texts of the camera settings: aperture, gain and shutter speed. Each writes
// into `out` (of `size` bytes, 8 are enough) and returns it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

const char* aperture_text(uint8_t iris, char* out, size_t size);      // f-number: "1.6", "14 ", "?? ", "inv"
const char* gain_text(uint8_t gain, char* out, size_t size);          // " 0 db" to "39 db", "??"
const char* shutter_text(uint16_t shutter, char* out, size_t size);   // "1/60  ", "1/16000", "??????", "invalid"

}  // namespace dvlog
