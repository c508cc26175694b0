#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dv/system.h"
#include "report/picture_texts.h"
#include "report/status_text.h"
#include "report/utf8.h"

namespace dvlog {

namespace {

// The drawing, in SVG user units: lanes stacked on one axis, the position in
// the tape.
constexpr double WIDTH = 1000;
constexpr double LEFT = 130;  // room for the lane names
constexpr double PLOT = WIDTH - LEFT - 10;

struct lane {
  const char* id;
  const char* name;
  double top, height;
};
constexpr lane RECORDINGS{"lane-recordings", "Recordings", 0, 34};
constexpr lane VIDEO{"lane-video", "Video damage", 40, 60};
constexpr lane AUDIO_ERRORS{"lane-audio", "Audio errors", 106, 30};
constexpr lane OFFSET{"lane-offset", "Audio offset, ms", 142, 60};
constexpr lane EVENTS{"lane-events", "", 208, 84};
constexpr double AXIS_TOP = 296;
constexpr double HEIGHT = 318;
// Below the axis, for a merged stream only: which transfer each stretch came
// from, and what no transfer read right.
constexpr lane MERGED{"lane-merge", "Merged from", 326, 30};
constexpr double HEIGHT_MERGED = 362;

// A label's width in user units, estimated without a browser: 11-pixel sans
// serif glyphs are 3 to 10 units wide, digits about 7; this errs wide.
constexpr double GLYPH_WIDTH = 7.2;

// The colours of the page, each with what it means, for the style sheet and
// the legend alike.
struct swatch {
  const char* cls;
  const char* colour;
  const char* meaning;
};
// The transfers of a merge, in turn; stretches assembled from several are
// hatched, and those still damaged underlined in red.
constexpr const char* TRANSFER_COLOURS[] = {"#4c72b0", "#55a868", "#8172b2", "#ccb974",
                                            "#64b5cd", "#937860", "#da8bc3", "#8c8c8c"};
constexpr const char* SEVERAL_COLOUR = "#2f3e4e";
// Recording bands alternate two pale colours far from the damage colours.
constexpr swatch REC0{"rec0", "#cde6f5", "recording"}, REC1{"rec1", "#d9efd6", "next recording"};
constexpr const char* HATCH = "#5a7da0";  // a recording found only from a jump of its recording time
constexpr swatch DAMAGE[] = {
    {"concealed", "#f0a030", "video concealed"},
    {"error", "#d02020", "video in error or of unknown status"},
    {"missing", "#404a5a", "video of missing DIF sequences"},
    {"audioerr", "#8030c0", "audio blocks with error samples"},
};
constexpr swatch OFFSET_LINE{"offset", "#2060b0", "audio offset at the end of a slice"};
constexpr swatch OFFSET_RANGE{"range", "#d0d0d0", "its range within a slice"};

// The events lane: one row for each kind of mark, so that marks of several
// kinds at one frame all show.
enum event_row { ROW_TIMECODE_JUMP, ROW_RECORDING_START, ROW_UNMARKED_JUMP, ROW_TIMECODE_BROKEN, ROW_STATUS,
                 ROW_SKIPPED, ROW_PART, ROW_COUNT };
struct event_kind {
  swatch look;
  const char* name;  // of its row
};
constexpr event_kind EVENT_KINDS[ROW_COUNT] = {
    {{"timecode-jump", "#0b7f8a", "timecode jump"}, "Timecode jumps"},
    {{"recording-start", "#2a9d3a", "recording start mark"}, "Recording starts"},
    {{"unmarked-jump", "#c03090", "recording time jump without a start mark"}, "Unmarked jumps"},
    {{"timecode-broken", "#000000", "timecode fails"}, "Timecode fails"},
    {{"status-change", "#777777", "settings change"}, "Settings changes"},
    {{"skipped-bytes", "#8a5a00", "bytes in no DIF sequence skipped"}, "Skipped bytes"},
    {{"part", "#1f4e9c", "a part of the split begins"}, "Parts"},
};
constexpr double ROW_HEIGHT = EVENTS.height / static_cast<int>(ROW_COUNT);

// Text for HTML: markup characters escaped, each byte that is no UTF-8 as U+FFFD.
void html_text(output_stream& out, const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    switch (*p) {
      case '&':
        out.write("&amp;", 5);
        break;
      case '<':
        out.write("&lt;", 4);
        break;
      case '>':
        out.write("&gt;", 4);
        break;
      case '"':
        out.write("&quot;", 6);
        break;
      default:
        if (const size_t n = utf8_length(p)) {
          // Controls are shown by their codes, so that the page parses clean
          // and a name cannot display as another.
          const unsigned c = utf8_code_point(p, n);
          if (is_invisible_control(c))
            c < 0x80 ? out.printf("\\x%02X", c) : out.printf("\\u%04X", c);
          else
            out.write(reinterpret_cast<const char*>(p), n);
          p += n;
          continue;
        }
        out.write(REPLACEMENT_CHARACTER, sizeof REPLACEMENT_CHARACTER - 1);
    }
    ++p;
  }
}

long long ll(int64_t n) { return static_cast<long long>(n); }

// "1:02:03", or "1:02:03.4" with tenths: a position on the axis.
const char* elapsed_text(double seconds, bool tenths, char* out, size_t size) {
  const long long t = std::llround(seconds * 10), s = t / 10;
  std::snprintf(out, size, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  if (tenths) std::snprintf(out + std::strlen(out), size - std::strlen(out), ".%lld", t % 10);
  return out;
}

// A setting's key: its code, with the codes shown alike made one.
uint8_t key_of(int field, const dv_meta& m) {
  switch (field) {
    case FIELD_SYSTEM:
      return m.system & 1;
    case FIELD_SIGNAL_TYPE:
      return m.video_type;
    case FIELD_ASPECT:
      return m.aspect == 2 || m.aspect == 7 ? 2 : m.aspect == 3 ? 3 : 0;
    case FIELD_SCAN:
      return m.interlaced != 0;
    case FIELD_RATE:
      return m.audio_rate_code & 3;
    case FIELD_BITS:
      return m.audio_bits_code & 3;
    case FIELD_LOCK:
      return m.audio_unlocked != 0;
    default:
      return m.emphasis_off != 0;
  }
}

// A setting's text; emphasis off alone goes without saying.
const char* setting_text(int field, uint8_t key, bool alone, char* out, size_t size) {
  switch (field) {
    case FIELD_SYSTEM:
      return system_of(key).name;
    case FIELD_SIGNAL_TYPE:
      return video_type_text(key, out, size);
    case FIELD_ASPECT:
      return aspect_name(key);
    case FIELD_SCAN:
      return key ? "interlaced" : "progressive";
    case FIELD_RATE:
      return AUDIO_RATE_NAMES[key & 3];
    case FIELD_BITS:
      std::snprintf(out, size, "%d bits", AUDIO_BITS[key & 3]);
      return out;
    case FIELD_LOCK:
      return key ? "unlocked" : "locked";
    default:
      return key ? (alone ? "" : "emphasis off") : "emphasis on";
  }
}

}  // namespace

html_report::html_report(year_source year, const report_facts& facts)
    : year_(year),
      facts_(facts),
      timeline_(new timeline),
      recordings_(TABLE_ROWS),
      runs_(TABLE_ROWS),
      statuses_(TABLE_ROWS),
      jumps_(TABLE_ROWS),
      skipped_(TABLE_ROWS),
      parts_(TABLE_ROWS) {}

void html_report::add_recording(const event_place& at, const frame_stamp& stamp, bool marked) {
  recordings_.add({at, stamp, marked, 0});
}

void html_report::status(const status_event& e) {
  statuses_.add({e.at, e.settings, e.changed, e.has_audio, e.audio_offset});
  has_settings_ = true;
  has_audio_ = e.has_audio;
  settings_ = e.settings;
}

void html_report::recording_start(const recording_start_event& e) {
  add_recording(e.at, {e.timecode, e.rec_date, e.rec_time, e.drop_frame}, true);
}

void html_report::timecode_broken(const timecode_broken_event& e) {
  tc_broken_ = true;
  tc_broken_at_ = e.at;
  tc_broken_timecode_ = e.timecode;
}

void html_report::frame(const frame_event& e) {
  // The tape's first frame opens a recording, marked or not.
  if (last_frame_ == 0 && (recordings_.size() == 0 || recordings_[0].at.frame != e.at.frame))
    add_recording(e.at, e.stamp, false);
  timeline_->add(e.at.frame, e);
  last_frame_ = e.at.frame;

  // A frame's settings are those of the last status line, given before the
  // frame is; its recording is the last one begun, told before it too.
  if (!has_settings_) return;
  uint64_t seen = 0;
  for (int field = 0; field < (has_audio_ ? FIELD_COUNT : PICTURE_FIELDS); ++field) {
    const uint8_t key = key_of(field, settings_);
    field_values& v = seen_[field];
    int i = 0;
    while (i < v.count && v.key[i] != key) ++i;
    if (i == v.count) {
      if (v.count == SETTING_VALUES) continue;
      v.key[v.count++] = key;
    }
    seen |= uint64_t{1} << (SETTING_VALUES * field + i);
  }
  if (recordings_.more() > 0)
    settings_of_later_ |= seen;
  else if (recordings_.size() > 0)
    recordings_.back().settings |= seen;
}

void html_report::damage_run(const damage_run_event& e) { runs_.add(e); }

void html_report::timecode_jump(const timecode_jump_event& e) {
  jumps_.add({e.at, e.stamp, e.from, 0, true, false});
}

void html_report::recording_time_jump(const recording_time_jump_event& e) {
  jumps_.add({e.at, e.stamp, e.from_date, e.from_time, false, e.marked});
  // A jump of the recording time that no mark explains starts a recording too.
  if (!e.marked) add_recording(e.at, e.stamp, false);
}

void html_report::skipped_bytes(const skipped_bytes_event& e) { skipped_.add(e); }

void html_report::part(const part_facts& p) { parts_.add({p.number, p.first_frame, p.first, p.frames, p.bytes}); }

void html_report::summary(const summary_event& e) { summary_ = e; }

// The system the durations are told in: that of the last status line.
uint8_t html_report::system() const { return has_settings_ ? settings_.system : NO_INFO8; }

// The x of a frame on the axis.
double html_report::x_of(int32_t frame) const {
  const timeline& t = *timeline_;
  const double slices = std::max(t.used(), 1);
  const double position = static_cast<double>(int64_t{frame} - t.first_frame()) / t.frames_per_slice();
  return LEFT + PLOT * std::clamp(position / slices, 0.0, 1.0);
}

// A frame's position in the tape: the time from the first frame to it.
const char* html_report::position_text(int32_t frame, char* out, size_t size) const {
  return duration_text(std::max<int64_t>(int64_t{frame} - timeline_->first_frame(), 0), system(), out, size);
}

void html_report::write(output_stream& out) const {
  out.printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>dvlog report: ");
  html_text(out, facts_.input);
  out.printf(
      "</title>\n<style>\n"
      "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;max-width:1200px}\n"
      "h1{font-size:1.3em;margin:0 0 .5em}h2{font-size:1.1em;margin:1.5em 0 .4em}\n"
      "dl.facts{display:grid;grid-template-columns:max-content auto;gap:.15em 1em;margin:0}\n"
      "dt{font-weight:600}dd{margin:0}p.stopped{font-weight:600;color:#a00}\n"
      "table{border-collapse:collapse;font-size:13px}th,td{border:1px solid #ccc;padding:2px 6px;text-align:left}\n"
      "td{white-space:nowrap}td.wrap{white-space:normal}\n"
      "th{background:#eee}td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
      "svg{width:100%%;height:auto;border:1px solid #ddd;background:#fff}\n"
      "svg text{font:11px system-ui,sans-serif;fill:#333}svg text.row{font-size:10px}\n"
      ".recording text{paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}\n"
      ".grid{stroke:#ccc}.row-line{stroke:#eee}.unmarked{fill:url(#hatch);stroke:%s;stroke-dasharray:3 2}\n"
      ".offset{fill:none;stroke:%s;stroke-width:1.2}.range{fill:%s}\n",
      HATCH, OFFSET_LINE.colour, OFFSET_RANGE.colour);
  for (const swatch& s : {REC0, REC1, DAMAGE[0], DAMAGE[1], DAMAGE[2], DAMAGE[3]})
    out.printf(".%s{fill:%s}", s.cls, s.colour);
  out.printf("\n.marker line{stroke-width:2}");
  for (const event_kind& k : EVENT_KINDS) out.printf(".%s line{stroke:%s}", k.look.cls, k.look.colour);
  out.printf(
      "\n.legend span{display:inline-block;white-space:nowrap;margin-right:1.2em}"
      ".legend i{display:inline-block;width:.9em;height:.9em;margin-right:.3em;vertical-align:-.1em}\n"
      "p.more{color:#a00}\n");
  if (stills_) write_still_style(out);
  out.printf("</style>\n</head>\n<body>\n");
  write_header(out);
  write_timeline(out);
  if (stills_) write_contact_sheet(out, *stills_, year_);
  write_tables(out);
  out.printf("</body>\n</html>\n");
}

// The values of settings fields first .. end - 1: a field with one value by
// itself, one with several each with the recordings it was seen in
// ("4:3 (recordings 1, 3), 16:9 (recording 2)").
void html_report::write_settings(output_stream& out, int first, int end) const {
  bool several = false;
  for (int f = first; f < end; ++f) several |= seen_[f].count > 1;
  const char* separator = "";
  char text[32];
  for (int f = first; f < end; ++f) {
    const field_values& v = seen_[f];
    for (int i = 0; i < v.count; ++i) {
      const char* value = setting_text(f, v.key[i], v.count == 1, text, sizeof text);
      if (*value == '\0') continue;
      out.printf("%s%s", i == 0 ? separator : ", ", value);
      separator = several ? "; " : ", ";
      if (v.count == 1) continue;
      // Its recordings, runs of neighbours as ranges: at most a dozen ranges.
      const uint64_t bit = uint64_t{1} << (SETTING_VALUES * f + i);
      int listed = 0, ranges = 0, unlisted = 0;
      for (int r = 0; r < recordings_.size(); ++r) listed += (recordings_[r].settings & bit) != 0;
      out.printf(" (recording%s", listed == 1 ? "" : "s");
      for (int r = 0; r < recordings_.size(); ++r) {
        if (!(recordings_[r].settings & bit)) continue;
        int last = r;
        while (last + 1 < recordings_.size() && (recordings_[last + 1].settings & bit)) ++last;
        if (ranges++ == 12) {
          unlisted += last - r + 1;
        } else {
          out.printf(ranges == 1 ? " %d" : ", %d", r + 1);
          if (last > r) out.printf("%s%d", last == r + 1 ? ", " : "\xE2\x80\x93", last + 1);  // an en dash
        }
        r = last;
      }
      if (unlisted > 0) out.printf(" and %d more", unlisted);
      if (settings_of_later_ & bit) out.printf("%s later ones not kept", listed > 0 ? ", and" : "");
      out.printf(")");
    }
  }
}

void html_report::write_header(output_stream& out) const {
  const summary_event& s = summary_;
  char text[256];

  out.printf("<header>\n<h1>");
  html_text(out, facts_.input);
  out.printf("</h1>\n");
  // A run that did not read its whole input says so before anything else.
  const unsigned long long bytes = facts_.input_bytes;
  if (facts_.stop_signal != 0)
    out.printf("<p class=\"stopped\" id=\"stopped\">Stopped by %s after %llu bytes: this report covers what was "
               "read</p>\n",
               stop_signal_name(facts_.stop_signal), bytes);
  else if (facts_.read_error != 0)
    out.printf("<p class=\"stopped\" id=\"stopped\">Stopped by a read error (%s) after %llu bytes: this report "
               "covers what was read</p>\n",
               std::strerror(facts_.read_error), bytes);
  out.printf("<dl class=\"facts\">\n<dt>Input</dt><dd id=\"input\">");
  html_text(out, facts_.input);
  out.printf(", %llu bytes</dd>\n", bytes);
  duration_text(s.frames, system(), text, sizeof text);
  out.printf("<dt>Duration</dt><dd id=\"duration\">%d frames, %s</dd>\n", s.frames, text);
  if (seen_[0].count > 0) {
    out.printf("<dt>Picture</dt><dd id=\"picture\">");
    write_settings(out, 0, PICTURE_FIELDS);
    out.printf("</dd>\n");
  }
  if (seen_[PICTURE_FIELDS].count > 0) {
    out.printf("<dt>Audio</dt><dd id=\"audio\">");
    write_settings(out, PICTURE_FIELDS, FIELD_COUNT);
    out.printf("</dd>\n");
  }
  out.printf("<dt>Frames counted</dt><dd id=\"frames\">%d</dd>\n", s.frames);
  out.printf("<dt>DIF sequences analysed</dt><dd id=\"sequences\">%d</dd>\n", s.sequences);
  if (s.has_verdict) {
    if (s.audio.locked)
      out.printf("<dt>Audio sync</dt><dd id=\"verdict\">Audio is locked</dd>\n");
    else
      out.printf("<dt>Audio sync</dt><dd id=\"verdict\">Audio offset: final=%d (%d ms), max=%d (%d ms)</dd>\n",
                 s.audio.final_offset, s.audio.final_offset_ms, s.audio.max_offset, s.audio.max_offset_ms);
  }
  const damage_totals& t = s.damage;
  out.printf(
      "<dt>Damage</dt><dd id=\"damage\">%lld damaged frame%s (%.1f%%); video blocks concealed %lld, in error %lld, "
      "unknown %lld (even sequences %lld, odd %lld); audio error samples %lld in %lld blocks; DIF sequences missing "
      "%lld; bytes skipped %llu; timecode jumps %lld; recording time jumps %lld (%lld not marked)</dd>\n",
      ll(t.damaged_frames), t.damaged_frames == 1 ? "" : "s",
      s.frames > 0 ? 100.0 * static_cast<double>(t.damaged_frames) / s.frames : 0.0,
      ll(t.sum.video_concealed), ll(t.sum.video_errors), ll(t.sum.video_unknown), ll(t.sum.video_even),
      ll(t.sum.video_odd), ll(t.sum.audio_error_samples), ll(t.sum.audio_error_blocks), ll(t.sum.sequences_missing),
      static_cast<unsigned long long>(t.bytes_skipped), ll(t.timecode_jumps), ll(t.recording_time_jumps),
      ll(t.unmarked_recording_time_jumps));
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) == 0)
    std::snprintf(text, sizeof text, "?");
  out.printf("<dt>Report made</dt><dd id=\"made\">%s by dvlog %s</dd>\n</dl>\n</header>\n", text, facts_.version);
}

