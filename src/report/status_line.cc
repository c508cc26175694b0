#include "report/status_line.h"

#include "analysis/analysis.h"
#include "report/camera_texts.h"
#include "report/output.h"
#include "report/picture_texts.h"
#include "report/time_texts.h"

namespace dvlog {

namespace {

// Indexed by the two-bit codes of the audio source pack.
constexpr const char* audio_rate_names[4] = {"48kHz", "44.1kHz", "32kHz", ""};
constexpr int audio_bits[4] = {16, 12, 20, 0};

// The first line waits until every kind of pack has been met, or until the
// third frame or the 25th sequence, so that it does not show half-known settings.
constexpr int32_t WARM_UP_FRAMES = 2;
constexpr int32_t WARM_UP_SEQUENCES = 24;

bool warming_up() {
  return (packs_seen & SEEN_ALL) != SEEN_ALL && frame_count <= WARM_UP_FRAMES &&
         sequence_count <= WARM_UP_SEQUENCES;
}

// The settings a line reports. Timecode, date, time and the audio frame size
// change from frame to frame and are left out.
bool settings_differ(const dv_meta& a, const dv_meta& b) {
  return a.iris != b.iris || a.gain != b.gain || a.ap2 != b.ap2 || a.shutter != b.shutter || a.sh2 != b.sh2 ||
         a.camera2 != b.camera2 || a.system != b.system || a.src_flag != b.src_flag ||
         a.video_type != b.video_type || a.aspect != b.aspect || a.interlaced != b.interlaced ||
         a.audio_unlocked != b.audio_unlocked || a.audio_rate_code != b.audio_rate_code ||
         a.audio_bits_code != b.audio_bits_code || a.emphasis_off != b.emphasis_off;
}

}  // namespace

void report_if_changed() {
  if (warming_up() || !settings_differ(current, previous)) return;

  out_printf("%s / %s - AP=%s, GAIN=%s, SHUTTER=%s, %s, %s, %s, %s", timecode_text(current.timecode),
             rec_datetime_text(current.rec_date, current.rec_time), aperture_text(current.iris),
             gain_text(current.gain), shutter_text(current.shutter), aspect_text(current.aspect),
             system_text(current.system), video_type_text(current.video_type),
             current.interlaced ? "Interlaced" : "Progressive");
  if (packs_seen & SEEN_AUDIO_SOURCE)
    out_printf(", AUDIO=%s %d bits, %s, %soffset=%d", audio_rate_names[current.audio_rate_code & 3],
               audio_bits[current.audio_bits_code & 3], current.audio_unlocked ? "Unlocked" : "Locked",
               current.emphasis_off ? "" : "Emphasis on, ", audio_offset);
  if (current.camera2 != previous.camera2) out_printf(", Camera2=%08X", current.camera2);
  if (current.ap2 != previous.ap2) out_printf(", AP2=%04X", current.ap2);
  if (current.sh2 != previous.sh2) out_printf(", SH2=%04X", current.sh2);
  out_printf("\n");

  previous = current;
}

}  // namespace dvlog
