#include "texts/status_text.h"

#include <cstdio>

#include "dv/system.h"
#include "texts/camera_texts.h"
#include "texts/picture_texts.h"

namespace dvlog {

namespace {

// Appends to out at *used, keeping it terminated and within size.
template <typename... Args>
void append(char* out, size_t size, size_t* used, const char* format, Args... args) {
  if (*used >= size) return;
  const int n = std::snprintf(out + *used, size - *used, format, args...);
  if (n > 0) *used = *used + static_cast<size_t>(n) < size ? *used + static_cast<size_t>(n) : size - 1;
}

}  // namespace

const char* status_settings_text(const status_event& e, char* out, size_t size) {
  const dv_meta& m = e.settings;
  char aperture[8], gain[8], shutter[8], video_type[4];
  size_t used = 0;
  out[0] = '\0';
  append(out, size, &used, "AP=%s, GAIN=%s, SHUTTER=%s, %s, %s, %s, %s", aperture_text(m.iris, aperture, sizeof aperture),
         gain_text(m.gain, gain, sizeof gain), shutter_text(m.shutter, shutter, sizeof shutter), aspect_text(m.aspect),
         system_text(m.system), video_type_text(m.video_type, video_type, sizeof video_type),
         m.interlaced ? "Interlaced" : "Progressive");
  if (e.has_audio)
    append(out, size, &used, ", AUDIO=%s %d bits, %s, %soffset=%d", AUDIO_RATE_NAMES[m.audio_rate_code & 3],
           AUDIO_BITS[m.audio_bits_code & 3], m.audio_unlocked ? "Unlocked" : "Locked",
           m.emphasis_off ? "" : "Emphasis on, ", e.audio_offset);
  // The raw camera words only when they changed.
  if (e.changed & CHANGED_CAMERA2) append(out, size, &used, ", Camera2=%08X", m.camera2);
  if (e.changed & CHANGED_AP2) append(out, size, &used, ", AP2=%04X", m.ap2);
  if (e.changed & CHANGED_SH2) append(out, size, &used, ", SH2=%04X", m.sh2);
  return out;
}

}  // namespace dvlog
