#include "tables/frame_table.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "dv/system.h"

namespace dvlog {

namespace {

constexpr const char* COLUMNS[] = {
    "frame",           "offset",          "bytes",         "timecode",          "drop_frame",
    "recorded",        "recording",       "start",         "system",            "signal_type",
    "aspect",          "audio",           "speed",         "direction",         "video_concealed",
    "video_errors",    "video_unknown",   "audio_error_samples", "sequences_missing", "dropped_before",
    "repeated",        "off_speed",       "retake_frames", "sequences_repeated",
};

const char* flag(bool on) { return on ? "true" : "false"; }

}  // namespace

const char* frame_table::header_start() { return "frame,offset,bytes,timecode,"; }

frame_table::frame_table(output_stream& out, year_source year) : csv_(out), year_(year) { csv_.header(COLUMNS); }

void frame_table::frame(const frame_event& e) {
  const tape_frame& f = *e.frame;
  char text[64], time[16];
  csv_.number(e.at.frame);
  csv_.number(static_cast<int64_t>(f.offset));
  csv_.number(static_cast<int64_t>(f.end - f.offset));
  csv_.field(iso_time_text(f.stamp.timecode, true, time, sizeof time) ? time : "");
  csv_.field(f.stamp.drop_frame == NO_INFO8 ? "" : flag(f.stamp.drop_frame != 0));
  // The date changes seldom: its text is made again only when it does.
  if (f.stamp.rec_date != date_word_ || !date_made_) {
    date_word_ = f.stamp.rec_date;
    date_made_ = true;
    if (!iso_date_text(date_word_, year_(), date_, sizeof date_)) date_[0] = '\0';
  }
  const bool timed = iso_time_text(f.stamp.rec_time, false, time, sizeof time) != nullptr;
  std::strcpy(text, date_);
  if (date_[0] && timed) std::strcat(text, " ");
  if (timed) std::strcat(text, time);
  csv_.field(text);
  csv_.number(e.recording);
  csv_.field(flag(f.recording_start));
  const frame_format& m = f.format;
  csv_.field(m.system == NO_INFO8 ? "" : system_of(m.system).name);
  const signal_type* type = find_signal_type(m.video_type);
  csv_.field(type ? type->name : "");
  csv_.field(m.aspect == NO_INFO8 ? "" : aspect_name(m.aspect));
  // Likewise the audio format.
  const uint32_t audio = static_cast<uint32_t>(m.audio_rate_code) << 16 | m.audio_bits_code << 8 | m.audio_channels;
  if (audio != audio_code_ || !audio_made_) {
    audio_code_ = audio;
    audio_made_ = true;
    audio_[0] = '\0';
    if ((m.audio_rate_code & 3) != 3 && m.audio_rate_code != NO_INFO8)
      std::snprintf(audio_, sizeof audio_, "%s %d bits %dch", AUDIO_RATE_NAMES[m.audio_rate_code & 3],
                    AUDIO_BITS[m.audio_bits_code & 3], m.audio_channels);
  }
  csv_.field(audio_);
  if (f.speed == NO_INFO8) {
    csv_.empty(), csv_.empty();
  } else {
    constexpr char HEX[] = "0123456789ABCDEF";
    const char code[] = {'0', 'x', HEX[f.speed >> 4 & 0xF], HEX[f.speed & 0xF], '\0'};
    csv_.field(code);
    csv_.field(f.forward ? "forward" : "reverse");
  }
  const damage_counts& d = f.damage;
  for (const int64_t n : {d.video_concealed, d.video_errors, d.video_unknown, d.audio_error_samples,
                          d.sequences_missing, e.dropped_before})
    csv_.number(n);
  csv_.field(flag(e.repeated));
  csv_.field(flag(e.off_speed));
  csv_.number(e.retake_frames);
  csv_.number(f.sequences_repeated);
  csv_.end_row();
}

}  // namespace dvlog
