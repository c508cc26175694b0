// Texts of the camera settings: aperture, gain and shutter speed.
#pragma once

#include <cstdint>

namespace dvlog {

const char* aperture_text(uint8_t iris);      // f-number: "1.6", "14 ", "?? ", "inv"
const char* gain_text(uint8_t gain);          // " 0 db" to "39 db", "??"
const char* shutter_text(uint16_t shutter);   // "1/60  ", "1/16000", "??????", "invalid"

}  // namespace dvlog
