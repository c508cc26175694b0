#include "html/timeline_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "dv/system.h"
#include "html/html_text.h"
#include "html/still_html.h"
#include "texts/status_text.h"

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

// The events lane: one row for each kind of mark, so that marks of several
// kinds at one frame all show.
enum event_row { ROW_TIMECODE_JUMP, ROW_RECORDING_START, ROW_UNMARKED_JUMP, ROW_TIMECODE_BROKEN, ROW_STATUS,
                 ROW_SKIPPED, ROW_DROPPED, ROW_REPEATED, ROW_OFF_SPEED, ROW_RETAKE, ROW_PART, ROW_COUNT };
constexpr double ROW_HEIGHT = 12;

constexpr lane RECORDINGS{"lane-recordings", "Recordings", 0, 34};
constexpr lane VIDEO{"lane-video", "Video damage", 40, 60};
constexpr lane AUDIO_ERRORS{"lane-audio", "Audio errors", 106, 30};
constexpr lane OFFSET{"lane-offset", "Audio offset, ms", 142, 60};
constexpr lane EVENTS{"lane-events", "", 208, ROW_HEIGHT * static_cast<int>(ROW_COUNT)};
constexpr double AXIS_TOP = EVENTS.top + EVENTS.height + 4;
constexpr double HEIGHT = AXIS_TOP + 22;
// Below the axis, for a merged stream only: which transfer each stretch came
// from, and what no transfer read right.
constexpr lane MERGED{"lane-merge", "Merged from", HEIGHT + 8, 30};
constexpr double HEIGHT_MERGED = MERGED.top + MERGED.height + 6;

// A damaged slice's least height; and the least height of each part of its
// bar, and the bar's least width. In user units, which are 0.74 pixels in a
// window 800 pixels wide, 1.06 in one 1,100 wide, 1.2 where the page is
// widest.
constexpr double LEAST_DAMAGE_HEIGHT = 6;
constexpr double LEAST_PART = 1.5;
constexpr double LEAST_SPAN = 2;  // the least width of a run of frames among the events

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

// The marks of the events lane. Runs of frames (repeated by the capture, or
// read off speed) are spans; all others ticks at a frame.
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
    {{"dropped", "#e0301e", "frames the capture dropped, before the mark"}, "Frames dropped"},
    {{"repeated", "#7a8a00", "frames the capture repeated"}, "Frames repeated"},
    {{"off-speed", "#5e3c99", "frames read while the deck was not playing at normal speed"}, "Not at playback speed"},
    {{"retake", "#b8860b", "a retake: the capture went back over frames it had read"}, "Retakes"},
    {{"part", "#1f4e9c", "a part of the split begins"}, "Parts"},
};

long long ll(int64_t n) { return static_cast<long long>(n); }