void html_report::write_timeline(output_stream& out) const {
  out.printf("<section id=\"timeline\">\n<h2>Timeline</h2>\n");
  out.printf("<svg id=\"timeline-svg\" viewBox=\"0 0 %.0f %.0f\" xmlns=\"http://www.w3.org/2000/svg\" "
             "role=\"img\" aria-label=\"Timeline of the tape\">\n",
             WIDTH, merge_ ? HEIGHT_MERGED : HEIGHT);
  out.printf("<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
             "patternTransform=\"rotate(45)\"><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"%s\" "
             "stroke-width=\"2\"/></pattern></defs>\n",
             HATCH);
  for (const lane& l : {RECORDINGS, VIDEO, AUDIO_ERRORS, OFFSET})
    out.printf("<text x=\"4\" y=\"%.1f\">%s</text>\n", l.top + l.height / 2 + 4, l.name);
  write_recordings_lane(out);
  write_damage_lanes(out);
  write_offset_lane(out);
  write_events_lane(out);
  write_axis(out);
  write_merge_lane(out);
  // Where each picture was taken: the target of its link.
  for (int i = 0; stills_ && i < stills_->count(); ++i) {
    const int32_t frame = stills_->at(i).frame;
    if (i > 0 && stills_->at(i - 1).frame == frame) continue;
    out.printf("<line class=\"grid\" id=\"");
    out.printf(STILL_MARK_ID, frame);
    out.printf("\" x1=\"%.2f\" x2=\"%.2f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", x_of(frame), x_of(frame), AXIS_TOP - 4, AXIS_TOP);
  }
  out.printf("</svg>\n<p class=\"legend\">");
  auto key = [&](const char* colour, const char* meaning) {
    out.printf("<span><i style=\"background:%s\"></i>%s</span>", colour, meaning);
  };
  for (const swatch& s : {REC0, REC1}) key(s.colour, s.meaning);
  out.printf("<span><i style=\"border:1px dashed %s;background:repeating-linear-gradient(45deg,%s 0 2px,#fff 2px "
             "5px)\"></i>recording without a start mark, found from a jump of its recording time</span>",
             HATCH, HATCH);
  for (const swatch& s : DAMAGE) key(s.colour, s.meaning);
  for (const swatch& s : {OFFSET_LINE, OFFSET_RANGE}) key(s.colour, s.meaning);
  for (const event_kind& k : EVENT_KINDS) key(k.look.colour, k.look.meaning);
  if (merge_) {
    char meaning[64];
    for (int32_t i = 0; i < merge_->transfer_count; ++i) {
      std::snprintf(meaning, sizeof meaning, "merged from transfer %d: ", i + 1);
      out.printf("<span><i style=\"background:%s\"></i>%s", TRANSFER_COLOURS[i % 8], meaning);
      html_text(out, merge_->transfers[i].name);
      out.printf("</span>");
    }
    key(SEVERAL_COLOUR, "merged from several transfers, block by block");
    key(DAMAGE[1].colour, "still damaged: no transfer read it right");
  }
  const timeline& t = *timeline_;
  out.printf("</p>\n<p>One slice: %d frame%s; a damage lane draws the most damaged frame of each slice.</p>\n"
             "</section>\n",
             t.frames_per_slice(), t.frames_per_slice() == 1 ? "" : "s");
}

