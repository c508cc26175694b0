// Texts of the picture settings: signal type, display aspect and system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

// "DV25", "DV50", ... or the code in two hexadecimal digits; written into out
// (3 bytes are enough for the code).
const char* video_type_text(uint8_t video_type, char* out, size_t size);
const char* aspect_text(uint8_t aspect);  // "4:3", "16:9", "Letterbox"
const char* system_text(uint8_t system);  // "NTSC" or "PAL"

}  // namespace dvlog
