#include "html/html_report.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dv/datetime.h"
#include "dv/system.h"
#include "html/html_text.h"
#include "html/still_html.h"
#include "html/timeline_svg.h"
#include "texts/picture_texts.h"
#include "texts/status_text.h"

namespace dvlog {

namespace {

long long ll(int64_t n) { return static_cast<long long>(n); }

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

html_report::html_report(year_source year, const report_facts& facts) : facts_(facts), content_(year, TABLE_ROWS) {}

void html_report::add_recording(const event_place& at, const frame_stamp& stamp, bool marked) {
  content_.recordings.add({at, stamp, marked, 0});
}

// The log tells a status line, or the timecode failing, at a sequence of the
// frame the frame model is reading, the one after the last it told of; the
// log's own count of frames lags where a timecode stood still. The page
// places everything by the frame model's count.
event_place html_report::in_frame_read(event_place at) const {
  at.frame = static_cast<int32_t>(static_cast<uint32_t>(content_.last_frame) + 1);
  return at;
}

void html_report::status(const status_event& e) {
  content_.statuses.add({in_frame_read(e.at), e.settings, e.changed, e.has_audio, e.audio_offset});
  content_.has_settings = true;
  content_.has_audio = e.has_audio;
  content_.settings = e.settings;
}

void html_report::timecode_broken(const timecode_broken_event& e) {
  content_.tc_broken = true;
  content_.tc_broken_at = in_frame_read(e.at);
  content_.tc_broken_timecode = e.timecode;
}

void html_report::frame(const frame_event& e) {
  // A recording begins where the frame model's count of them goes on: at the
  // first frame, at a start mark, or where the recording time jumps with no
  // mark to explain it.
  if (e.recording != recording_) add_recording(e.at, e.stamp, e.recording_start);
  recording_ = e.recording;
  content_.slices->add(e.at.frame, e);
  content_.last_frame = e.at.frame;
  if (e.sequences_repeated > 0)
    content_.capture.add({capture_kind::sequences_repeated, e.at, e.stamp.timecode, NO_INFO, e.at.frame,
                          e.sequences_repeated, NO_INFO8, NO_INFO8, false});

  // A frame's settings are those of the last status line, given before the
  // frame is; they belong to the recording begun last, its own.
  if (!content_.has_settings) return;
  uint64_t seen = 0;
  for (int field = 0; field < (content_.has_audio ? FIELD_COUNT : PICTURE_FIELDS); ++field) {
    const uint8_t key = key_of(field, content_.settings);
    field_values& v = seen_[field];
    int i = 0;
    while (i < v.count && v.key[i] != key) ++i;
    if (i == v.count) {
      if (v.count == SETTING_VALUES) continue;
      v.key[v.count++] = key;
    }
    seen |= uint64_t{1} << (SETTING_VALUES * field + i);
  }
  if (content_.recordings.more() > 0)
    settings_of_later_ |= seen;
  else if (content_.recordings.size() > 0)
    content_.recordings.back().settings |= seen;
}

void html_report::damage_run(const damage_run_event& e) { content_.runs.add(e); }

void html_report::timecode_jump(const timecode_jump_event& e) {
  content_.jumps.add({e.at, e.stamp, e.from, 0, true, false});
}

void html_report::recording_time_jump(const recording_time_jump_event& e) {
  content_.jumps.add({e.at, e.stamp, e.from_date, e.from_time, false, e.marked});
}

void html_report::skipped_bytes(const skipped_bytes_event& e) { content_.skipped.add(e); }

void html_report::part(const part_facts& p) {
  part_row row{p.number, p.first_frame, p.first, p.frames, p.bytes, {}};
  const char* slash = std::strrchr(p.path, '/');
  std::snprintf(row.name, sizeof row.name, "%s", slash ? slash + 1 : p.path);
  content_.parts.add(row);
}

void html_report::frames_dropped(const frames_dropped_event& e) {
  content_.capture.add(
      {capture_kind::dropped, e.at, e.stamp.timecode, e.from, e.at.frame, e.frames, NO_INFO8, NO_INFO8, false});
}

void html_report::retake(const retake_event& e) {
  content_.capture.add(
      {capture_kind::retake, e.at, e.stamp.timecode, e.from, e.from_frame, e.frames, NO_INFO8, NO_INFO8, e.by_content});
}

void html_report::add_run(capture_kind kind, const frame_run_event& e) {
  content_.capture.add(
      {kind, e.at, e.first.timecode, e.last_timecode, e.last_frame, e.frames, e.speed, e.forward, false});
}

void html_report::summary(const summary_event& e) {
  content_.summary = e;
  // Runs are told when they end, after the frames dropped within them.
  content_.capture.sort([](const capture_row& a, const capture_row& b) {
    return a.at.frame != b.at.frame ? a.at.frame < b.at.frame : a.kind < b.kind;
  });
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
      "th{background:#eee}td.n{text-align:right;font-variant-numeric:tabular-nums}\n");
  write_timeline_style(out);
  if (content_.stills) write_still_style(out);
  out.printf("p.more{color:#a00}.note{color:#666}\n</style>\n</head>\n<body>\n");
  write_header(out);
  write_timeline(out, content_);
  if (content_.stills) write_contact_sheet(out, *content_.stills, content_.year);
  write_tables(out);
  out.printf("</body>\n</html>\n");
}

// The values of settings fields first .. end - 1: a field with one value by
// itself, one with several each with the recordings it was seen in
// ("4:3 (recordings 1, 3), 16:9 (recording 2)").
void html_report::write_settings(output_stream& out, int first, int end) const {
  const report_content& c = content_;
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
      for (int r = 0; r < c.recordings.size(); ++r) listed += (c.recordings[r].settings & bit) != 0;
      out.printf(" (recording%s", listed == 1 ? "" : "s");
      for (int r = 0; r < c.recordings.size(); ++r) {
        if (!(c.recordings[r].settings & bit)) continue;
        int last = r;
        while (last + 1 < c.recordings.size() && (c.recordings[last + 1].settings & bit)) ++last;
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
  const report_content& c = content_;
  const summary_event& s = c.summary;
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
  // The frames are the stream's, as its DIF sequences delimit them; the log
  // counts one where the timecode does not change.
  const int64_t frames = s.has_damage ? s.damage.frames : s.frames;
  duration_text(frames, c.system(), text, sizeof text);
  out.printf("<dt>Duration</dt><dd id=\"duration\">%lld frames, %s</dd>\n", ll(frames), text);
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
  out.printf("<dt>Frames</dt><dd id=\"frames\">%lld", ll(frames));
  if (frames != s.frames) out.printf("; the log counted %d", s.frames);
  out.printf("</dd>\n");
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
      frames > 0 ? 100.0 * static_cast<double>(t.damaged_frames) / static_cast<double>(frames) : 0.0,
      ll(t.sum.video_concealed), ll(t.sum.video_errors), ll(t.sum.video_unknown), ll(t.sum.video_even),
      ll(t.sum.video_odd), ll(t.sum.audio_error_samples), ll(t.sum.audio_error_blocks), ll(t.sum.sequences_missing),
      static_cast<unsigned long long>(t.bytes_skipped), ll(t.timecode_jumps), ll(t.recording_time_jumps),
      ll(t.unmarked_recording_time_jumps));
  out.printf("<dt>Capture</dt><dd id=\"qc\">frames dropped %lld; frames repeated %lld; frames not at playback speed "
             "%lld; retakes %lld; DIF sequences repeated %lld</dd>\n",
             ll(t.frames_dropped), ll(t.frames_repeated), ll(t.frames_off_speed), ll(t.retakes),
             ll(t.sequences_repeated));
  if (t.container != container_kind::none)
    out.printf("<dt>Container</dt><dd id=\"container\">%s, %llu bytes of its own between the frames</dd>\n",
               container_name(t.container), static_cast<unsigned long long>(t.container_bytes));
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) == 0)
    std::snprintf(text, sizeof text, "?");
  out.printf("<dt>Report made</dt><dd id=\"made\">%s by dvlog %s</dd>\n</dl>\n</header>\n", text, facts_.version);
}