// Where a merged stream came from: a band for each stretch of frames from one
// transfer, or assembled from several; a red bar under what stayed damaged.
void html_report::write_merge_lane(output_stream& out) const {
  if (!merge_) return;
  out.printf("<text x=\"4\" y=\"%.1f\">%s</text>\n<g id=\"%s\">\n", MERGED.top + MERGED.height / 2 + 4, MERGED.name,
             MERGED.id);
  for (int64_t i = 0; i < merge_->stretch_count; ++i) {
    const merge_stretch& m = merge_->stretches[i];
    // Frames of the merged stream count from 0; its log counts them from 1.
    const int32_t first = static_cast<int32_t>(std::min<int64_t>(m.first_frame + 1, INT32_MAX));
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(m.first_frame + m.frames + 1, INT32_MAX));
    const double x0 = x_of(first), width = std::max(x_of(end) - x0, 0.5);
    const bool several = m.transfer < 0;
    out.printf("<g class=\"stretch\"><title>frames %lld to %lld: ", static_cast<long long>(m.first_frame + 1),
               static_cast<long long>(m.first_frame + m.frames));
    if (several)
      out.printf("assembled from several transfers");
    else
      out.printf("from transfer %d", m.transfer + 1);
    out.printf("%s</title><rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" fill=\"%s\"/>",
               m.damaged ? ", still damaged" : "", x0, MERGED.top, width, MERGED.height - 6,
               several ? SEVERAL_COLOUR : TRANSFER_COLOURS[m.transfer % 8]);
    if (m.damaged)
      out.printf("<rect class=\"error\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"4\"/>", x0,
                 MERGED.top + MERGED.height - 4, width);
    out.printf("</g>\n");
  }
  out.printf("</g>\n");
}

