#include "log/json_log.h"

#include <cstdio>
#include <cstring>

#include "dv/camera.h"
#include "dv/datetime.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// The names of the settings in "changed", by setting_bit: the names of the
// fields that show them, the audio ones within "audio".
constexpr const char* SETTING_NAMES[SETTING_COUNT] = {
    "aperture",     "gain_db",       "ap2",        "shutter_denominator", "sh2",
    "camera2",      "system",        "source_flag", "signal_type",        "aspect",
    "interlaced",   "audio.locked",  "audio.rate_hz", "audio.bits",       "audio.emphasis",
};

// A raw word, or null when it holds all ones (never decoded).
template <typename Word>
void raw_field(json_writer& json, const char* name, Word word, Word no_info) {
  if (word == no_info)
    json.field_null(name);
  else
    json.field(name, static_cast<int64_t>(word));
}

}  // namespace

json_log::json_log(output_stream& out, year_source year, const run_facts& facts)
    : out_(out), json_(out), year_(year), facts_(facts) {}

void json_log::open(const char* event, const event_place& at) {
  json_.begin_object();
  json_.field("event", event);
  json_.field("frame", at.frame);
  json_.field("sequence", at.sequence);
  json_.field("offset", static_cast<int64_t>(at.offset));
  // With several inputs, each event says which it belongs to.
  if (facts_.every_event) json_.field_or_null("input", facts_.input);
}

void json_log::close() {
  json_.end_object();
  json_.end_line();
}

// The timecode as text, its word, and its drop-frame flag: "timecode",
// "timecode_code", "drop_frame", or for another name "NAME", "NAME_code",
// "NAME_drop_frame".
void json_log::timecode(uint32_t tc, uint8_t drop_frame, const char* name) {
  char text[16], code_name[32], drop_name[32];
  const bool plain = std::strcmp(name, "timecode") == 0;
  std::snprintf(code_name, sizeof code_name, "%s_code", name);
  std::snprintf(drop_name, sizeof drop_name, "%s%sdrop_frame", plain ? "" : name, plain ? "" : "_");
  json_.field_or_null(name, iso_time_text(tc, true, text, sizeof text));
  raw_field(json_, code_name, tc, NO_INFO);
  drop_frame == NO_INFO8 ? json_.field_null(drop_name) : json_.field_bool(drop_name, drop_frame != 0);
}

// The recording date and time as ISO 8601 pieces, each null when the stream
// does not give it (or gives digits that are no date or time), and the words
// they come from.
void json_log::recorded(uint32_t date, uint32_t time, const char* name) {
  json_.key(name);
  json_.begin_object();
  const bool dated = has_date(date);
  char text[48];
  json_.field_or_null("date", iso_date_text(date, year_(), text, sizeof text));
  if (dated && is_bcd(byte_of(date, 3)))
    json_.field("year", full_year(byte_of(date, 3), year_()));
  else
    json_.field_null("year");
  json_.field_or_null("weekday", dated ? weekday_name(date) : nullptr);
  // The weekday the date falls on: ffmpeg, and some cameras, write none
  // right.
  const unsigned own = weekday_of_date(date, year_());
  json_.field_or_null("weekday_of_date", WEEKDAY_NAMES[own]);
  if (own == 7 || weekday_name(date) == nullptr)
    json_.field_null("weekday_wrong");
  else
    json_.field_bool("weekday_wrong", weekday_wrong(date, year_()));
  const bool timed = has_time(time);
  json_.field_or_null("time", iso_time_text(time, false, text, sizeof text));
  if (timed && has_time_frames(time) && is_bcd(byte_of(time, 0)))
    json_.field("time_frame", bcd_value(byte_of(time, 0)));
  else
    json_.field_null("time_frame");
  const time_zone z = zone_of(dated ? byte_of(date, 0) : 0xFF);
  if (z.given) {
    json_.field("utc_offset", utc_offset_text(z.half_hours, text, sizeof text));
    json_.field_bool("dst", z.dst);
  } else {
    json_.field_null("utc_offset");
    json_.field_null("dst");
  }
  raw_field(json_, "date_code", date, NO_INFO);
  raw_field(json_, "time_code", time, NO_INFO);
  json_.end_object();
}

