// The HTML report keeps a fixed amount whatever the length of the tape: a
// timeline of 2048 slices whose neighbours merge in pairs, and tables of at
// most 10000 rows that say how many more there were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "html/html_report.h"
#include "html/timeline.h"

namespace {

dvlog::frame_event frame_with(int32_t number, int32_t concealed, int32_t offset, int32_t errors = 0) {
  dvlog::frame_event f{};
  f.at.frame = number;
  f.stamp = {static_cast<uint32_t>(number), dvlog::NO_INFO, dvlog::NO_INFO, 0};
  f.video_blocks = 1350;
  f.audio_blocks = 90;
  f.damage.video_concealed = concealed;
  f.damage.video_errors = errors;
  f.audio_offset = offset;
  return f;
}

// However many frames come, the slices hold all of them and all their damage,
// each slice the same number of frames, and keep the range of the offset and
// their most damaged frame: a dropout in one frame, whole in any slice.
TEST(Timeline, MergesNeighboursInPairs) {
  struct row {
    int32_t frames;
    int used;
    int32_t per_slice;
  };
  const row rows[] = {{1, 1, 1}, {2048, 2048, 1}, {2049, 1025, 2}, {5000, 1250, 4}, {108000, 1688, 64}};
  for (const row& r : rows) {
    auto t = std::make_unique<dvlog::timeline>();
    const int32_t dropout = r.frames / 2 + 1;
    for (int32_t n = 1; n <= r.frames; ++n) {
      const int32_t concealed = n % 7 == 0 ? 3 : 0;
      t->add(n, frame_with(n, concealed, n % 11 - 5, n == dropout ? 1350 - concealed : 0));
    }
    EXPECT_EQ(t->used(), r.used) << r.frames;
    EXPECT_EQ(t->frames_per_slice(), r.per_slice) << r.frames;
    int64_t frames = 0, concealed = 0;
    for (int i = 0; i < t->used(); ++i) {
      const dvlog::slice& s = t->at(i);
      frames += s.frames;
      concealed += s.concealed;
      if (i + 1 < t->used()) {
        EXPECT_EQ(s.frames, r.per_slice) << r.frames << " slice " << i;
      }
      EXPECT_EQ(s.first_timecode, static_cast<uint32_t>(1 + i * r.per_slice)) << r.frames;
      const bool has_dropout = s.first_frame <= dropout && dropout <= s.last_frame;
      const int32_t first_seventh = (s.first_frame + 6) / 7 * 7;
      EXPECT_EQ(s.worst_video.frame, has_dropout ? dropout : first_seventh <= s.last_frame ? first_seventh : 0)
          << r.frames << " slice " << i;
      EXPECT_EQ(s.worst_video.share(), has_dropout ? 1.0 : s.worst_video.frame ? 3 / 1350.0 : 0.0) << r.frames;
      if (r.per_slice >= 11 && i + 1 < t->used()) {
        EXPECT_EQ(s.offset_min, -5) << r.frames;
        EXPECT_EQ(s.offset_max, 5) << r.frames;
      }
    }
    EXPECT_EQ(frames, r.frames);
    EXPECT_EQ(concealed, 3 * (r.frames / 7));
  }
}

// The page written into an in-memory file.
std::string page_of(const dvlog::html_report& report) {
  const int fd = memfd_create("report-test", 0);
  {
    dvlog::output_stream out(fd, 2);
    report.write(out);
    out.flush();
  }
  std::string page;
  char buffer[65536];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) page.append(buffer, static_cast<size_t>(n));
  close(fd);
  return page;
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A piece longer than the room left after what is gathered goes out whole.
TEST(OutputStream, LongPiecesAreNotCut) {
  const int fd = memfd_create("output-test", 0);
  const std::string gathered(7000, 'a'), piece(1500, 'b');
  {
    dvlog::output_stream out(fd, 2);
    out.write(gathered.data(), gathered.size());
    out.printf("%s|", piece.c_str());
    out.flush();
  }
  char buffer[16384];
  const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  close(fd);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), gathered + piece + "|");
}