// Recordings: a band each, from its first frame to the next one's, with as
// much of its name as fits: number, date and time; number and date; number.
void html_report::write_recordings_lane(output_stream& out) const {
  char tc[16], when[80], day[80], length[32], position[32], label[96];
  out.printf("<g id=\"%s\">\n", RECORDINGS.id);
  for (int i = 0; i < recordings_.size(); ++i) {
    const recording& r = recordings_[i];
    const double x0 = x_of(r.at.frame);
    const double x1 = i + 1 < recordings_.size() ? x_of(recordings_[i + 1].at.frame) : LEFT + PLOT;
    const int32_t end = i + 1 < recordings_.size() ? recordings_[i + 1].at.frame : last_frame_ + 1;
    rec_datetime_text(r.stamp.rec_date, r.stamp.rec_time, year_(), when, sizeof when);
    rec_datetime_text(r.stamp.rec_date, NO_INFO, year_(), day, sizeof day);
    if (const size_t n = std::strlen(day)) day[n - 1] = '\0';  // the space before the time
    out.printf("<g class=\"recording\"><title>Recording %d, from %s: %s / ", i + 1,
               position_text(r.at.frame, position, sizeof position),
               timecode_text(r.stamp.timecode, tc, sizeof tc));
    html_text(out, when);
    // The tape's first frame opens a recording whether marked or not; a later
    // unmarked one was found from a jump of the recording time.
    const bool from_jump = !r.marked && i > 0;
    out.printf(", %s long%s</title>", duration_text(std::max(end - r.at.frame, 0), system(), length, sizeof length),
               from_jump ? ", no start mark: found from a jump of the recording time" : "");
    const double width = std::max(x1 - x0, 0.5);
    out.printf("<rect class=\"rec%d\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\"/>", i % 2, x0,
               RECORDINGS.top, width, RECORDINGS.height);
    if (from_jump)
      out.printf("<rect class=\"unmarked\" x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.0f\"/>", x0 + 0.5,
                 RECORDINGS.top + 0.5, std::max(width - 1, 0.5), RECORDINGS.height - 1);
    const char* fits = nullptr;
    const char* parts[] = {when, day, ""};
    for (const char* part : parts) {
      std::snprintf(label, sizeof label, "%d%s%s", i + 1, *part ? ": " : "", part);
      if (std::strlen(label) * GLYPH_WIDTH + 6 <= x1 - x0) {
        fits = label;
        break;
      }
    }
    if (fits) {
      out.printf("<text x=\"%.2f\" y=\"%.0f\">", x0 + 3, RECORDINGS.top + RECORDINGS.height / 2 + 4);
      html_text(out, fits);
      out.printf("</text>");
    }
    out.printf("</g>\n");
  }
  out.printf("</g>\n");
}