void json_log::status(const status_event& e) {
  const dv_meta& m = e.settings;
  open("status", e.at);
  timecode(m.timecode, m.timecode_drop_frame);
  recorded(m.rec_date, m.rec_time);

  const f_number f = aperture_of(m.iris);
  json_.key("aperture");
  if (f.kind != f_number::VALUE)
    json_.null();
  else if (f.whole)
    json_.number(static_cast<int64_t>(f.value));
  else
    json_.number_1dp(f.value);
  raw_field(json_, "aperture_code", m.iris, NO_INFO8);
  const int db = gain_db_of(m.gain);
  db < 0 ? json_.field_null("gain_db") : json_.field("gain_db", db);
  raw_field(json_, "gain_code", m.gain, NO_INFO8);
  const int shutter = shutter_denominator_of(m.shutter);
  shutter < 0 ? json_.field_null("shutter_denominator") : json_.field("shutter_denominator", shutter);
  raw_field(json_, "shutter_code", m.shutter, NO_INFO16);
  raw_field(json_, "ap2", m.ap2, NO_INFO16);
  raw_field(json_, "sh2", m.sh2, NO_INFO16);
  raw_field(json_, "camera2", m.camera2, NO_INFO);

  json_.field_or_null("aspect", m.aspect == NO_INFO8 ? nullptr : aspect_name(m.aspect));
  raw_field(json_, "aspect_code", m.aspect, NO_INFO8);
  json_.field_or_null("system", m.system == NO_INFO8 ? nullptr : system_of(m.system).name);
  raw_field(json_, "system_code", m.system, NO_INFO8);
  const signal_type* type = find_signal_type(m.video_type);
  json_.field_or_null("signal_type", type ? type->name : nullptr);
  raw_field(json_, "signal_type_code", m.video_type, NO_INFO8);
  m.interlaced == NO_INFO8 ? json_.field_null("interlaced") : json_.field_bool("interlaced", m.interlaced != 0);
  raw_field(json_, "source_flag", m.src_flag, NO_INFO8);

  json_.key("audio");
  if (e.has_audio) {
    json_.begin_object();
    const uint32_t rate = AUDIO_RATE_HZ[m.audio_rate_code & 3];
    rate ? json_.field("rate_hz", rate) : json_.field_null("rate_hz");
    json_.field("rate_code", m.audio_rate_code);
    const int bits = AUDIO_BITS[m.audio_bits_code & 3];
    bits ? json_.field("bits", bits) : json_.field_null("bits");
    json_.field("bits_code", m.audio_bits_code);
    json_.field_bool("locked", m.audio_unlocked == 0);
    json_.field_bool("emphasis", m.emphasis_off == 0);
    json_.field("frame_size_code", m.audio_frame_size);
    json_.field("offset", e.audio_offset);
    json_.end_object();
  } else {
    json_.null();
  }

  json_.key("changed");
  json_.begin_array();
  for (int i = 0; i < SETTING_COUNT; ++i)
    if (e.changed & (1u << i)) json_.string(SETTING_NAMES[i]);
  json_.end_array();
  close();
}

void json_log::recording_start(const recording_start_event& e) {
  open("recording_start", e.at);
  timecode(e.timecode, e.drop_frame);
  recorded(e.rec_date, e.rec_time);
  close();
}

void json_log::timecode_broken(const timecode_broken_event& e) {
  open("timecode_broken", e.at);
  timecode(e.timecode, e.drop_frame);
  close();
}

void json_log::audio_block_warning(const audio_block_warning_event& e) {
  open("warning", e.at);
  char text[64];
  std::snprintf(text, sizeof text, "got %02x instead of audio block", e.id0);
  json_.field("message", text);
  json_.field("audio_block", e.audio_block);
  json_.field("id0", e.id0);
  close();
}

void json_log::counts(const damage_counts& d) {
  json_.field("video_concealed", d.video_concealed);
  json_.field("video_errors", d.video_errors);
  json_.field("video_unknown", d.video_unknown);
  json_.field("video_even", d.video_even);
  json_.field("video_odd", d.video_odd);
  json_.field("audio_error_samples", d.audio_error_samples);
  json_.field("audio_error_blocks", d.audio_error_blocks);
  json_.field("sequences_missing", d.sequences_missing);
}

// Only damaged frames make an event, and frames the capture sent a sequence
// of twice.
void json_log::frame(const frame_event& e) {
  if (e.sequences_repeated > 0) {
    open("sequences_repeated", e.at);
    timecode(e.stamp.timecode, e.stamp.drop_frame);
    recorded(e.stamp.rec_date, e.stamp.rec_time);
    json_.field("sequences", e.sequences_repeated);
    close();
  }
  if (!e.damage.any()) return;
  open("damage", e.at);
  timecode(e.stamp.timecode, e.stamp.drop_frame);
  recorded(e.stamp.rec_date, e.stamp.rec_time);
  counts(e.damage);
  close();
}

