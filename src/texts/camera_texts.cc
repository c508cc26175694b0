#include "texts/camera_texts.h"

#include <cstdio>

#include "dv/camera.h"

namespace dvlog {

const char* aperture_text(uint8_t iris, char* out, size_t size) {
  const f_number f = aperture_of(iris);
  if (f.kind == f_number::INVALID)
    std::snprintf(out, size, "inv");
  else if (f.kind == f_number::UNKNOWN)
    std::snprintf(out, size, "?? ");
  else if (f.whole)
    std::snprintf(out, size, "%d ", static_cast<int>(f.value));
  else
    std::snprintf(out, size, "%1.1f", f.value);
  return out;
}

const char* gain_text(uint8_t gain, char* out, size_t size) {
  const int db = gain_db_of(gain);
  if (db < 0)
    std::snprintf(out, size, "??");
  else
    std::snprintf(out, size, "%2d db", db);
  return out;
}

const char* shutter_text(uint16_t shutter, char* out, size_t size) {
  if (shutter == 0) {
    std::snprintf(out, size, "invalid");
  } else if (shutter >= SHUTTER_BLANK) {
    std::snprintf(out, size, "??????");
  } else {
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, "1/%d", shutter_denominator_of(shutter));
    std::snprintf(out, size, "%-6s", fraction);
  }
  return out;
}

}  // namespace dvlog