// Damage: in each slice, its most damaged frame's share of video blocks
// concealed (orange), in error (red) and lost with a missing sequence (slate),
// stacked; and of audio blocks holding error samples (purple). Any damage
// gets at least a sliver.
void html_report::write_damage_lanes(output_stream& out) const {
  const timeline& t = *timeline_;
  const double slice_width = PLOT / std::max(t.used(), 1);
  char tc[16], tc2[16], tc3[16], from[32], to[32];
  // A bar at least 1.5 units wide: a slice on a long tape is narrower.
  auto bar = [&](const char* cls, double x, double bottom, double share, double height) {
    if (share <= 0) return bottom;
    const double h = std::max(share * height, 1.5);
    out.printf("<rect class=\"%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>", cls, x, bottom - h,
               std::max(slice_width, 1.5), h);
    return bottom - h;
  };
  // The hover text's opening: the slice's frames, positions and timecodes.
  auto slice_title = [&](const slice& s) {
    out.printf("<g class=\"damage\"><title>Frames %d to %d, %s to %s, timecode %s to %s: ", s.first_frame,
               s.last_frame, position_text(s.first_frame, from, sizeof from),
               position_text(s.last_frame, to, sizeof to), timecode_text(s.first_timecode, tc, sizeof tc),
               timecode_text(s.last_timecode, tc2, sizeof tc2));
  };
  for (const bool video : {true, false}) {
    out.printf("<g id=\"%s\">\n", video ? VIDEO.id : AUDIO_ERRORS.id);
    for (int i = 0; i < t.used(); ++i) {
      const slice& s = t.at(i);
      const worst_frame& w = video ? s.worst_video : s.worst_audio;
      if (w.damaged == 0) continue;
      slice_title(s);
      const double x = LEFT + i * slice_width;
      if (video) {
        out.printf("worst frame %d (%s), %lld of %lld video blocks damaged (%lld concealed, %lld in missing "
                   "sequences); in all, %lld of %lld concealed, %lld in error, %lld sequences missing</title>",
                   w.frame, timecode_text(w.timecode, tc3, sizeof tc3), ll(w.damaged), ll(w.blocks), ll(w.concealed),
                   ll(w.missing), ll(s.concealed), ll(s.video_blocks), ll(s.errors), ll(s.sequences_missing));
        const double blocks = static_cast<double>(w.blocks);
        double top = bar("concealed", x, VIDEO.top + VIDEO.height, w.concealed / blocks, VIDEO.height);
        top = bar("error", x, top, (w.damaged - w.concealed - w.missing) / blocks, VIDEO.height);
        bar("missing", x, top, w.missing / blocks, VIDEO.height);
      } else {
        out.printf("worst frame %d (%s), %lld of %lld audio blocks with error samples; in all, %lld of %lld</title>",
                   w.frame, timecode_text(w.timecode, tc3, sizeof tc3), ll(w.damaged), ll(w.blocks),
                   ll(s.audio_error_blocks), ll(s.audio_blocks));
        bar("audioerr", x, AUDIO_ERRORS.top + AUDIO_ERRORS.height, w.share(), AUDIO_ERRORS.height);
      }
      out.printf("</g>\n");
    }
    out.printf("</g>\n");
  }
}

