#include "report/html_report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dv/system.h"
#include "report/status_text.h"
#include "report/utf8.h"

namespace dvlog {

namespace {

// The drawing, in SVG user units: lanes stacked on one axis of frames.
constexpr double WIDTH = 1000;
constexpr double LEFT = 110;  // room for the lane names
constexpr double PLOT = WIDTH - LEFT - 10;

struct lane {
  const char* id;
  const char* name;
  double top, height;
};
constexpr lane RECORDINGS{"lane-recordings", "Recordings", 0, 34};
constexpr lane VIDEO{"lane-video", "Video damage", 40, 60};
constexpr lane AUDIO_ERRORS{"lane-audio", "Audio errors", 106, 24};
constexpr lane OFFSET{"lane-offset", "Audio offset", 136, 60};
constexpr lane EVENTS{"lane-events", "Events", 202, 26};
constexpr double AXIS_TOP = 234;
constexpr double HEIGHT = 258;

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

}  // namespace

html_report::html_report(year_source year, const report_facts& facts)
    : year_(year),
      facts_(facts),
      timeline_(new timeline),
      recordings_(TABLE_ROWS),
      runs_(TABLE_ROWS),
      statuses_(TABLE_ROWS),
      jumps_(TABLE_ROWS) {}

void html_report::status(const status_event& e) {
  statuses_.add({e.at, e.settings, e.changed, e.has_audio, e.audio_offset});
}

void html_report::recording_start(const recording_start_event& e) {
  recordings_.add({e.at, {e.timecode, e.rec_date, e.rec_time, e.drop_frame}, true});
}

void html_report::timecode_broken(const timecode_broken_event& e) {
  tc_broken_ = true;
  tc_broken_at_ = e.at;
  tc_broken_timecode_ = e.timecode;
}

void html_report::frame(const frame_event& e) {
  // The tape's first frame opens a recording, marked or not.
  if (last_frame_ == 0 && (recordings_.size() == 0 || recordings_[0].at.frame != e.at.frame))
    recordings_.add({e.at, e.stamp, false});
  timeline_->add(e.at.frame, e);
  last_frame_ = e.at.frame;
}

void html_report::damage_run(const damage_run_event& e) { runs_.add(e); }

void html_report::timecode_jump(const timecode_jump_event& e) {
  jumps_.add({e.at, e.stamp, e.from, 0, true, false});
}

void html_report::recording_time_jump(const recording_time_jump_event& e) {
  jumps_.add({e.at, e.stamp, e.from_date, e.from_time, false, e.marked});
  // A jump of the recording time that no mark explains starts a recording too.
  if (!e.marked) recordings_.add({e.at, e.stamp, false});
}

void html_report::summary(const summary_event& e) { summary_ = e; }

// The x of a frame on the axis.
double html_report::x_of(int32_t frame) const {
  const timeline& t = *timeline_;
  const double slices = std::max(t.used(), 1);
  const double position = static_cast<double>(int64_t{frame} - t.first_frame()) / t.frames_per_slice();
  return LEFT + PLOT * std::clamp(position / slices, 0.0, 1.0);
}

void html_report::write(output_stream& out) const {
  out.printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>dvlog report: ");
  html_text(out, facts_.input);
  out.printf(
      "</title>\n<style>\n"
      "body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;max-width:1200px}\n"
      "h1{font-size:1.3em;margin:0 0 .5em}h2{font-size:1.1em;margin:1.5em 0 .4em}\n"
      "dl.facts{display:grid;grid-template-columns:max-content auto;gap:.15em 1em;margin:0}\n"
      "dt{font-weight:600}dd{margin:0}\n"
      "table{border-collapse:collapse;font-size:13px}th,td{border:1px solid #ccc;padding:2px 6px;text-align:left}\n"
      "th{background:#eee}td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
      "svg{width:100%%;height:auto;border:1px solid #ddd;background:#fff}\n"
      "svg text{font:11px system-ui,sans-serif;fill:#333}\n"
      ".rec0{fill:#cfe3f7}.rec1{fill:#f7e3c5}.concealed{fill:#f0a030}.error{fill:#d02020}.audioerr{fill:#8030c0}\n"
      ".offset{fill:none;stroke:#2060b0;stroke-width:1.2}.range{fill:#2060b0;opacity:.2}.zero{stroke:#999}\n"
      ".marker line{stroke-width:2}.timecode-jump line{stroke:#2060b0}.recording-jump line{stroke:#e07000}\n"
      ".unmarked-jump line{stroke:#d02020}.timecode-broken line{stroke:#000}.status-change line{stroke:#999}\n"
      ".legend span{display:inline-block;width:.9em;height:.9em;margin:0 .3em 0 1em;vertical-align:-.1em}\n"
      "p.more{color:#a00}\n"
      "</style>\n</head>\n<body>\n");
  write_header(out);
  write_timeline(out);
  write_tables(out);
  out.printf("</body>\n</html>\n");
}

void html_report::write_header(output_stream& out) const {
  const summary_event& s = summary_;
  const status_row* last = statuses_.size() > 0 ? &statuses_.back() : nullptr;
  const uint8_t system = last ? last->settings.system : NO_INFO8;
  char text[256];

  out.printf("<header>\n<h1>");
  html_text(out, facts_.input);
  out.printf("</h1>\n<dl class=\"facts\">\n<dt>Input</dt><dd id=\"input\">");
  html_text(out, facts_.input);
  out.printf(", %llu bytes</dd>\n", static_cast<unsigned long long>(facts_.input_bytes));
  duration_text(s.frames, system, text, sizeof text);
  out.printf("<dt>Duration</dt><dd id=\"duration\">%d frames, %s</dd>\n", s.frames, text);
  if (last) {
    const dv_meta& m = last->settings;
    char type[4];
    const signal_type* t = find_signal_type(m.video_type);
    if (t == nullptr) std::snprintf(type, sizeof type, "%02X", m.video_type);
    out.printf("<dt>Picture</dt><dd id=\"picture\">%s, %s, %s, %s</dd>\n", system_of(m.system).name,
               t ? t->name : type, aspect_name(m.aspect), m.interlaced ? "interlaced" : "progressive");
    if (last->has_audio)
      out.printf("<dt>Audio</dt><dd id=\"audio\">%s %d bits, %s%s</dd>\n", AUDIO_RATE_NAMES[m.audio_rate_code & 3],
                 AUDIO_BITS[m.audio_bits_code & 3], m.audio_unlocked ? "unlocked" : "locked",
                 m.emphasis_off ? "" : ", emphasis on");
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
      "<dt>Damage</dt><dd id=\"damage\">%lld damaged frames (%.1f%%); video blocks concealed %lld, in error %lld, "
      "unknown %lld (even sequences %lld, odd %lld); audio error samples %lld in %lld blocks; DIF sequences missing "
      "%lld; timecode jumps %lld; recording time jumps %lld (%lld not marked)</dd>\n",
      ll(t.damaged_frames), s.frames > 0 ? 100.0 * static_cast<double>(t.damaged_frames) / s.frames : 0.0,
      ll(t.sum.video_concealed), ll(t.sum.video_errors), ll(t.sum.video_unknown), ll(t.sum.video_even),
      ll(t.sum.video_odd), ll(t.sum.audio_error_samples), ll(t.sum.audio_error_blocks), ll(t.sum.sequences_missing),
      ll(t.timecode_jumps), ll(t.recording_time_jumps), ll(t.unmarked_recording_time_jumps));
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) == 0)
    std::snprintf(text, sizeof text, "?");
  out.printf("<dt>Report made</dt><dd id=\"made\">%s by dvlog %s</dd>\n</dl>\n</header>\n", text, facts_.version);
}