// What each transfer, and each pass of it over the tape, gave the merge.
void html_report::write_merge_table(output_stream& out) const {
  const merge_event* m = content_.merge;
  if (!m) return;
  out.printf("<h2>Transfers merged</h2>\n<table id=\"transfers\">\n"
             "<tr><th>Transfer</th><th>Pass</th><th>File</th><th>Frames</th><th>Merged frames read</th>"
             "<th>Not at playback speed</th><th>Repeated</th><th>Frames taken</th><th>Blocks taken</th>"
             "<th>Damaged blocks</th></tr>\n");
  for (int32_t i = 0; i < m->transfer_count; ++i) {
    const merge_transfer& t = m->transfers[i];
    out.printf("<tr><td class=\"n\">%d</td><td class=\"n\">%d pass%s</td><td>", i + 1, t.passes,
               t.passes == 1 ? "" : "es");
    html_text(out, t.name);
    out.printf("</td><td class=\"n\">%lld</td><td></td><td class=\"n\">%lld</td><td class=\"n\">%lld</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td></tr>\n",
               static_cast<long long>(t.frames), static_cast<long long>(t.off_speed),
               static_cast<long long>(t.repeated),
               static_cast<long long>(t.frames_taken), static_cast<long long>(t.blocks_taken),
               static_cast<long long>(t.damaged_blocks));
    for (int32_t k = 0; k < m->pass_count && t.passes > 1; ++k) {
      const merge_pass& p = m->passes[k];
      if (p.transfer != i) continue;
      out.printf("<tr><td></td><td class=\"n\">%d</td><td></td><td></td><td class=\"n\">%lld (%lld to %lld)</td>"
                 "<td></td><td></td><td class=\"n\">%lld</td><td class=\"n\">%lld</td><td></td></tr>\n",
                 p.number, static_cast<long long>(p.frames), static_cast<long long>(p.first_frame + 1),
                 static_cast<long long>(p.last_frame + 1), static_cast<long long>(p.frames_taken),
                 static_cast<long long>(p.blocks_taken));
    }
  }
  out.printf("</table>\n");
}