// The audio offset in milliseconds: its range in each slice, and the line
// through its value at each slice's end, around a zero line. The scale spans
// at least one frame period either way: a stream in step carries a sample
// more or less than the frames call for (NTSC at 48 kHz alternates 1600 and
// 1602 samples), which then draws flat, and only a real drift shows.
void html_report::write_offset_lane(output_stream& out) const {
  const timeline& t = *timeline_;
  const double slice_width = PLOT / std::max(t.used(), 1);
  const system_profile& sys = system_of(system());
  const double period_ms = 1000.0 * static_cast<double>(sys.frame_num) / static_cast<double>(sys.frame_den);
  const uint32_t rate = has_audio_ ? AUDIO_RATE_HZ[settings_.audio_rate_code & 3] : 0;
  const double ms_per_sample = rate > 0 ? 1000.0 / rate : 0.0;
  double largest = period_ms;
  for (int i = 0; i < t.used(); ++i)
    largest = std::max({largest, std::abs(t.at(i).offset_min * ms_per_sample),
                        std::abs(t.at(i).offset_max * ms_per_sample)});
  const double mid = OFFSET.top + OFFSET.height / 2, scale = (OFFSET.height / 2 - 2) / largest;
  out.printf("<g id=\"%s\"><title>Audio offset in milliseconds: audio samples carried against those the frames "
             "call for</title>\n",
             OFFSET.id);
  out.printf("<line class=\"grid\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.1f\" y2=\"%.1f\"/>\n", LEFT, LEFT + PLOT, mid, mid);
  out.printf("<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%+.1f ms</text>", LEFT + PLOT - 2, OFFSET.top + 10,
             largest);
  out.printf("<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">%+.1f ms</text>\n", LEFT + PLOT - 2,
             OFFSET.top + OFFSET.height - 3, -largest);
  if (rate == 0) {
    out.printf("</g>\n");
    return;
  }
  for (int i = 0; i < t.used(); ++i) {
    const slice& s = t.at(i);
    if (s.frames == 0 || s.offset_min == s.offset_max) continue;
    out.printf("<rect class=\"range\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>\n", LEFT + i * slice_width,
               mid - s.offset_max * ms_per_sample * scale, std::max(slice_width, 0.5),
               static_cast<double>(int64_t{s.offset_max} - s.offset_min) * ms_per_sample * scale);
  }
  out.printf("<polyline class=\"offset\" points=\"");
  for (int i = 0; i < t.used(); ++i)
    if (t.at(i).frames > 0)
      out.printf("%.2f,%.2f ", LEFT + (i + 0.5) * slice_width, mid - t.at(i).offset_last * ms_per_sample * scale);
  out.printf("\"/>\n</g>\n");
}