void html_report::write_timeline(output_stream& out) const {
  const timeline& t = *timeline_;
  const double slice_width = PLOT / std::max(t.used(), 1);
  char tc[16], when[80];

  out.printf("<section id=\"timeline\">\n<h2>Timeline</h2>\n");
  out.printf("<svg id=\"timeline-svg\" viewBox=\"0 0 %.0f %.0f\" xmlns=\"http://www.w3.org/2000/svg\" "
             "role=\"img\" aria-label=\"Timeline of the tape\">\n",
             WIDTH, HEIGHT);
  for (const lane& l : {RECORDINGS, VIDEO, AUDIO_ERRORS, OFFSET, EVENTS})
    out.printf("<text x=\"4\" y=\"%.1f\">%s</text>\n", l.top + l.height / 2 + 4, l.name);

  // Recordings: a band each, from its first frame to the next one's.
  out.printf("<g id=\"%s\">\n", RECORDINGS.id);
  for (int i = 0; i < recordings_.size(); ++i) {
    const recording& r = recordings_[i];
    const double x0 = x_of(r.at.frame);
    const double x1 = i + 1 < recordings_.size() ? x_of(recordings_[i + 1].at.frame) : LEFT + PLOT;
    rec_datetime_text(r.stamp.rec_date, r.stamp.rec_time, year_(), when, sizeof when);
    out.printf("<g class=\"recording\"><title>%s / ", timecode_text(r.stamp.timecode, tc, sizeof tc));
    html_text(out, when);
    out.printf("%s</title><rect class=\"rec%d\" x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\"/>",
               r.marked ? "" : " (no start mark)", i % 2, x0, RECORDINGS.top, std::max(x1 - x0, 0.5),
               RECORDINGS.height);
    if (x1 - x0 > 90) {
      out.printf("<text x=\"%.2f\" y=\"%.0f\">", x0 + 3, RECORDINGS.top + RECORDINGS.height / 2 + 4);
      html_text(out, when);
      out.printf("</text>");
    }
    out.printf("</g>\n");
  }
  out.printf("</g>\n");

  // Damage: the share of the slice's video blocks concealed (orange) and in
  // error (red), stacked; audio blocks holding error samples (purple). Any
  // damage gets at least a sliver, so a single bad frame shows.
  auto bar = [&](const char* cls, double x, double bottom, double share, double height) {
    if (share <= 0) return bottom;
    const double h = std::max(share * height, 1.5);
    out.printf("<rect class=\"%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>", cls, x, bottom - h,
               std::max(slice_width, 0.5), h);
    return bottom - h;
  };
  out.printf("<g id=\"%s\">\n", VIDEO.id);
  for (int i = 0; i < t.used(); ++i) {
    const slice& s = t.at(i);
    if (s.video_blocks == 0 || s.concealed + s.errors == 0) continue;
    const double x = LEFT + i * slice_width, blocks = static_cast<double>(s.video_blocks);
    out.printf("<g class=\"damage\"><title>%s: %lld of %lld video blocks concealed, %lld in error</title>",
               timecode_text(s.first_timecode, tc, sizeof tc), static_cast<long long>(s.concealed),
               static_cast<long long>(s.video_blocks), static_cast<long long>(s.errors));
    const double top = bar("concealed", x, VIDEO.top + VIDEO.height, s.concealed / blocks, VIDEO.height);
    bar("error", x, top, s.errors / blocks, VIDEO.height);
    out.printf("</g>\n");
  }
  out.printf("</g>\n<g id=\"%s\">\n", AUDIO_ERRORS.id);
  for (int i = 0; i < t.used(); ++i) {
    const slice& s = t.at(i);
    if (s.audio_blocks == 0 || s.audio_error_blocks == 0) continue;
    out.printf("<g class=\"damage\"><title>%s: %lld of %lld audio blocks with error samples</title>",
               timecode_text(s.first_timecode, tc, sizeof tc), static_cast<long long>(s.audio_error_blocks),
               static_cast<long long>(s.audio_blocks));
    bar("audioerr", LEFT + i * slice_width, AUDIO_ERRORS.top + AUDIO_ERRORS.height,
        static_cast<double>(s.audio_error_blocks) / static_cast<double>(s.audio_blocks), AUDIO_ERRORS.height);
    out.printf("</g>\n");
  }
  out.printf("</g>\n");

  // The audio offset: its range in each slice, and the line through its value
  // at each slice's end, around a zero line.
  int64_t largest = 1;  // in 64 bits: |INT32_MIN| does not fit in 32
  for (int i = 0; i < t.used(); ++i)
    largest = std::max({largest, std::abs(int64_t{t.at(i).offset_min}), std::abs(int64_t{t.at(i).offset_max})});
  const double mid = OFFSET.top + OFFSET.height / 2, scale = (OFFSET.height / 2 - 2) / static_cast<double>(largest);
  out.printf("<g id=\"%s\"><title>Audio offset, samples (largest %lld)</title>\n", OFFSET.id, ll(largest));
  out.printf("<line class=\"zero\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.1f\" y2=\"%.1f\"/>\n", LEFT, LEFT + PLOT, mid, mid);
  out.printf("<text x=\"%.0f\" y=\"%.1f\">%+lld</text>\n", LEFT + PLOT - 40, OFFSET.top + 10, ll(largest));
  for (int i = 0; i < t.used(); ++i) {
    const slice& s = t.at(i);
    if (s.frames == 0 || s.offset_min == s.offset_max) continue;
    out.printf("<rect class=\"range\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>\n", LEFT + i * slice_width,
               mid - s.offset_max * scale, std::max(slice_width, 0.5),
               static_cast<double>(int64_t{s.offset_max} - s.offset_min) * scale);
  }
  out.printf("<polyline class=\"offset\" points=\"");
  for (int i = 0; i < t.used(); ++i)
    if (t.at(i).frames > 0) out.printf("%.2f,%.2f ", LEFT + (i + 0.5) * slice_width, mid - t.at(i).offset_last * scale);
  out.printf("\"/>\n</g>\n");

  // Events: a tick each, with its timecode on hover.
  auto tick = [&](int32_t frame, double top, double bottom) {
    const double x = x_of(frame);
    out.printf("<line x1=\"%.2f\" x2=\"%.2f\" y1=\"%.1f\" y2=\"%.1f\"/></g>\n", x, x, top, bottom);
  };
  out.printf("<g id=\"%s\">\n", EVENTS.id);
  for (int i = 0; i < statuses_.size(); ++i) {
    const status_row& r = statuses_[i];
    out.printf("<g class=\"marker status-change\"><title>%s settings change</title>",
               timecode_text(r.settings.timecode, tc, sizeof tc));
    tick(r.at.frame, EVENTS.top + 13, EVENTS.top + EVENTS.height);
  }
  for (int i = 0; i < jumps_.size(); ++i) {
    const jump& j = jumps_[i];
    const char* cls = j.timecode ? "timecode-jump" : j.marked ? "recording-jump" : "unmarked-jump";
    out.printf("<g class=\"marker %s\"><title>%s %s</title>", cls, timecode_text(j.stamp.timecode, tc, sizeof tc),
               j.timecode ? "timecode jump" : j.marked ? "recording time jump, new recording"
                                                        : "recording time jump, not marked");
    tick(j.at.frame, EVENTS.top, EVENTS.top + 13);
  }
  if (tc_broken_) {
    out.printf("<g class=\"marker timecode-broken\"><title>%s timecode broken: frames counted from DIF sequences from "
               "here</title>",
               timecode_text(tc_broken_timecode_, tc, sizeof tc));
    tick(tc_broken_at_.frame, EVENTS.top, EVENTS.top + EVENTS.height);
  }
  out.printf("</g>\n");

  // The axis: the timecode at a few slices.
  out.printf("<g id=\"axis\"><line class=\"zero\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", LEFT,
             LEFT + PLOT, AXIS_TOP, AXIS_TOP);
  // Up to six labels, spread evenly over the axis, each naming the slice under it.
  const int labels = std::min(t.used(), 6);
  for (int k = 0; k < labels; ++k) {
    const double share = labels > 1 ? static_cast<double>(k) / (labels - 1) : 0;
    const int i = std::min(static_cast<int>(share * t.used()), t.used() - 1);
    const double x = std::clamp(LEFT + share * PLOT, LEFT + 55, LEFT + PLOT - 55);
    out.printf("<text x=\"%.2f\" y=\"%.0f\" text-anchor=\"middle\">%s</text>\n", x, AXIS_TOP + 16,
               timecode_text(t.at(i).first_timecode, tc, sizeof tc));
  }
  out.printf("</g>\n</svg>\n");
  out.printf("<p class=\"legend\"><span class=\"rec0\" style=\"background:#cfe3f7\"></span>recording"
             "<span style=\"background:#f0a030\"></span>video concealed<span style=\"background:#d02020\"></span>"
             "video in error<span style=\"background:#8030c0\"></span>audio errors"
             "<span style=\"background:#2060b0\"></span>timecode jump<span style=\"background:#e07000\"></span>"
             "new recording<span style=\"background:#d02020\"></span>unmarked time jump"
             "<span style=\"background:#999\"></span>settings change. One slice: %d frame%s.</p>\n</section>\n",
             t.frames_per_slice(), t.frames_per_slice() == 1 ? "" : "s");
}