void html_report::write_tables(output_stream& out) const {
  const report_content& c = content_;
  char tc[16], tc2[16], when[80], text[256], position[32];
  // Ends a table: a row saying there is none, and how many were not kept.
  auto end_table = [&](int rows, int64_t more, int columns) {
    if (rows == 0 && more == 0) out.printf("<tr><td colspan=\"%d\">None</td></tr>\n", columns);
    out.printf("</table>\n");
    if (more > 0) out.printf("<p class=\"more\">And %lld more, not kept.</p>\n", static_cast<long long>(more));
  };
  // The first cells of a row: the position in the tape and the timecode.
  auto row_start = [&](int32_t frame, uint32_t timecode) {
    out.printf("<tr><td class=\"n\">%s</td><td>%s</td>", c.position_text(frame, position, sizeof position),
               timecode_text(timecode, tc, sizeof tc));
  };

  out.printf("<section>\n");
  write_merge_table(out);
  out.printf("<h2>Recordings</h2>\n<table id=\"recordings\">\n"
             "<tr><th>Recording</th><th>Position</th><th>Start timecode</th><th>Recorded</th><th>First frame</th>"
             "<th>Frames</th><th>Length</th><th>Start mark</th></tr>\n");
  for (int i = 0; i < c.recordings.size(); ++i) {
    const recording_row& r = c.recordings[i];
    const int32_t end = i + 1 < c.recordings.size() ? c.recordings[i + 1].at.frame : c.last_frame + 1;
    const int32_t frames = std::max(end - r.at.frame, 0);
    out.printf("<tr><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td><td>", i + 1,
               c.position_text(r.at.frame, position, sizeof position), timecode_text(r.stamp.timecode, tc, sizeof tc));
    html_text(out, rec_datetime_checked_text(r.stamp.rec_date, r.stamp.rec_time, c.year(), when, sizeof when));
    // The weekday shown is the date's own: say so where the stream's differs.
    if (weekday_wrong(r.stamp.rec_date, c.year()))
      out.printf(" <span class=\"note\">(the stream says %s)</span>", weekday_name(r.stamp.rec_date));
    out.printf("</td><td class=\"n\">%d</td><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td></tr>\n",
               r.at.frame, frames, duration_text(frames, c.system(), text, sizeof text), r.marked ? "yes" : "no");
  }
  end_table(c.recordings.size(), c.recordings.more(), 8);

  if (c.parts.size() > 0 || c.parts.more() > 0) {
    out.printf("<h2>Parts</h2>\n<table id=\"parts\">\n<tr><th>Part</th><th>Position</th><th>Start timecode</th>"
               "<th>First frame</th><th>Frames</th><th>Bytes</th><th>File</th></tr>\n");
    for (int i = 0; i < c.parts.size(); ++i) {
      const part_row& p = c.parts[i];
      out.printf("<tr><td class=\"n\">%d</td><td class=\"n\">%s</td><td>%s</td><td class=\"n\">%d</td>"
                 "<td class=\"n\">%lld</td><td class=\"n\">%llu</td><td>",
                 p.number, c.position_text(p.first_frame, position, sizeof position),
                 timecode_text(p.first.timecode, tc, sizeof tc), p.first_frame, ll(p.frames),
                 static_cast<unsigned long long>(p.bytes));
      html_text(out, p.name);
      out.printf("</td></tr>\n");
    }
    end_table(c.parts.size(), c.parts.more(), 7);
  }

  out.printf("<h2>Damaged runs</h2>\n<table id=\"damage\">\n"
             "<tr><th>Position</th><th>From</th><th>To</th><th>First frame</th><th>Frames</th><th>Video concealed</th>"
             "<th>Video errors</th><th>Video unknown</th><th>Even / odd sequences</th><th>Audio error samples</th>"
             "<th>Audio error blocks</th><th>Sequences missing</th></tr>\n");
  for (int i = 0; i < c.runs.size(); ++i) {
    const damage_run_event& r = c.runs[i];
    const damage_counts& d = r.damage;
    row_start(r.at.frame, r.first.timecode);
    out.printf("<td>%s</td><td class=\"n\">%d</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld / %lld%s</td>"
               "<td class=\"n\">%lld</td><td class=\"n\">%lld</td><td class=\"n\">%lld</td></tr>\n",
               timecode_text(r.last_timecode, tc2, sizeof tc2), r.at.frame, ll(r.frames), ll(d.video_concealed),
               ll(d.video_errors), ll(d.video_unknown), ll(d.video_even), ll(d.video_odd),
               r.one_head ? " (one head)" : "", ll(d.audio_error_samples), ll(d.audio_error_blocks),
               ll(d.sequences_missing));
    // Under one of the worst runs: the frame before it, its worst frame,
    // and that frame's damaged blocks.
    if (c.stills) write_run_stills(out, *c.stills, r.at.frame, 12);
  }
  end_table(c.runs.size(), c.runs.more(), 12);

  out.printf("<h2>Jumps</h2>\n<table id=\"jumps\">\n<tr><th>Position</th><th>Timecode</th><th>Frame</th><th>Kind</th>"
             "<th>From</th><th>To</th></tr>\n");
  for (int i = 0; i < c.jumps.size(); ++i) {
    const jump_row& j = c.jumps[i];
    row_start(j.at.frame, j.stamp.timecode);
    out.printf("<td class=\"n\">%d</td><td>", j.at.frame);
    if (j.timecode) {
      out.printf("timecode</td><td>%s</td><td>%s</td></tr>\n", timecode_text(j.from_a, tc2, sizeof tc2), tc);
      continue;
    }
    out.printf("recording time, %s</td><td>", j.marked ? "new recording" : "not marked");
    html_text(out, rec_datetime_checked_text(j.from_a, j.from_b, c.year(), when, sizeof when));
    out.printf("</td><td>");
    html_text(out, rec_datetime_checked_text(j.stamp.rec_date, j.stamp.rec_time, c.year(), when, sizeof when));
    out.printf("</td></tr>\n");
  }
  end_table(c.jumps.size(), c.jumps.more(), 6);

  out.printf("<h2>Skipped bytes</h2>\n<table id=\"skipped\">\n<tr><th>Position</th><th>Timecode before</th>"
             "<th>Frame</th><th>Offset</th><th>Bytes</th><th>Where</th></tr>\n");
  for (int i = 0; i < c.skipped.size(); ++i) {
    const skipped_bytes_event& e = c.skipped[i];
    row_start(e.at.frame, e.stamp.timecode);
    out.printf("<td class=\"n\">%d</td><td class=\"n\">%llu</td><td class=\"n\">%llu</td><td>%s</td></tr>\n",
               e.at.frame, static_cast<unsigned long long>(e.at.offset), static_cast<unsigned long long>(e.bytes),
               e.at_end ? "at the end of the input" : "between DIF sequences");
  }
  end_table(c.skipped.size(), c.skipped.more(), 6);

  out.printf("<h2>Capture</h2>\n<table id=\"capture\">\n<tr><th>Position</th><th>Timecode</th><th>Frame</th>"
             "<th>Frames</th><th>What the capture did</th><th>Details</th></tr>\n");
  for (int i = 0; i < c.capture.size(); ++i) {
    const capture_row& r = c.capture[i];
    row_start(r.at.frame, r.timecode);
    out.printf("<td class=\"n\">%d</td><td class=\"n\">%lld</td><td>%s</td><td>%s</td></tr>\n", r.at.frame,
               ll(r.frames), capture_kind_name(r.kind), capture_details(r, text, sizeof text));
  }
  end_table(c.capture.size(), c.capture.more(), 6);

  out.printf("<h2>Status lines</h2>\n<table id=\"status\">\n<tr><th>Position</th><th>Timecode</th><th>Recorded</th>"
             "<th>Frame</th><th>Settings</th></tr>\n");
  for (int i = 0; i < c.statuses.size(); ++i) {
    const status_row& r = c.statuses[i];
    const status_event e{r.at, r.settings, r.changed, r.has_audio, r.audio_offset};
    row_start(r.at.frame, r.settings.timecode);
    out.printf("<td>");
    html_text(out, rec_datetime_checked_text(r.settings.rec_date, r.settings.rec_time, c.year(), when, sizeof when));
    out.printf("</td><td class=\"n\">%d</td><td class=\"wrap\">", r.at.frame);
    html_text(out, status_settings_text(e, text, sizeof text));
    out.printf("</td></tr>\n");
  }
  end_table(c.statuses.size(), c.statuses.more(), 5);

  out.printf(
      "<h2>Reading the timeline</h2>\n"
      "<p>The lanes share one axis: the position in the tape, as time from its first frame; the timecodes are "
      "on hover and in the tables. <b>Recordings</b>: a band from each recording start the stream marks, or, "
      "hatched, from a jump of the recording time that no mark explains; the number is the one the header and "
      "the recordings table use. <b>Video damage</b>: the most damaged frame of each slice, its share of video "
      "blocks that the deck concealed (orange: copied from another frame, damage hidden) or left in error (red: "
      "damage visible) or lost with a missing DIF sequence (slate); a single bad frame is as tall on a long "
      "tape as on a short one, and any damage at least a few pixels high. <b>Audio errors</b>: likewise, the share of audio blocks holding samples the "
      "deck could not read. <b>Audio offset</b>: audio samples carried against those the frames call for, in "
      "milliseconds, on a scale of at least one frame either way. <b>Events</b>: a row for each kind: timecode "
      "jumps, recording starts, recording time jumps without a start mark, the timecode failing, settings "
      "changes, bytes that belong to no DIF sequence (a capture glitch, a splice, a file cut short), and what "
      "the capture did: frames it dropped (the timecode going on by more than a frame within a recording), "
      "frames it repeated (the same timecode and content as the frame before) and frames read while the deck "
      "was not playing at normal speed (shuttling, pausing or playing in reverse), the last two as spans, and "
      "retakes (the capture going back over frames it had read: the deck rewound and played again); then the "
      "parts of a split. Frames read while the deck was not playing are no damage and open no recording.</p>\n"
      "<p>A <b>dropout</b> is a short red spike across all sequences. A <b>clogged head</b> damages every other "
      "DIF sequence for many frames: a long band at about half height, with the run marked \"one head\" in the "
      "table. An <b>edit</b> or a re-recording shows as a jump of the timecode or of the recording time, often "
      "with a little damage at the join.</p>\n</section>\n");
}

}  // namespace dvlog