// Events: a row for each kind, a tick for each event, with its position and
// timecode on hover.
void html_report::write_events_lane(output_stream& out) const {
  char tc[16], tc2[16], position[32], text[256];
  out.printf("<g id=\"%s\">\n", EVENTS.id);
  for (int row = 0; row < ROW_COUNT; ++row) {
    const double top = EVENTS.top + row * ROW_HEIGHT;
    out.printf("<text class=\"row\" x=\"4\" y=\"%.1f\">%s</text><line class=\"row-line\" x1=\"%.0f\" x2=\"%.0f\" "
               "y1=\"%.1f\" y2=\"%.1f\"/>\n",
               top + ROW_HEIGHT / 2 + 3.5, EVENT_KINDS[row].name, LEFT, LEFT + PLOT, top + ROW_HEIGHT / 2,
               top + ROW_HEIGHT / 2);
  }
  // Opens a mark: its group, and the start of its hover text.
  auto open = [&](int row, int32_t frame, uint32_t timecode) {
    out.printf("<g class=\"marker %s\"><title>%s, frame %d, %s: ", EVENT_KINDS[row].look.cls,
               position_text(frame, position, sizeof position), frame, timecode_text(timecode, tc, sizeof tc));
  };
  auto tick = [&](int row, int32_t frame) {
    const double x = x_of(frame), top = EVENTS.top + row * ROW_HEIGHT;
    out.printf("</title><line x1=\"%.2f\" x2=\"%.2f\" y1=\"%.1f\" y2=\"%.1f\"/></g>\n", x, x, top + 1,
               top + ROW_HEIGHT - 1);
  };
  for (int i = 0; i < jumps_.size(); ++i) {
    const jump& j = jumps_[i];
    if (!j.timecode && j.marked) continue;  // a recording start shows it
    const int row = j.timecode ? ROW_TIMECODE_JUMP : ROW_UNMARKED_JUMP;
    open(row, j.at.frame, j.stamp.timecode);
    if (j.timecode) {
      out.printf("timecode jump from %s", timecode_text(j.from_a, tc2, sizeof tc2));
    } else {
      out.printf("recording time jump from ");
      html_text(out, rec_datetime_text(j.from_a, j.from_b, year_(), text, sizeof text));
      out.printf(" to ");
      html_text(out, rec_datetime_text(j.stamp.rec_date, j.stamp.rec_time, year_(), text, sizeof text));
      out.printf(", no start mark");
    }
    tick(row, j.at.frame);
  }
  for (int i = 0; i < recordings_.size(); ++i) {
    const recording& r = recordings_[i];
    if (!r.marked) continue;
    open(ROW_RECORDING_START, r.at.frame, r.stamp.timecode);
    out.printf("recording %d starts, recorded ", i + 1);
    html_text(out, rec_datetime_text(r.stamp.rec_date, r.stamp.rec_time, year_(), text, sizeof text));
    tick(ROW_RECORDING_START, r.at.frame);
  }
  if (tc_broken_) {
    open(ROW_TIMECODE_BROKEN, tc_broken_at_.frame, tc_broken_timecode_);
    out.printf("the timecode fails: frames counted from DIF sequences from here");
    tick(ROW_TIMECODE_BROKEN, tc_broken_at_.frame);
  }
  for (int i = 0; i < statuses_.size(); ++i) {
    const status_row& r = statuses_[i];
    const status_event e{r.at, r.settings, r.changed, r.has_audio, r.audio_offset};
    open(ROW_STATUS, r.at.frame, r.settings.timecode);
    html_text(out, status_settings_text(e, text, sizeof text));
    tick(ROW_STATUS, r.at.frame);
  }
  for (int i = 0; i < skipped_.size(); ++i) {
    const skipped_bytes_event& e = skipped_[i];
    open(ROW_SKIPPED, e.at.frame, e.stamp.timecode);
    out.printf("%llu bytes skipped at offset %llu%s", static_cast<unsigned long long>(e.bytes),
               static_cast<unsigned long long>(e.at.offset), e.at_end ? ", at the end of the input" : "");
    tick(ROW_SKIPPED, e.at.frame);
  }
  for (int i = 0; i < parts_.size(); ++i) {
    const part_row& p = parts_[i];
    open(ROW_PART, p.first_frame, p.first.timecode);
    out.printf("part %d begins: %lld frames, %llu bytes", p.number, static_cast<long long>(p.frames),
               static_cast<unsigned long long>(p.bytes));
    tick(ROW_PART, p.first_frame);
  }
  out.printf("</g>\n");
}

// The axis: the position in the tape, as time from its first frame, at round
// steps; the timecodes are on hover and in the tables.
void html_report::write_axis(output_stream& out) const {
  const timeline& t = *timeline_;
  const system_profile& sys = system_of(system());
  const double span = static_cast<double>(std::max(t.used(), 1)) * t.frames_per_slice() *
                      static_cast<double>(sys.frame_num) / static_cast<double>(sys.frame_den);
  constexpr double STEPS[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 18000};
  double step = 36000;
  for (double s : STEPS)
    if (span / s <= 8) {
      step = s;
      break;
    }
  out.printf("<g id=\"axis\"><line class=\"grid\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", LEFT,
             LEFT + PLOT, AXIS_TOP, AXIS_TOP);
  out.printf("<text x=\"4\" y=\"%.0f\">Elapsed time</text>\n", AXIS_TOP + 16);
  char text[32];
  for (int k = 0; k * step <= span + 1e-9; ++k) {
    const double x = LEFT + PLOT * k * step / span;
    const char* anchor = k == 0 ? "start" : x > LEFT + PLOT - 30 ? "end" : "middle";
    out.printf("<line class=\"grid\" x1=\"%.2f\" x2=\"%.2f\" y1=\"%.0f\" y2=\"%.0f\"/>"
               "<text x=\"%.2f\" y=\"%.0f\" text-anchor=\"%s\">%s</text>\n",
               x, x, AXIS_TOP, AXIS_TOP + 4, x, AXIS_TOP + 16, anchor,
               elapsed_text(k * step, step < 1, text, sizeof text));
  }
  out.printf("</g>\n");
}