void json_log::damage_run(const damage_run_event& e) {
  open("damage_run", e.at);
  timecode(e.first.timecode, e.first.drop_frame);
  recorded(e.first.rec_date, e.first.rec_time);
  json_.field("last_frame", e.last_frame);
  timecode(e.last_timecode, e.last_drop_frame, "last_timecode");
  json_.field("frames", e.frames);
  counts(e.damage);
  json_.field_bool("one_head", e.one_head);
  close();
}

void json_log::timecode_jump(const timecode_jump_event& e) {
  open("timecode_jump", e.at);
  timecode(e.from, e.from_drop_frame, "from");
  timecode(e.stamp.timecode, e.stamp.drop_frame, "to");
  recorded(e.stamp.rec_date, e.stamp.rec_time);
  close();
}

void json_log::recording_time_jump(const recording_time_jump_event& e) {
  open("recording_time_jump", e.at);
  timecode(e.stamp.timecode, e.stamp.drop_frame);
  recorded(e.from_date, e.from_time, "from");
  recorded(e.stamp.rec_date, e.stamp.rec_time, "to");
  json_.field_bool("marked", e.marked);
  close();
}

void json_log::skipped_bytes(const skipped_bytes_event& e) {
  open("skipped_bytes", e.at);
  timecode(e.stamp.timecode, e.stamp.drop_frame);
  recorded(e.stamp.rec_date, e.stamp.rec_time);
  json_.field("bytes", static_cast<int64_t>(e.bytes));
  json_.field_bool("at_end", e.at_end);
  close();
}

void json_log::frames_dropped(const frames_dropped_event& e) {
  open("frames_dropped", e.at);
  timecode(e.from, e.stamp.drop_frame, "from");
  timecode(e.stamp.timecode, e.stamp.drop_frame, "to");
  recorded(e.stamp.rec_date, e.stamp.rec_time);
  json_.field("frames", e.frames);
  close();
}

// A run of frames: where it starts, its last frame and timecode, its length.
void json_log::frame_run(const char* event, const frame_run_event& e) {
  open(event, e.at);
  timecode(e.first.timecode, e.first.drop_frame);
  recorded(e.first.rec_date, e.first.rec_time);
  json_.field("last_frame", e.last_frame);
  timecode(e.last_timecode, e.first.drop_frame, "last_timecode");
  json_.field("frames", e.frames);
}

void json_log::frames_repeated(const frame_run_event& e) {
  frame_run("frames_repeated", e);
  close();
}

void json_log::off_speed(const frame_run_event& e) {
  frame_run("off_speed", e);
  raw_field(json_, "speed", e.speed, NO_INFO8);
  e.forward == NO_INFO8 ? json_.field_null("forward") : json_.field_bool("forward", e.forward != 0);
  close();
}

void json_log::retake(const retake_event& e) {
  open("retake", e.at);
  timecode(e.stamp.timecode, e.stamp.drop_frame);
  recorded(e.stamp.rec_date, e.stamp.rec_time);
  timecode(e.from, e.from_drop_frame, "from");
  json_.field("from_frame", e.from_frame);
  json_.field("frames", e.frames);
  json_.field_bool("by_content", e.by_content);
  close();
}

void json_log::part(const part_facts& p) {
  json_.begin_object();
  json_.field("event", "part");
  json_.field("number", p.number);
  json_.field("path", p.path);
  json_.field("offset", static_cast<int64_t>(p.offset));
  json_.field("bytes", static_cast<int64_t>(p.bytes));
  json_.field("frames", p.frames);
  json_.field("first_frame", p.first_frame);
  timecode(p.first.timecode, p.first.drop_frame);
  timecode(p.last.timecode, p.last.drop_frame, "last_timecode");
  recorded(p.first.rec_date, p.first.rec_time);
  if (facts_.every_event) json_.field_or_null("input", facts_.input);
  close();
  out_.flush();
}