// "1:02:03", or "1:02:03.4" with tenths: a position on the axis.
const char* elapsed_text(double seconds, bool tenths, char* out, size_t size) {
  const long long t = std::llround(seconds * 10), s = t / 10;
  std::snprintf(out, size, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  if (tenths) std::snprintf(out + std::strlen(out), size - std::strlen(out), ".%lld", t % 10);
  return out;
}

// The drawing of one report's content.
class drawing {
 public:
  explicit drawing(const report_content& c) : c_(c) {}
  void write(output_stream& out) const;

 private:
  void write_recordings_lane(output_stream& out) const;
  void write_damage_lanes(output_stream& out) const;
  void write_offset_lane(output_stream& out) const;
  void write_events_lane(output_stream& out) const;
  void write_axis(output_stream& out) const;
  void write_merge_lane(output_stream& out) const;
  double x_of(int64_t frame) const;
  const char* position_text(int32_t frame, char* out, size_t size) const { return c_.position_text(frame, out, size); }
  uint8_t system() const { return c_.system(); }

  const report_content& c_;
};

// The x of a frame on the axis.
double drawing::x_of(int64_t frame) const {
  const timeline& t = *c_.slices;
  const double slices = std::max(t.used(), 1);
  const double position = static_cast<double>(frame - t.first_frame()) / t.frames_per_slice();
  return LEFT + PLOT * std::clamp(position / slices, 0.0, 1.0);
}

void drawing::write(output_stream& out) const {
  out.printf("<section id=\"timeline\">\n<h2>Timeline</h2>\n");
  out.printf("<svg id=\"timeline-svg\" viewBox=\"0 0 %.0f %.0f\" xmlns=\"http://www.w3.org/2000/svg\" "
             "role=\"img\" aria-label=\"Timeline of the tape\">\n",
             WIDTH, c_.merge ? HEIGHT_MERGED : HEIGHT);
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
  for (int i = 0; c_.stills && i < c_.stills->count(); ++i) {
    const int32_t frame = c_.stills->at(i).frame;
    if (i > 0 && c_.stills->at(i - 1).frame == frame) continue;
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
  if (c_.merge) {
    char meaning[64];
    for (int32_t i = 0; i < c_.merge->transfer_count; ++i) {
      std::snprintf(meaning, sizeof meaning, "merged from transfer %d: ", i + 1);
      out.printf("<span><i style=\"background:%s\"></i>%s", TRANSFER_COLOURS[i % 8], meaning);
      html_text(out, c_.merge->transfers[i].name);
      out.printf("</span>");
    }
    key(SEVERAL_COLOUR, "merged from several transfers, block by block");
    key(DAMAGE[1].colour, "still damaged: no transfer read it right");
  }
  const timeline& t = *c_.slices;
  out.printf("</p>\n<p>One slice: %d frame%s; a damage lane draws the most damaged frame of each slice.</p>\n"
             "</section>\n",
             t.frames_per_slice(), t.frames_per_slice() == 1 ? "" : "s");
}

// Where a merged stream came from: a band for each stretch of frames from one
// transfer, or assembled from several; a red bar under what stayed damaged.
void drawing::write_merge_lane(output_stream& out) const {
  if (!c_.merge) return;
  out.printf("<text x=\"4\" y=\"%.1f\">%s</text>\n<g id=\"%s\">\n", MERGED.top + MERGED.height / 2 + 4, MERGED.name,
             MERGED.id);
  for (int64_t i = 0; i < c_.merge->stretch_count; ++i) {
    const merge_stretch& m = c_.merge->stretches[i];
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
void drawing::write_recordings_lane(output_stream& out) const {
  char tc[16], when[80], day[80], length[32], position[32], label[96];
  out.printf("<g id=\"%s\">\n", RECORDINGS.id);
  for (int i = 0; i < c_.recordings.size(); ++i) {
    const recording_row& r = c_.recordings[i];
    const double x0 = x_of(r.at.frame);
    const double x1 = i + 1 < c_.recordings.size() ? x_of(c_.recordings[i + 1].at.frame) : LEFT + PLOT;
    const int32_t end = i + 1 < c_.recordings.size() ? c_.recordings[i + 1].at.frame : c_.last_frame + 1;
    rec_datetime_checked_text(r.stamp.rec_date, r.stamp.rec_time, c_.year(), when, sizeof when);
    rec_datetime_checked_text(r.stamp.rec_date, NO_INFO, c_.year(), day, sizeof day);
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
// stacked; and of audio blocks holding error samples (purple).
void drawing::write_damage_lanes(output_stream& out) const {
  const timeline& t = *c_.slices;
  const double slice_width = PLOT / std::max(t.used(), 1);
  char tc[16], tc2[16], tc3[16], from[32], to[32];
  // A stack of bars from the foot of a lane, each part of it as tall as its
  // share of the blocks (a frame damaged throughout fills the lane), but the
  // whole at least LEAST_DAMAGE_HEIGHT and each part at least LEAST_PART, so
  // that ten damaged blocks of 1,350 do not shrink to a dot.
  struct part {
    const char* cls;
    int64_t blocks;
  };
  auto stack = [&](const lane& l, double x, std::initializer_list<part> parts, int64_t blocks) {
    int64_t damaged = 0;
    int shown = 0;
    for (const part& p : parts) damaged += p.blocks, shown += p.blocks > 0;
    if (damaged <= 0 || blocks <= 0) return;
    const double share = std::min(static_cast<double>(damaged) / static_cast<double>(blocks), 1.0);
    const double spare = std::max(share * l.height, LEAST_DAMAGE_HEIGHT) - LEAST_PART * shown;
    double bottom = l.top + l.height;
    for (const part& p : parts) {
      if (p.blocks <= 0) continue;
      const double h = LEAST_PART + spare * static_cast<double>(p.blocks) / static_cast<double>(damaged);
      out.printf("<rect class=\"%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>", p.cls, x, bottom - h,
                 std::max(slice_width, LEAST_PART), h);
      bottom -= h;
    }
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
        const int64_t errors = w.damaged - w.concealed - w.missing;
        stack(VIDEO, x, {{"concealed", w.concealed}, {"error", errors}, {"missing", w.missing}}, w.blocks);
      } else {
        out.printf("worst frame %d (%s), %lld of %lld audio blocks with error samples; in all, %lld of %lld</title>",
                   w.frame, timecode_text(w.timecode, tc3, sizeof tc3), ll(w.damaged), ll(w.blocks),
                   ll(s.audio_error_blocks), ll(s.audio_blocks));
        stack(AUDIO_ERRORS, x, {{"audioerr", w.damaged}}, w.blocks);
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
void drawing::write_offset_lane(output_stream& out) const {
  const timeline& t = *c_.slices;
  const double slice_width = PLOT / std::max(t.used(), 1);
  const system_profile& sys = system_of(system());
  const double period_ms = 1000.0 * static_cast<double>(sys.frame_num) / static_cast<double>(sys.frame_den);
  const uint32_t rate = c_.has_audio ? AUDIO_RATE_HZ[c_.settings.audio_rate_code & 3] : 0;
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
void drawing::write_events_lane(output_stream& out) const {
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
  for (int i = 0; i < c_.jumps.size(); ++i) {
    const jump_row& j = c_.jumps[i];
    if (!j.timecode && j.marked) continue;  // a recording start shows it
    const int row = j.timecode ? ROW_TIMECODE_JUMP : ROW_UNMARKED_JUMP;
    open(row, j.at.frame, j.stamp.timecode);
    if (j.timecode) {
      out.printf("timecode jump from %s", timecode_text(j.from_a, tc2, sizeof tc2));
    } else {
      out.printf("recording time jump from ");
      html_text(out, rec_datetime_checked_text(j.from_a, j.from_b, c_.year(), text, sizeof text));
      out.printf(" to ");
      html_text(out, rec_datetime_checked_text(j.stamp.rec_date, j.stamp.rec_time, c_.year(), text, sizeof text));
      out.printf(", no start mark");
    }
    tick(row, j.at.frame);
  }
  for (int i = 0; i < c_.recordings.size(); ++i) {
    const recording_row& r = c_.recordings[i];
    if (!r.marked) continue;
    open(ROW_RECORDING_START, r.at.frame, r.stamp.timecode);
    out.printf("recording %d starts, recorded ", i + 1);
    html_text(out, rec_datetime_checked_text(r.stamp.rec_date, r.stamp.rec_time, c_.year(), text, sizeof text));
    tick(ROW_RECORDING_START, r.at.frame);
  }
  if (c_.tc_broken) {
    open(ROW_TIMECODE_BROKEN, c_.tc_broken_at.frame, c_.tc_broken_timecode);
    out.printf("the timecode fails: frames counted from DIF sequences from here");
    tick(ROW_TIMECODE_BROKEN, c_.tc_broken_at.frame);
  }
  for (int i = 0; i < c_.statuses.size(); ++i) {
    const status_row& r = c_.statuses[i];
    const status_event e{r.at, r.settings, r.changed, r.has_audio, r.audio_offset};
    open(ROW_STATUS, r.at.frame, r.settings.timecode);
    html_text(out, status_settings_text(e, text, sizeof text));
    tick(ROW_STATUS, r.at.frame);
  }
  for (int i = 0; i < c_.skipped.size(); ++i) {
    const skipped_bytes_event& e = c_.skipped[i];
    open(ROW_SKIPPED, e.at.frame, e.stamp.timecode);
    out.printf("%llu bytes skipped at offset %llu%s", static_cast<unsigned long long>(e.bytes),
               static_cast<unsigned long long>(e.at.offset), e.at_end ? ", at the end of the input" : "");
    tick(ROW_SKIPPED, e.at.frame);
  }
  // What the capture did: a tick at the frame after those it dropped and at
  // the first a retake read again, a span over the frames it repeated or
  // read off speed. Sequences sent twice are in the capture table only.
  for (int i = 0; i < c_.capture.size(); ++i) {
    const capture_row& r = c_.capture[i];
    if (r.kind == capture_kind::sequences_repeated) continue;
    const int row = r.kind == capture_kind::dropped    ? ROW_DROPPED
                    : r.kind == capture_kind::repeated ? ROW_REPEATED
                    : r.kind == capture_kind::retake   ? ROW_RETAKE
                                                       : ROW_OFF_SPEED;
    open(row, r.at.frame, r.timecode);
    if (r.kind == capture_kind::retake)
      out.printf("retake: %lld frame%s read again, %s", ll(r.frames), r.frames == 1 ? "" : "s",
                 capture_details(r, text, sizeof text));
    else
      out.printf("%lld frame%s %s: %s", ll(r.frames), r.frames == 1 ? "" : "s", capture_kind_name(r.kind),
                 capture_details(r, text, sizeof text));
    if (r.kind == capture_kind::dropped || r.kind == capture_kind::retake) {
      tick(row, r.at.frame);
      continue;
    }
    const double x = x_of(r.at.frame), top = EVENTS.top + row * ROW_HEIGHT;
    out.printf("</title><rect x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.1f\"/></g>\n", x, top + 1,
               std::max(x_of(int64_t{r.last_frame} + 1) - x, LEAST_SPAN), ROW_HEIGHT - 2);
  }
  for (int i = 0; i < c_.parts.size(); ++i) {
    const part_row& p = c_.parts[i];
    open(ROW_PART, p.first_frame, p.first.timecode);
    out.printf("part %d begins: ", p.number);
    html_text(out, p.name);
    out.printf(", %lld frames, %llu bytes", ll(p.frames), static_cast<unsigned long long>(p.bytes));
    tick(ROW_PART, p.first_frame);
  }
  out.printf("</g>\n");
}

// The axis: the position in the tape, as time from its first frame, at round
// steps; the timecodes are on hover and in the tables.
void drawing::write_axis(output_stream& out) const {
  const timeline& t = *c_.slices;
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

}  // namespace

void write_timeline_style(output_stream& out) {
  out.printf(
      "svg{width:100%%;height:auto;border:1px solid #ddd;background:#fff}\n"
      "svg text{font:11px system-ui,sans-serif;fill:#333}svg text.row{font-size:10px}\n"
      ".recording text{paint-order:stroke;stroke:#fff;stroke-width:3px;stroke-linejoin:round}\n"
      ".grid{stroke:#ccc}.row-line{stroke:#eee}.unmarked{fill:url(#hatch);stroke:%s;stroke-dasharray:3 2}\n"
      ".offset{fill:none;stroke:%s;stroke-width:1.2}.range{fill:%s}\n",
      HATCH, OFFSET_LINE.colour, OFFSET_RANGE.colour);
  for (const swatch& s : {REC0, REC1, DAMAGE[0], DAMAGE[1], DAMAGE[2], DAMAGE[3]})
    out.printf(".%s{fill:%s}", s.cls, s.colour);
  out.printf("\n.marker line{stroke-width:2}");
  for (const event_kind& k : EVENT_KINDS)
    out.printf(".%s line{stroke:%s}.%s rect{fill:%s}", k.look.cls, k.look.colour, k.look.cls, k.look.colour);
  out.printf(
      "\n.legend span{display:inline-block;white-space:nowrap;margin-right:1.2em}"
      ".legend i{display:inline-block;width:.9em;height:.9em;margin-right:.3em;vertical-align:-.1em}\n");
}

void write_timeline(output_stream& out, const report_content& content) { drawing(content).write(out); }

}  // namespace dvlog
