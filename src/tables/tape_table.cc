#include "tables/tape_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dv/system.h"

namespace dvlog {

namespace {

constexpr const char* COLUMNS[] = {
    "file",           "status",          "bytes",
    "bytes_skipped",  "frames",          "sequences",
    "duration_s",     "system",          "signal_types",
    "aspect_ratios",  "audio",           "recordings",
    "first_recorded", "last_recorded",   "first_timecode",
    "last_timecode",  "audio_final_offset", "audio_max_offset",
    "audio_locked",   "damaged_frames",  "damaged_percent",
    "video_concealed", "video_errors",   "video_unknown",
    "audio_error_samples", "sequences_missing", "timecode_jumps",
    "recording_time_jumps", "unmarked_recording_time_jumps", "log_frames",
    "frames_dropped", "frames_repeated", "frames_off_speed",
    "container", "container_bytes", "retakes",
    "sequences_repeated",
};

constexpr const char* STATUS_NAMES[] = {"ok", "open error", "read error", "stopped", "no DV"};

const char* system_name(uint16_t code, char*, size_t) { return system_of(static_cast<uint8_t>(code)).name; }

const char* signal_type_name(uint16_t code, char* buffer, size_t size) {
  const signal_type* t = find_signal_type(static_cast<uint8_t>(code));
  if (t) return t->name;
  std::snprintf(buffer, size, "%02X", code);
  return buffer;
}

const char* aspect_text(uint16_t name_index, char*, size_t) {
  constexpr const char* NAMES[] = {"4:3", "16:9", "Letterbox"};
  return NAMES[name_index % 3];
}

// Aspect codes by the name they show: several codes read as 4:3.
uint16_t aspect_index(uint8_t code) { return code == 2 || code == 7 ? 1 : code == 3 ? 2 : 0; }

// The rate code in the high byte, the bits code in the low one.
const char* audio_text(uint16_t code, char* buffer, size_t size) {
  std::snprintf(buffer, size, "%s %d bits", AUDIO_RATE_NAMES[(code >> 8) & 3], AUDIO_BITS[code & 3]);
  return buffer;
}

// Milliseconds of frames of a system, rounded.
int64_t frames_ms(int64_t frames, uint8_t system_code) {
  const system_profile& s = system_of(system_code);
  return (frames * s.frame_num * 1000 * 2 + s.frame_den) / (2 * s.frame_den);
}

}  // namespace

void tape_table::seen_values::add(uint16_t code) {
  for (int i = 0; i < count; ++i)
    if (codes[i] == code) return;
  if (count < MAX) codes[count++] = code;
}

tape_table::tape_table(output_stream& out, year_source year) : out_(out), csv_(out), year_(year) {}

void tape_table::write_header() {
  csv_.header(COLUMNS);
  out_.flush();
}

void tape_table::begin(const char* name) {
  systems_.count = signal_types_.count = aspects_.count = audio_.count = 0;
  frames_by_system_[0] = frames_by_system_[1] = 0;
  first_ = last_ = frame_stamp{};
  first_timecode_ = first_recorded_ = false;
  summary_ = summary_event{};
  summarised_ = false;
  name_ = name;
}

void tape_table::status(const status_event& e) {
  const dv_meta& m = e.settings;
  if (m.system != NO_INFO8) systems_.add(m.system & 1);
  if (m.video_type != NO_INFO8) signal_types_.add(m.video_type);
  if (m.aspect != NO_INFO8) aspects_.add(aspect_index(m.aspect));
  if (e.has_audio && (m.audio_rate_code & 3) != 3 && (m.audio_bits_code & 3) != 3)
    audio_.add(static_cast<uint16_t>((m.audio_rate_code & 3) << 8 | (m.audio_bits_code & 3)));
}

void tape_table::frame(const frame_event& e) {
  frames_by_system_[e.format.system & 1] += 1;
  char text[32];
  if (iso_time_text(e.stamp.timecode, true, text, sizeof text)) {
    if (!first_timecode_) first_.timecode = e.stamp.timecode;
    first_timecode_ = true;
    last_.timecode = e.stamp.timecode;
  }
  if (iso_date_text(e.stamp.rec_date, 0, text, sizeof text) && iso_time_text(e.stamp.rec_time, false, text, sizeof text)) {
    if (!first_recorded_) first_.rec_date = e.stamp.rec_date, first_.rec_time = e.stamp.rec_time;
    first_recorded_ = true;
    last_.rec_date = e.stamp.rec_date;
    last_.rec_time = e.stamp.rec_time;
  }
}

void tape_table::summary(const summary_event& e) {
  summary_ = e;
  summarised_ = true;
}

// Every value seen, space-separated.
void tape_table::values(const seen_values& v, const char* (*name)(uint16_t, char*, size_t)) {
  char text[seen_values::MAX * 24];
  size_t used = 0;
  text[0] = '\0';
  for (int i = 0; i < v.count; ++i) {
    char buffer[24];
    const int n = std::snprintf(text + used, sizeof text - used, "%s%s", i ? " " : "", name(v.codes[i], buffer, sizeof buffer));
    if (n > 0) used = std::min(sizeof text - 1, used + static_cast<size_t>(n));
  }
  csv_.field(text);
}

void tape_table::end(tape_status status, uint64_t bytes) {
  const summary_event& s = summary_;
  const damage_totals& t = s.damage;
  if (status == tape_status::ok && summarised_ && s.sequences == 0) status = tape_status::no_dv;
  csv_.field(name_);
  csv_.field(STATUS_NAMES[static_cast<int>(status)]);
  csv_.number(static_cast<int64_t>(bytes));
  if (!summarised_) {
    // Never opened: nothing is known of it.
    for (size_t i = 3; i < sizeof COLUMNS / sizeof COLUMNS[0]; ++i) csv_.empty();
    csv_.end_row();
    out_.flush();
    return;
  }
  char text[64];
  csv_.number(static_cast<int64_t>(t.bytes_skipped));
  csv_.number(t.frames);
  csv_.number(s.sequences);
  // By the stream's system; frame by frame where it has both.
  if (systems_.count == 0) {
    csv_.empty();
  } else {
    const int64_t ms = systems_.count == 1 ? frames_ms(t.frames, static_cast<uint8_t>(systems_.codes[0]))
                                           : frames_ms(frames_by_system_[0], 0) + frames_ms(frames_by_system_[1], 1);
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
    csv_.field(text);
  }
  values(systems_, system_name);
  values(signal_types_, signal_type_name);
  values(aspects_, aspect_text);
  values(audio_, audio_text);
  csv_.number(t.recordings);
  char date[32], time[16];
  for (const frame_stamp* stamp : {&first_, &last_}) {
    if (first_recorded_ && iso_date_text(stamp->rec_date, year_(), date, sizeof date) &&
        iso_time_text(stamp->rec_time, false, time, sizeof time)) {
      std::snprintf(text, sizeof text, "%s %s", date, time);
      csv_.field(text);
    } else {
      csv_.empty();
    }
  }
  for (const frame_stamp* stamp : {&first_, &last_})
    first_timecode_ ? csv_.field(iso_time_text(stamp->timecode, true, time, sizeof time)) : csv_.empty();
  if (s.has_verdict) {
    csv_.number(s.audio.final_offset);
    csv_.number(s.audio.max_offset);
    csv_.field(s.audio.locked ? "true" : "false");
  } else {
    csv_.empty(), csv_.empty(), csv_.empty();
  }
  csv_.number(t.damaged_frames);
  if (t.frames > 0) {
    std::snprintf(text, sizeof text, "%.1f", 100.0 * static_cast<double>(t.damaged_frames) / static_cast<double>(t.frames));
    csv_.field(text);
  } else {
    csv_.empty();
  }
  for (const int64_t n : {t.sum.video_concealed, t.sum.video_errors, t.sum.video_unknown, t.sum.audio_error_samples,
                          t.sum.sequences_missing, t.timecode_jumps, t.recording_time_jumps,
                          t.unmarked_recording_time_jumps, int64_t{s.frames}, t.frames_dropped, t.frames_repeated,
                          t.frames_off_speed})
    csv_.number(n);
  csv_.field(t.container == container_kind::none ? "" : container_name(t.container));
  csv_.number(static_cast<int64_t>(t.container_bytes));
  csv_.number(t.retakes);
  csv_.number(t.sequences_repeated);
  csv_.end_row();
  out_.flush();
}

}  // namespace dvlog