void json_log::still(const still_facts& s) {
  open("still", s.at);
  json_.field_or_null("path", s.path);
  json_.field_or_null("failure", s.path ? nullptr : s.failure);
  timecode(s.stamp.timecode, s.stamp.drop_frame);
  recorded(s.stamp.rec_date, s.stamp.rec_time);
  json_.key("reasons");
  json_.begin_array();
  for (int r = 0; r < STILL_REASONS; ++r)
    if (s.reasons >> r & 1) json_.string(STILL_REASON_NAMES[r]);
  json_.end_array();
  json_.field("recording", s.recording);
  if (s.run_first > 0) {
    json_.field("run_first_frame", s.run_first);
    json_.field("run_last_frame", s.run_last);
  } else {
    json_.field_null("run_first_frame");
    json_.field_null("run_last_frame");
  }
  if (s.path) {
    json_.field("width", s.width);
    json_.field("height", s.height);
  } else {
    json_.field_null("width");
    json_.field_null("height");
  }
  close();
  out_.flush();
}

void json_log::end_of_sequence() { out_.flush(); }

void json_log::summary(const summary_event& e) {
  json_.begin_object();
  json_.field("event", "summary");
  json_.field("frames", e.frames);
  json_.field("sequences", e.sequences);
  json_.key("audio");
  if (e.has_verdict) {
    json_.begin_object();
    json_.field_bool("locked", e.audio.locked);
    json_.field("final_offset", e.audio.final_offset);
    json_.field("final_offset_ms", e.audio.final_offset_ms);
    json_.field("max_offset", e.audio.max_offset);
    json_.field("max_offset_ms", e.audio.max_offset_ms);
    json_.end_object();
  } else {
    json_.null();
  }
  json_.key("damage");
  if (e.has_damage) {
    json_.begin_object();
    json_.field("frames", e.damage.frames);
    json_.field("damaged_frames", e.damage.damaged_frames);
    json_.field("bytes_skipped", static_cast<int64_t>(e.damage.bytes_skipped));
    counts(e.damage.sum);
    json_.field("timecode_jumps", e.damage.timecode_jumps);
    json_.field("recording_time_jumps", e.damage.recording_time_jumps);
    json_.field("unmarked_recording_time_jumps", e.damage.unmarked_recording_time_jumps);
    json_.field("recordings", e.damage.recordings);
    json_.field("frames_dropped", e.damage.frames_dropped);
    json_.field("frames_repeated", e.damage.frames_repeated);
    json_.field("frames_off_speed", e.damage.frames_off_speed);
    json_.field("retakes", e.damage.retakes);
    json_.field("sequences_repeated", e.damage.sequences_repeated);
    json_.field_or_null("container",
                        e.damage.container == container_kind::none ? nullptr : container_name(e.damage.container));
    json_.field("container_bytes", static_cast<int64_t>(e.damage.container_bytes));
    json_.end_object();
  } else {
    json_.null();
  }
  json_.field_or_null("input", facts_.input);
  json_.field("bytes", static_cast<int64_t>(facts_.bytes));
  json_.field_or_null("stopped_by", stop_signal_name(facts_.stop_signal));
  close();
}

void json_log::merge(const merge_event& e) {
  json_.begin_object();
  json_.field("event", "merge");
  json_.field("output", e.output);
  json_.field("frames", e.frames);
  json_.field("assembled_frames", e.assembled_frames);
  json_.field("blocks_recovered", e.blocks_recovered);
  json_.field("damaged_frames", e.damaged_frames);
  json_.field("damaged_blocks", e.damaged_blocks);
  json_.field("sequences_missing", e.sequences_missing);
  json_.key("transfers");
  json_.begin_array();
  for (int32_t i = 0; i < e.transfer_count; ++i) {
    const merge_transfer& t = e.transfers[i];
    json_.begin_object();
    json_.field("input", t.name);
    json_.field("frames", t.frames);
    json_.field("frames_taken", t.frames_taken);
    json_.field("blocks_taken", t.blocks_taken);
    json_.field("damaged_blocks", t.damaged_blocks);
    json_.field("passes", static_cast<int64_t>(t.passes));
    json_.field("off_speed", t.off_speed);
    json_.field("repeated", t.repeated);
    json_.end_object();
  }
  json_.end_array();
  json_.key("passes");
  json_.begin_array();
  for (int32_t k = 0; k < e.pass_count; ++k) {
    const merge_pass& pass = e.passes[k];
    json_.begin_object();
    json_.field("transfer", static_cast<int64_t>(pass.transfer) + 1);
    json_.field("number", static_cast<int64_t>(pass.number));
    json_.field("frames", pass.frames);
    json_.field("first_frame", pass.first_frame + 1);
    json_.field("last_frame", pass.last_frame + 1);
    json_.field("frames_taken", pass.frames_taken);
    json_.field("blocks_taken", pass.blocks_taken);
    json_.end_object();
  }
  json_.end_array();
  close();
}

}  // namespace dvlog