void html_report::write_tables(output_stream& out) const {
  char tc[16], tc2[16], when[80], text[256], position[32];
  // Ends a table: a row saying there is none, and how many were not kept.
  auto end_table = [&](int rows, int64_t more, int columns) {
    if (rows == 0 && more == 0) out.printf("<tr><td colspan=\"%d\">None</td></tr>\n", columns);
    out.printf("</table>\n");
    if (more > 0) out.printf("<p class=\"more\">And %lld more, not kept.</p>\n", static_cast<long long>(more));
  };
  // The first cells of a row: the position in the tape and the timecode.
  auto row_start = [&](int32_t frame, uint32_t timecode) {
    out.printf("<tr><td class=\"n\">%s</td><td>%s</td>", position_text(frame, position, sizeof position),
               timecode_text(timecode, tc, sizeof tc));
  };

  out.printf("<section>\n<h2>Recordings</h2>\n<table id=\"recordings\">\n"
             "<tr><th>Recording</th><th>Position</th><th>Start timecode</th><th>Recorded</th><th>First frame</th>"
             "<th>Frames</th><th>Length</th><th>Start mark</th></tr>\n");
  for (int i = 0; i < recordings_.size(); ++i) {
    const recording& r = recordings_[i];
    const int32_t end = i + 1 < recordings_.size() ? recordings_[i + 1].at.frame : last_frame_ + 1;
    const int32_t frames = std::max(end - r.at.frame, 0);
    out.printf("<tr><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td><td>", i + 1,
               position_text(r.at.frame, position, sizeof position), timecode_text(r.stamp.timecode, tc, sizeof tc));
    html_text(out, rec_datetime_text(r.stamp.rec_date, r.stamp.rec_time, year_(), when, sizeof when));
    out.printf("</td><td class=\"n\">%d</td><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td></tr>\n",
               r.at.frame, frames, duration_text(frames, system(), text, sizeof text), r.marked ? "yes" : "no");
  }
  end_table(recordings_.size(), recordings_.more(), 8);

  out.printf("<h2>Damaged runs</h2>\n<table id=\"damage\">\n"
             "<tr><th>Position</th><th>From</th><th>To</th><th>First frame</th><th>Frames</th><th>Video concealed</th>"
             "<th>Video errors</th><th>Video unknown</th><th>Even / odd sequences</th><th>Audio error samples</th>"
             "<th>Audio error blocks</th><th>Sequences missing</th></tr>\n");
  for (int i = 0; i < runs_.size(); ++i) {
    const damage_run_event& r = runs_[i];
    const damage_counts& d = r.damage;
    row_start(r.at.frame, r.first.timecode);
    out.printf("<td>%s</td><td class=\"n\">%d</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld / %lld%s</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td>",
               timecode_text(r.last_timecode, tc2, sizeof tc2), r.at.frame, ll(r.frames), ll(d.video_concealed),
               ll(d.video_errors), ll(d.video_unknown), ll(d.video_even), ll(d.video_odd),
               r.one_head ? " (one head)" : "", ll(d.audio_error_samples), ll(d.audio_error_blocks),
               ll(d.sequences_missing));
    out.printf("</tr>\n");
    // Under one of the worst runs: the frame before it, its worst frame,
    // and that frame's damaged blocks.
    if (stills_) write_run_stills(out, *stills_, r.at.frame, 12);
  }
  end_table(runs_.size(), runs_.more(), 12);

  out.printf("<h2>Jumps</h2>\n<table id=\"jumps\">\n<tr><th>Position</th><th>Timecode</th><th>Frame</th><th>Kind</th>"
             "<th>From</th><th>To</th></tr>\n");
  for (int i = 0; i < jumps_.size(); ++i) {
    const jump& j = jumps_[i];
    row_start(j.at.frame, j.stamp.timecode);
    out.printf("<td class=\"n\">%d</td><td>", j.at.frame);
    if (j.timecode) {
      out.printf("timecode</td><td>%s</td><td>%s</td></tr>\n", timecode_text(j.from_a, tc2, sizeof tc2), tc);
      continue;
    }
    out.printf("recording time, %s</td><td>", j.marked ? "new recording" : "not marked");
    html_text(out, rec_datetime_text(j.from_a, j.from_b, year_(), when, sizeof when));
    out.printf("</td><td>");
    html_text(out, rec_datetime_text(j.stamp.rec_date, j.stamp.rec_time, year_(), when, sizeof when));
    out.printf("</td></tr>\n");
  }
  end_table(jumps_.size(), jumps_.more(), 6);

  out.printf("<h2>Skipped bytes</h2>\n<table id=\"skipped\">\n<tr><th>Position</th><th>Timecode before</th>"
             "<th>Frame</th><th>Offset</th><th>Bytes</th><th>Where</th></tr>\n");
  for (int i = 0; i < skipped_.size(); ++i) {
    const skipped_bytes_event& e = skipped_[i];
    row_start(e.at.frame, e.stamp.timecode);
    out.printf("<td class=\"n\">%d</td><td class=\"n\">%llu</td><td class=\"n\">%llu</td><td>%s</td></tr>\n",
               e.at.frame, static_cast<unsigned long long>(e.at.offset), static_cast<unsigned long long>(e.bytes),
               e.at_end ? "at the end of the input" : "between DIF sequences");
  }
  end_table(skipped_.size(), skipped_.more(), 6);

  out.printf("<h2>Status lines</h2>\n<table id=\"status\">\n<tr><th>Position</th><th>Timecode</th><th>Recorded</th>"
             "<th>Frame</th><th>Settings</th></tr>\n");
  for (int i = 0; i < statuses_.size(); ++i) {
    const status_row& r = statuses_[i];
    const status_event e{r.at, r.settings, r.changed, r.has_audio, r.audio_offset};
    row_start(r.at.frame, r.settings.timecode);
    out.printf("<td>");
    html_text(out, rec_datetime_text(r.settings.rec_date, r.settings.rec_time, year_(), when, sizeof when));
    out.printf("</td><td class=\"n\">%d</td><td class=\"wrap\">", r.at.frame);
    html_text(out, status_settings_text(e, text, sizeof text));
    out.printf("</td></tr>\n");
  }
  end_table(statuses_.size(), statuses_.more(), 5);

  out.printf(
      "<h2>Reading the timeline</h2>\n"
      "<p>The lanes share one axis: the position in the tape, as time from its first frame; the timecodes are "
      "on hover and in the tables. <b>Recordings</b>: a band from each recording start the stream marks, or, "
      "hatched, from a jump of the recording time that no mark explains; the number is the one the header and "
      "the recordings table use. <b>Video damage</b>: the most damaged frame of each slice, its share of video "
      "blocks that the deck concealed (orange: copied from another frame, damage hidden) or left in error (red: "
      "damage visible) or lost with a missing DIF sequence (slate); a single bad frame is as tall on a long "
      "tape as on a short one. <b>Audio errors</b>: likewise, the share of audio blocks holding samples the "
      "deck could not read. <b>Audio offset</b>: audio samples carried against those the frames call for, in "
      "milliseconds, on a scale of at least one frame either way. <b>Events</b>: a row for each kind: timecode "
      "jumps, recording starts, recording time jumps without a start mark, the timecode failing, settings "
      "changes, and bytes that belong to no DIF sequence (a capture glitch, a splice, a file cut short).</p>\n"
      "<p>A <b>dropout</b> is a short red spike across all sequences. A <b>clogged head</b> damages every other "
      "DIF sequence for many frames: a long band at about half height, with the run marked \"one head\" in the "
      "table. An <b>edit</b> or a re-recording shows as a jump of the timecode or of the recording time, often "
      "with a little damage at the join.</p>\n</section>\n");
}

}  // namespace dvlog