void html_report::write_tables(output_stream& out) const {
  char tc[16], tc2[16], when[80], text[256];
  // Ends a table: a row saying there is none, and how many were not kept.
  auto end_table = [&](int rows, int64_t more, int columns) {
    if (rows == 0 && more == 0) out.printf("<tr><td colspan=\"%d\">None</td></tr>\n", columns);
    out.printf("</table>\n");
    if (more > 0) out.printf("<p class=\"more\">And %lld more, not kept.</p>\n", static_cast<long long>(more));
  };

  out.printf("<section>\n<h2>Recordings</h2>\n<table id=\"recordings\">\n"
             "<tr><th>Start timecode</th><th>Recorded</th><th>First frame</th><th>Frames</th><th>Length</th>"
             "<th>Start mark</th></tr>\n");
  for (int i = 0; i < recordings_.size(); ++i) {
    const recording& r = recordings_[i];
    const int32_t end = i + 1 < recordings_.size() ? recordings_[i + 1].at.frame : last_frame_ + 1;
    const int32_t frames = std::max(end - r.at.frame, 0);
    duration_text(frames, statuses_.size() > 0 ? statuses_.back().settings.system : NO_INFO8, text, sizeof text);
    out.printf("<tr><td>%s</td><td>", timecode_text(r.stamp.timecode, tc, sizeof tc));
    html_text(out, rec_datetime_text(r.stamp.rec_date, r.stamp.rec_time, year_(), when, sizeof when));
    out.printf("</td><td class=\"n\">%d</td><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td></tr>\n", r.at.frame,
               frames, text, r.marked ? "yes" : "no");
  }
  end_table(recordings_.size(), recordings_.more(), 6);

  out.printf("<h2>Damaged runs</h2>\n<table id=\"damage\">\n"
             "<tr><th>From</th><th>To</th><th>First frame</th><th>Frames</th><th>Video concealed</th>"
             "<th>Video errors</th><th>Video unknown</th><th>Even / odd sequences</th><th>Audio error samples</th>"
             "<th>Audio error blocks</th><th>Sequences missing</th></tr>\n");
  for (int i = 0; i < runs_.size(); ++i) {
    const damage_run_event& r = runs_[i];
    const damage_counts& d = r.damage;
    out.printf("<tr><td>%s</td><td>%s</td><td class=\"n\">%d</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld / %lld%s</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td></tr>\n",
               timecode_text(r.first.timecode, tc, sizeof tc), timecode_text(r.last_timecode, tc2, sizeof tc2), r.at.frame,
               ll(r.frames), ll(d.video_concealed), ll(d.video_errors), ll(d.video_unknown), ll(d.video_even),
               ll(d.video_odd), r.one_head ? " (one head)" : "", ll(d.audio_error_samples), ll(d.audio_error_blocks),
               ll(d.sequences_missing));
  }
  end_table(runs_.size(), runs_.more(), 11);

  out.printf("<h2>Jumps</h2>\n<table id=\"jumps\">\n<tr><th>Timecode</th><th>Frame</th><th>Kind</th><th>From</th>"
             "<th>To</th></tr>\n");
  for (int i = 0; i < jumps_.size(); ++i) {
    const jump& j = jumps_[i];
    out.printf("<tr><td>%s</td><td class=\"n\">%d</td><td>", timecode_text(j.stamp.timecode, tc, sizeof tc), j.at.frame);
    if (j.timecode) {
      out.printf("timecode</td><td>%s</td><td>%s</td></tr>\n", timecode_text(j.from_a, tc, sizeof tc),
                 timecode_text(j.stamp.timecode, tc2, sizeof tc2));
      continue;
    }
    out.printf("recording time, %s</td><td>", j.marked ? "new recording" : "not marked");
    html_text(out, rec_datetime_text(j.from_a, j.from_b, year_(), when, sizeof when));
    out.printf("</td><td>");
    html_text(out, rec_datetime_text(j.stamp.rec_date, j.stamp.rec_time, year_(), when, sizeof when));
    out.printf("</td></tr>\n");
  }
  end_table(jumps_.size(), jumps_.more(), 5);

  out.printf("<h2>Status lines</h2>\n<table id=\"status\">\n<tr><th>Timecode</th><th>Recorded</th><th>Frame</th>"
             "<th>Settings</th></tr>\n");
  for (int i = 0; i < statuses_.size(); ++i) {
    const status_row& r = statuses_[i];
    const status_event e{r.at, r.settings, r.changed, r.has_audio, r.audio_offset};
    out.printf("<tr><td>%s</td><td>", timecode_text(r.settings.timecode, tc, sizeof tc));
    html_text(out, rec_datetime_text(r.settings.rec_date, r.settings.rec_time, year_(), when, sizeof when));
    out.printf("</td><td class=\"n\">%d</td><td>", r.at.frame);
    html_text(out, status_settings_text(e, text, sizeof text));
    out.printf("</td></tr>\n");
  }
  end_table(statuses_.size(), statuses_.more(), 4);

  out.printf(
      "<h2>Reading the timeline</h2>\n"
      "<p>Each lane shares the axis of frames, labelled with timecodes. <b>Recordings</b>: a band from each "
      "recording start the stream marks, or from a jump of the recording time that no mark explains. <b>Video "
      "damage</b>: the share of each slice's video blocks that the deck concealed (orange: copied from another "
      "frame, damage hidden) or left in error (red: damage visible). <b>Audio errors</b>: the share of audio blocks "
      "holding samples the deck could not read. <b>Audio offset</b>: audio samples carried against those the "
      "frames call for. <b>Events</b>: timecode jumps (blue), new recordings (orange), recording time jumps without "
      "a start mark (red), the timecode failing (black), settings changes (grey).</p>\n"
      "<p>A <b>dropout</b> is a short red spike across all sequences. A <b>clogged head</b> damages every other "
      "DIF sequence for many frames: a long band at about half height, with the run marked \"one head\" in the "
      "table. An <b>edit</b> or a re-recording shows as a jump of the timecode or of the recording time, often "
      "with a little damage at the join.</p>\n</section>\n");
}

}  // namespace dvlog
