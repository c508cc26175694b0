#include "html/still_html.h"

#include <cstdio>

#include "dv/block_map.h"
#include "html/html_text.h"

namespace dvlog {

namespace {

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void write_base64(output_stream& out, const uint8_t* data, size_t size) {
  char text[1024];
  size_t n = 0;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t a = data[i], b = i + 1 < size ? data[i + 1] : 0, c = i + 2 < size ? data[i + 2] : 0;
    const uint32_t word = a << 16 | b << 8 | c;
    text[n++] = BASE64[word >> 18 & 63];
    text[n++] = BASE64[word >> 12 & 63];
    text[n++] = i + 1 < size ? BASE64[word >> 6 & 63] : '=';
    text[n++] = i + 2 < size ? BASE64[word & 63] : '=';
    if (n == sizeof text) out.write(text, n), n = 0;
  }
  out.write(text, n);
}

// The picture of a still, linked to its frame's mark on the timeline; or a
// grey box of the thumbnail's size with the reason there is none.
void write_picture(output_stream& out, const still_picker& stills, const still& s, const char* what) {
  out.printf("<a href=\"#");
  out.printf(STILL_MARK_ID, s.frame);
  out.printf("\" title=\"%s, frame %d\">", what, s.frame);
  if (s.jpeg_size == 0) {
    // The reason may be the dynamic loader's words: escaped.
    out.printf("<span class=\"nopic\" style=\"width:%dpx;height:%dpx\">No picture: ",
               s.wide ? STILL_WIDTH_16_9 : STILL_WIDTH_4_3, STILL_HEIGHT);
    html_text(out, s.failure);
    out.printf("</span></a>");
    return;
  }
  out.printf("<img width=\"%d\" height=\"%d\" alt=\"%s, frame %d\" src=\"data:image/jpeg;base64,", s.width, s.height,
             what, s.frame);
  write_base64(out, stills.jpeg(s), s.jpeg_size);
  out.printf("\"></a>");
}

// The worst frame again, under the outlines of its damaged video blocks
// (orange: concealed; red: in error), drawn in the coordinates of the coded
// picture, which the thumbnail shows whole. Each outline is drawn twice, a
// dark stroke under a coloured one, so that it shows on any picture: the
// colour on dark parts, the dark edges on parts of its own colour.
void write_outlined(output_stream& out, const still_picker& stills, const still& s, const damage_outline& o) {
  const int height = DV25_HEIGHT[o.system & 1];
  const int sequences = system_of(o.system).sequences_per_frame;
  out.printf("<span class=\"outlined\">");
  write_picture(out, stills, s, "Damaged blocks");
  out.printf("<svg viewBox=\"0 0 %d %d\" preserveAspectRatio=\"none\" aria-hidden=\"true\"><defs>", DV25_WIDTH,
             height);
  for (const outline_mark mark : {outline_mark::concealed, outline_mark::error}) {
    const char* name = mark == outline_mark::concealed ? "concealed" : "error";
    out.printf("<path class=\"%s\" d=\"", name);
    for (int n = 0; n < sequences; ++n)
      for (int k = 0; k < VIDEO_BLOCKS; ++k) {
        if (o.mark[n][k] != mark) continue;
        const picture_rect r = dv25_macroblock(o.system, static_cast<unsigned>(n), k);
        out.printf("M%d %dh%dv%dh-%dz", r.x, r.y, r.width, r.height, r.width);
      }
    out.printf("\" id=\"outline-%d-%s\"/>", s.frame, name);
  }
  out.printf("</defs>");
  for (const char* name : {"concealed", "error"})
    for (const char* stroke : {"under", name})
      out.printf("<use href=\"#outline-%d-%s\" class=\"%s\"/>", s.frame, name, stroke);
  out.printf("</svg></span>");
}

}  // namespace

void write_contact_sheet(output_stream& out, const still_picker& stills, year_source year) {
  out.printf("<section id=\"pictures\">\n<h2>Pictures</h2>\n<div class=\"sheet\">\n");
  char tc[16], when[80], what[32];
  for (int i = 0; i < stills.count(); ++i) {
    const still& s = stills.at(i);
    if (s.kind != still_kind::recording && s.kind != still_kind::along) continue;
    const bool first = s.kind == still_kind::recording;
    std::snprintf(what, sizeof what, "Recording %d", s.recording);
    out.printf("<figure class=\"%s\">", first ? "first" : "along");
    write_picture(out, stills, s, what);
    out.printf("<figcaption>%s%s, %s<br>", first ? "" : "in ", what, timecode_text(s.stamp.timecode, tc, sizeof tc));
    // Digits, names of weekdays and zones: nothing to escape.
    out.printf("%s", rec_datetime_checked_text(s.stamp.rec_date, s.stamp.rec_time, year(), when, sizeof when));
    out.printf("</figcaption></figure>\n");
  }
  out.printf("</div>\n");
  if (stills.recordings_unshown() > 0)
    out.printf("<p class=\"more\">And %d more recordings, not pictured.</p>\n", stills.recordings_unshown());
  out.printf("</section>\n");
}

void write_run_stills(output_stream& out, const still_picker& stills, int32_t first_frame, int columns) {
  bool any = false;
  for (int i = 0; i < stills.count(); ++i) {
    const still& s = stills.at(i);
    if (s.run_first != first_frame) continue;
    if (!any) out.printf("<tr class=\"pics\"><td colspan=\"%d\"><div class=\"runpics\">", columns);
    any = true;
    const bool worst = s.kind == still_kind::worst_damage;
    write_picture(out, stills, s, worst ? "Worst frame" : "Frame before");
    if (!worst) continue;
    const damage_outline* o = stills.outline(s);
    if (o && o->any) {
      write_outlined(out, stills, s, *o);
    } else if (!o && s.jpeg_size > 0) {
      // Where each video block lies in the picture is known for DV25's
      // shuffling only.
      out.printf("<span class=\"nopic\" style=\"width:%dpx;height:%dpx\">No outlined blocks: where the video blocks "
                 "lie in the picture is known for DV25 only</span>",
                 s.wide ? STILL_WIDTH_16_9 : STILL_WIDTH_4_3, STILL_HEIGHT);
    }
  }
  if (any) out.printf("</div></td></tr>\n");
}

void write_still_style(output_stream& out) {
  out.printf(
      ".sheet{display:flex;flex-wrap:wrap;gap:8px}.sheet figure{margin:0}.sheet figure.along{opacity:.85}"
      "figcaption{font-size:12px}tr.pics td{white-space:normal;border-top:0}\n"
      // A run's pictures share one line, narrower if they must.
      ".runpics{display:flex;gap:4px;align-items:flex-start}.runpics>*{flex:0 1 auto;min-width:0}"
      ".runpics img{display:block;max-width:100%%;height:auto}\n"
      "img,.nopic{vertical-align:top}.nopic{display:inline-block;background:#bbb;color:#333;font-size:12px;"
      "padding:4px;box-sizing:border-box;white-space:normal}\n"
      ".outlined{position:relative;display:inline-block}.outlined svg{position:absolute;left:0;top:0;width:100%%;"
      "height:100%%;border:0;background:none}.outlined path{fill:none;vector-effect:non-scaling-stroke}"
      ".outlined use{fill:none}.outlined use.under{stroke:#000;stroke-width:4}.outlined use.concealed{stroke:#f80;"
      "stroke-width:2}.outlined use.error{stroke:#f22;stroke-width:2}\n");
}

}  // namespace dvlog