TEST(HtmlReport, TablesKeepTenThousandRowsAndCountTheRest) {
  const dvlog::report_facts facts{"tape.dv", 0, "test"};
  dvlog::html_report report([] { return int64_t{2026}; }, facts);
  dvlog::status_event status{};
  dvlog::meta_reset(status.settings);
  for (int i = 0; i < dvlog::html_report::TABLE_ROWS + 7; ++i) {
    status.at.frame = i + 1;
    status.changed = dvlog::CHANGED_GAIN;
    report.status(status);
  }
  const std::string page = page_of(report);
  // The status table: a header row and 10000 rows; the rest counted.
  const size_t table = page.find("<table id=\"status\">");
  ASSERT_NE(table, std::string::npos);
  EXPECT_EQ(occurrences(page.substr(table, page.find("</table>", table) - table), "<tr>"), 10001u);
  EXPECT_NE(page.find("And 7 more, not kept."), std::string::npos);
}

// Names are escaped as HTML, and a byte that is no UTF-8 shows as U+FFFD.
TEST(HtmlReport, EscapesTheInputName) {
  const dvlog::report_facts facts{"<b>&\"tape\xff.dv", 0, "test"};
  dvlog::html_report report([] { return int64_t{2026}; }, facts);
  report.summary({});
  const std::string page = page_of(report);
  EXPECT_NE(page.find("<h1>&lt;b&gt;&amp;&quot;tape\xef\xbf\xbd.dv</h1>"), std::string::npos);
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
}

// Six recordings of three frames each, as the frame model numbers them, the
// fifth with no start mark, the fourth 16:9, the sixth 32 kHz 12-bit; the
// others NTSC DV25 4:3 48 kHz 16-bit, as the zeros of {} give them. Events
// come in the order the analysis tells them.
void tell_six_recordings(dvlog::html_report& report) {
  for (int k = 0; k < 6; ++k) {
    const int32_t first = 3 * k + 1;
    dvlog::status_event status{};
    status.at.frame = first;
    status.has_audio = true;
    status.settings.interlaced = status.settings.emphasis_off = 1;
    status.settings.aspect = k == 3 ? 2 : 0;
    status.settings.audio_rate_code = k == 5 ? 2 : 0;
    status.settings.audio_bits_code = k == 5 ? 1 : 0;
    report.status(status);
    for (int32_t n = first; n < first + 3; ++n) {
      dvlog::frame_event f = frame_with(n, 0, 0);
      f.recording = k + 1;
      f.recording_start = n == first && k != 4;
      report.frame(f);
    }
  }
}

// The header lists every setting seen with the recordings it applies to, and
// says first what stopped a run that did not read its whole input.
TEST(HtmlReport, HeaderTellsSettingsOfEachRecordingAndWhatStoppedTheReading) {
  const struct {
    int signal, error;
    const char* stopped;
  } rows[] = {
      {SIGINT, 0, "Stopped by SIGINT after 2000123 bytes"},
      {SIGTERM, 0, "Stopped by SIGTERM after 2000123 bytes"},
      {0, EIO, "Stopped by a read error (Input/output error) after 2000123 bytes"},
      {0, 0, nullptr},
  };
  for (const auto& r : rows) {
    const dvlog::report_facts facts{"tape.dv", 2000123, "test", r.signal, r.error};
    dvlog::html_report report([] { return int64_t{2026}; }, facts);
    tell_six_recordings(report);
    const std::string page = page_of(report);
    const std::string stopped = r.stopped ? "<p class=\"stopped\" id=\"stopped\">" + std::string(r.stopped) +
                                                ": this report covers what was read</p>\n"
                                          : "";
    for (const std::string& shown : {
             "<h1>tape.dv</h1>\n" + stopped + "<dl class=\"facts\">",
             std::string("<dd id=\"picture\">NTSC; DV25; 4:3 (recordings 1\u20133, 5, 6), 16:9 (recording 4); "
                         "interlaced</dd>"),
             std::string("<dd id=\"audio\">48kHz (recordings 1\u20135), 32kHz (recording 6); 16 bits (recordings "
                         "1\u20135), 12 bits (recording 6); locked</dd>"),
         })
      EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
}

}  // namespace
