// Texts of the picture settings: signal type, display aspect and system.
#pragma once

#include <cstdint>

namespace dvlog {

const char* video_type_text(uint8_t video_type);  // "DV25", "DV50", ... or the code in hex
const char* aspect_text(uint8_t aspect);          // "4:3", "16:9", "Letterbox"
const char* system_text(uint8_t system);          // "NTSC" or "PAL"

}  // namespace dvlog
