// The settings of a status line, as the text log and the report show them:
// "AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, DV25, Interlaced[, AUDIO=...]
// [, Camera2=...][, AP2=...][, SH2=...]".
#pragma once

#include <cstddef>

#include "events/events.h"

namespace dvlog {

// Writes the text into out (256 bytes are enough) and returns it.
const char* status_settings_text(const status_event& e, char* out, size_t size);

}  // namespace dvlog
