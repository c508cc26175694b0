// Pictures of the tape (--stills, and the report's contact sheet and damaged
// runs) on DV streams made by ffmpeg at test time: each still is what
// ffmpeg's own decoder makes of the frame its name gives, the outlines lie
// where the test changed the picture, and the page shows every picture in a
// browser.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

constexpr size_t BLOCK = 80;
// Video block k of a sequence (transmission order): the audio block of its
// row of fifteen comes first. Byte 3 holds its status (STA) in the high
// nibble; the four luminance DCT blocks begin at bytes 4, 18, 32 and 46, each
// with its 9-bit DC coefficient.
constexpr size_t video_block(int k) { return (6 + 16 * static_cast<size_t>(k / 15) + 1 + k % 15) * BLOCK; }
constexpr size_t LUMA_DCT[] = {4, 18, 32, 46};

struct stream {
  const char* name;
  const char* ffmpeg;  // the picture asked of ffmpeg
  int sequences;       // a frame's
  int width;           // of its thumbnail
};
const stream NTSC{"ntsc", "testsrc=size=720x480:rate=30000/1001 -pix_fmt yuv411p", 10, 320},
    PAL{"pal", "testsrc=size=720x576:rate=25 -pix_fmt yuv420p", 12, 320},
    WIDE{"wide", "testsrc=size=720x576:rate=25 -pix_fmt yuv420p -aspect 16:9", 12, 426},
    DV50{"dv50", "testsrc=size=720x480:rate=30000/1001 -pix_fmt yuv422p", 20, 320};
constexpr int FRAMES = 12;

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = 0;
    shell_output("command -v ffmpeg", &status);
    if (status != 0) GTEST_SKIP() << "ffmpeg not found: the pictures are checked against its decoder";
  }

  // FRAMES frames of ffmpeg's test picture.
  bytes make(const stream& s) {
    const std::string path = dir_.file(std::string(s.name) + "-clean.dv");
    int status = 0;
    shell_output("ffmpeg -nostdin -v error -y -f lavfi -i " + std::string(s.ffmpeg) + " -frames:v " +
                     std::to_string(FRAMES) + " -f dv " + shell_quote(path),
                 &status);
    EXPECT_EQ(status, 0);
    return read_file(path);
  }

  // The files of a directory, sorted.
  std::vector<std::string> files(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream names(shell_output("LC_ALL=C ls " + shell_quote(path) + " 2>/dev/null"));
    for (std::string name; std::getline(names, name);) out.push_back(name);
    return out;
  }

  // PSNR (RGB, dB) of a still against ffmpeg's decode of frame `index` (from
  // 0) of a stream, scaled alike.
  double psnr(const std::string& still, const std::string& dv, int index, int width) {
    const std::string out = shell_output(
        "ffmpeg -nostdin -v quiet -i " + shell_quote(still) + " -i " + shell_quote(dv) +
        " -lavfi '[0:v]format=rgb24[a];[1:v]select=eq(n\\," + std::to_string(index) + "),scale=" + std::to_string(width) +
        ":240:flags=area,format=rgb24[b];[a][b]psnr=stats_file=-' -f null -");
    const size_t at = out.find("psnr_avg:");
    return at == std::string::npos ? 0 : std::stod(out.substr(at + 9));
  }

  // The luminance of frame `index` of a stream, or of a picture, as ffmpeg
  // decodes it, optionally scaled.
  bytes luma(const std::string& path, int index, const std::string& scale = "") {
    const std::string raw = dir_.file("luma.raw");
    shell_output("ffmpeg -nostdin -v quiet -y -i " + shell_quote(path) + " -vf 'select=eq(n\\," + std::to_string(index) +
                 ")" + (scale.empty() ? "" : "," + scale) + ",format=gray' -frames:v 1 -f rawvideo " + shell_quote(raw));
    return read_file(raw);
  }

  temp_dir dir_;
};

// Marks video blocks of a frame with a status, and (when `change`) moves
// their DC coefficients by half their range, so that the decoded picture
// changes in exactly their macroblocks.
struct mark {
  int sequence, block;
  uint8_t sta;
};
void damage(bytes& dv, const stream& s, int frame, const std::vector<mark>& marks, bool change = true) {
  for (const mark& m : marks) {
    uint8_t* b = &dv[(static_cast<size_t>((frame - 1) * s.sequences + m.sequence)) * SEQ + video_block(m.block)];
    b[3] = static_cast<uint8_t>(m.sta << 4 | (b[3] & 0x0F));
    if (change)
      for (size_t at : LUMA_DCT) b[at] ^= 0x80;  // the DC's top bit: its sign
  }
}

// The outlines of a page's damaged blocks: rectangles of the picture as
// coded, in error (red) or concealed (orange).
struct rect {
  int x, y, w, h;
  bool error;
};
std::vector<rect> outline_rects(const std::string& html) {
  std::vector<rect> rects;
  for (const bool error : {true, false}) {
    const std::regex path_re(std::string("<path class=\"") + (error ? "error" : "concealed") + "\" d=\"([^\"]*)\"");
    std::smatch m;
    if (!std::regex_search(html, m, path_re)) continue;
    const std::string d = m[1];
    const std::regex rect_re("M(\\d+) (\\d+)h(\\d+)v(\\d+)h-\\d+z");
    for (auto it = std::sregex_iterator(d.begin(), d.end(), rect_re); it != std::sregex_iterator(); ++it)
      rects.push_back({std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4]), error});
  }
  return rects;
}

// The outline holding a point of the coded picture (within `margin`), or -1.
int outline_at(const std::vector<rect>& rects, double x, double y, double margin) {
  for (size_t i = 0; i < rects.size(); ++i)
    if (x >= rects[i].x - margin && x < rects[i].x + rects[i].w + margin && y >= rects[i].y - margin &&
        y < rects[i].y + rects[i].h + margin)
      return static_cast<int>(i);
  return -1;
}

std::string text_of(const bytes& b) { return std::string(b.begin(), b.end()); }

// Each still is ffmpeg's decode of the frame its name gives, within 35 dB,
// and closer to it than to the other frames pictured; 16:9 pictures are
// wider. The frames: the first (a recording's), the one before a damaged
// run and the run's worst.
TEST_F(Pictures, StillsAreTheFramesTheirNamesGive) {
  for (const stream& s : {NTSC, PAL, WIDE, DV50}) {
    bytes dv = make(s);
    damage(dv, s, 9, {{0, 0, 7}});
    const std::string path = dir_.write(std::string(s.name) + ".dv", dv), stills = dir_.file(std::string(s.name) + "-stills");
    const tool_run r = run_tool({"--stills", stills, path});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string n = s.name;
    const std::vector<std::string> expected = {n + "-000001-00h00m00s00f.jpg", n + "-000008-00h00m00s07f.jpg",
                                               n + "-000009-00h00m00s08f.jpg"};
    ASSERT_EQ(files(stills), expected) << s.name;
    for (size_t i = 0; i < expected.size(); ++i) {
      const std::string still = stills + "/" + expected[i];
      const int frame = std::stoi(expected[i].substr(n.size() + 1, 6));
      const double own = psnr(still, path, frame - 1, s.width);
      EXPECT_GE(own, 35) << expected[i];
      for (int other : {1, 8, 9})
        if (other != frame) {
          EXPECT_GT(own, psnr(still, path, other - 1, s.width)) << expected[i] << " " << other;
        }
    }
    const std::string line = "Still: " + stills + "/" + expected[2] +
                             ", frame 9, 00h 00m 00s 08f, worst of the damage of frames 9 to 9\n";
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
}

// The blocks damaged in a DV25 frame are outlined where ffmpeg's decode of
// the frame changed, and nowhere else; the worst still differs from the
// clean frame there, and only there. (ffmpeg drops the bits that a block in
// error lent to the other blocks of its video segment, so the status alone
// may change those a little: that is allowed for.)
TEST_F(Pictures, OutlinesWhereTheDamageWasWritten) {
  const std::map<const stream*, std::vector<mark>> marked = {
      {&NTSC, {{0, 0, 7}, {3, 77, 7}, {9, 134, 7}, {5, 40, 2}}},
      {&PAL, {{0, 18, 7}, {11, 134, 15}, {8, 100, 2}, {4, 66, 14}}},
  };
  for (const auto& [s, marks] : marked) {
    const bytes clean = make(*s);
    bytes dv = clean, marked_only = clean;
    damage(dv, *s, 6, marks);
    damage(marked_only, *s, 6, marks, false);
    const std::string name = s->name, path = dir_.write(name + ".dv", dv), page = dir_.file(name + ".html"),
                      stills = dir_.file(name + "-stills"), clean_path = dir_.file(name + "-clean.dv"),
                      marked_path = dir_.write(name + "-marked.dv", marked_only);
    ASSERT_EQ(run_tool({"--report", page, "--stills", stills, path}).status, 0);

    // The outlines: rectangles of the picture as coded, error and concealed.
    const std::vector<rect> rects = outline_rects(text_of(read_file(page)));
    ASSERT_EQ(rects.size(), marks.size()) << name;
    EXPECT_EQ(std::count_if(rects.begin(), rects.end(), [](const rect& r) { return r.error; }),
              std::count_if(marks.begin(), marks.end(), [](const mark& m) { return m.sta == 7 || m.sta == 15; }));

    // Where ffmpeg's decode changed, at full size; and where the marks alone
    // changed it.
    const int width = 720, height = s->sequences * 48;
    const bytes marked_luma = luma(marked_path, 5), damaged_luma = luma(path, 5), clean_luma = luma(clean_path, 5);
    ASSERT_EQ(damaged_luma.size(), static_cast<size_t>(width * height));
    std::vector<int> changed_in(rects.size()), shown_in(rects.size());
    std::vector<bool> by_marks(damaged_luma.size());
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const size_t at = static_cast<size_t>(y * width + x);
        by_marks[at] = marked_luma[at] != clean_luma[at];
        if (marked_luma[at] == damaged_luma[at]) continue;
        const int i = outline_at(rects, x, y, 0);
        ASSERT_GE(i, 0) << name << ": changed outside the outlines at " << x << "," << y;
        ++changed_in[static_cast<size_t>(i)];
      }
    // The worst still against the clean frame scaled alike: different in
    // the outlined blocks (scaled to the thumbnail), alike elsewhere.
    const bytes still = luma(stills + "/" + name + "-000006-00h00m00s05f.jpg", 0),
                reference = luma(clean_path, 5, "scale=320:240:flags=area,scale=out_range=full");
    ASSERT_EQ(still.size(), size_t{320 * 240});
    ASSERT_EQ(reference.size(), still.size());
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        if (std::abs(still[static_cast<size_t>(y * 320 + x)] - reference[static_cast<size_t>(y * 320 + x)]) < 48) continue;
        const int px = x * 720 / 320, py = y * height / 240, i = outline_at(rects, px, py, 4);
        if (i >= 0) ++shown_in[static_cast<size_t>(i)];
        else EXPECT_TRUE(by_marks[static_cast<size_t>(py * width + px)]) << name << ": differs at " << x << "," << y;
      }
    for (size_t i = 0; i < rects.size(); ++i) {
      EXPECT_GT(changed_in[i], 0) << name << ": nothing changed in outline " << i;
      EXPECT_GT(shown_in[i], 0) << name << ": the still shows no damage in outline " << i;
    }
  }
}

// A frame that lost a DIF sequence is pictured with each of its other
// sequences where its number and channel put it, and the lost one's place
// blank: as ffmpeg decodes the frame with that sequence's audio and video
// blocks blanked (not with the sequences after it shifted into the wrong
// places). The outlines of a DV25 frame cover that sequence's blocks.
TEST_F(Pictures, AMissingSequenceLeavesItsPlaceBlank) {
  constexpr size_t BLOCKS_BEFORE_AUDIO = 6 * BLOCK;  // header, subcode, VAUX: no picture in them
  struct lost {
    const stream* s;
    int sequence;  // of frame 6, in the order ffmpeg writes them (DV50: channel 0's ten, then channel 1's)
  };
  for (const lost& l : {lost{&NTSC, 3}, lost{&PAL, 0}, lost{&DV50, 12}}) {
    const bytes clean = make(*l.s);
    const size_t at = (static_cast<size_t>(5 * l.s->sequences + l.sequence)) * SEQ;
    bytes cut = clean, blanked = clean;
    cut.erase(cut.begin() + static_cast<long>(at), cut.begin() + static_cast<long>(at + SEQ));
    std::fill(blanked.begin() + static_cast<long>(at + BLOCKS_BEFORE_AUDIO), blanked.begin() + static_cast<long>(at + SEQ), 0);
    const std::string name = l.s->name, path = dir_.write(name + ".dv", cut),
                      reference = dir_.write(name + "-blanked.dv", blanked), page = dir_.file(name + ".html"),
                      stills = dir_.file(name + "-stills");
    ASSERT_EQ(run_tool({"--report", page, "--stills", stills, path}).status, 0) << name;
    const std::string still = stills + "/" + name + "-000006-00h00m00s05f.jpg";
    const double own = psnr(still, reference, 5, l.s->width);
    EXPECT_GE(own, 35) << name;
    EXPECT_GT(own, psnr(still, dir_.file(name + "-clean.dv"), 5, l.s->width)) << name;
    if (l.s != &NTSC) continue;
    // Where the blank changed ffmpeg's decode lies within the outlines of
    // the lost sequence's blocks, all in error.
    const std::vector<rect> rects = outline_rects(text_of(read_file(page)));
    EXPECT_EQ(rects.size(), 135u);
    const bytes was = luma(dir_.file(name + "-clean.dv"), 5), is = luma(reference, 5);
    ASSERT_EQ(is.size(), size_t{720 * 480});
    int changed = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 720; ++x) {
        if (was[static_cast<size_t>(y * 720 + x)] == is[static_cast<size_t>(y * 720 + x)]) continue;
        ++changed;
        const int i = outline_at(rects, x, y, 0);
        ASSERT_TRUE(i >= 0 && rects[static_cast<size_t>(i)].error) << "changed outside the outlines at " << x << "," << y;
      }
    EXPECT_GT(changed, 720 * 48 / 2);
  }
}

// FFmpeg's libraries present but unusable (an empty file, a library without
// the functions dvlog calls, one of another major version, on the library
// path): every picture is a grey box saying why, the report is written and
// the log is the log without it, status 0; --version says why; --stills
// tells each still without its picture, says why, and fails.
TEST_F(Pictures, UnusableLibrariesGiveGreyBoxesNeverACrash) {
  std::smatch v;
  const std::string version = run_tool({"--version"}).out;
  ASSERT_TRUE(std::regex_search(version, v, std::regex("libavcodec (\\d+)\\..*libswscale (\\d+)\\..*libavutil (\\d+)\\.")))
      << version;
  const std::string codec = "libavcodec.so." + std::string(v[1]), scale = "libswscale.so." + std::string(v[2]),
                    util = "libavutil.so." + std::string(v[3]), next_util = std::to_string(std::stoi(v[3]) + 1);
  struct broken {
    std::string file, source, reason;  // the library, its C source (none: an empty file), why it is refused
  };
  const std::string sample = source_file("samples/sample.dv"), plain = run_tool({sample}).out;
  for (const broken& b : {broken{codec, "", dir_.file(codec) + ": file too short"},
                          broken{scale, "unsigned swscale_version(void) { return " + std::string(v[2]) + "u << 16; }",
                                 scale + " has no sws_getCachedContext"},
                          broken{util, "unsigned avutil_version(void) { return " + next_util + "u << 16; }",
                                 util + " is version " + next_util + ".0.0, not " + std::string(v[3])}}) {
    shell_output("rm -f " + shell_quote(dir_.file("lib")) + "*");
    int status = 0;
    if (b.source.empty())
      dir_.write(b.file, bytes{});
    else
      shell_output("printf '%s' " + shell_quote(b.source) + " | c++ -shared -fPIC -x c -o " +
                       shell_quote(dir_.file(b.file)) + " -",
                   &status);
    ASSERT_EQ(status, 0) << b.file;
    const std::string page = dir_.file("broken.html"), stills = dir_.file("broken-stills");
    const std::string run = "LD_LIBRARY_PATH=" + shell_quote(dir_.path()) + " " + shell_quote(DVLOG_BINARY) + " ";
    const std::string err = dir_.file("err");
    EXPECT_EQ(shell_output(run + "--report " + shell_quote(page) + " " + shell_quote(sample) + " 2>" + shell_quote(err), &status),
              plain) << b.reason;
    EXPECT_EQ(status, 0) << b.reason;
    EXPECT_EQ(text_of(read_file(err)), "");
    // The sample's eleven pictures: three recordings, and three damaged runs
    // (the frame before, the worst, and for video damage the outlined one).
    const std::string html = text_of(read_file(page));
    EXPECT_EQ(html.find("<img"), std::string::npos);
    size_t boxes = 0;
    for (size_t at = 0; (at = html.find("No picture: " + b.reason + "</span>", at)) != std::string::npos; ++at) ++boxes;
    EXPECT_EQ(boxes, 11u) << b.reason;
    EXPECT_EQ(shell_output(run + "--version"), "dvlog " + std::string(DVLOG_VERSION) + "\nNo pictures: " + b.reason + "\n");

    const std::string log = shell_output(run + "--stills " + shell_quote(stills) + " " + shell_quote(sample) + " 2>" + shell_quote(err), &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(log.find("Still: frame 1, 00h 00m 00s 00f, first of recording 1: no picture: " + b.reason + "\n"),
              std::string::npos) << log;
    EXPECT_EQ(text_of(read_file(err)), "Could not write stills to " + stills + ": " + b.reason + "\n");
    EXPECT_EQ(files(stills), std::vector<std::string>{});
  }
}

// The same pictures from a pipe as from the file (named after standard
// input), and a second run into the same directory refuses to write over
// them, leaving them as they were.
TEST_F(Pictures, FromAPipeAsFromTheFileAndNeverOverAFile) {
  const std::string sample = source_file("samples/sample.dv"), from_file = dir_.file("file"),
                    from_pipe = dir_.file("pipe");
  ASSERT_EQ(run_tool({"--stills", from_file, sample}).status, 0);
  const bytes input = read_file(sample);
  tool_io io;
  io.input = &input;
  ASSERT_EQ(run_tool({"--stills", from_pipe, "-"}, io).status, 0);
  const std::vector<std::string> a = files(from_file), b = files(from_pipe);
  ASSERT_EQ(a.size(), 8u);  // three recordings, three damaged runs, a frame both
  ASSERT_EQ(b.size(), a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].substr(std::string("sample").size()), b[i].substr(std::string("stdin").size()));
    EXPECT_EQ(read_file(from_file + "/" + a[i]), read_file(from_pipe + "/" + b[i])) << a[i];
  }
  // The JSON still events are valid, and tell what the text lines do.
  const std::string as_json = dir_.file("json"), tool = source_file("tests/tools/");
  int status = -1;
  const std::string rebuilt =
      shell_output(shell_quote(DVLOG_BINARY) + " --json --stills " + shell_quote(as_json) + " " + shell_quote(sample) +
                   " | tee " + shell_quote(dir_.file("log.json")) + " | " + shell_quote(tool + "json-to-log"));
  shell_output(shell_quote(tool + "validate-events") + " < " + shell_quote(dir_.file("log.json")), &status);
  EXPECT_EQ(status, 0);
  std::string text = run_tool({"--stills", dir_.file("text"), sample}).out;
  for (size_t at; (at = text.find(dir_.file("text"))) != std::string::npos;) text.replace(at, dir_.file("text").size(), as_json);
  EXPECT_EQ(rebuilt, text);

  const bytes before = read_file(from_file + "/" + a[0]);
  const tool_run again = run_tool({"--stills", from_file, sample});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("Could not write still " + from_file + "/" + a[0] + ": File exists\n"), std::string::npos)
      << again.err;
  EXPECT_EQ(files(from_file), a);
  EXPECT_EQ(read_file(from_file + "/" + a[0]), before);
  // A directory that is a file is refused before anything is read.
  const std::string not_dir = dir_.write("not-a-dir", bytes{});
  const tool_run refused = run_tool({"--stills", not_dir, sample});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "Could not write stills to " + not_dir + ": Not a directory\n");
}

// A name as the text log writes it: a backslash, a newline and a byte that
// is no UTF-8 escaped as C writes them.
std::string escaped(const std::string& name) {
  std::string out;
  for (const unsigned char c : name) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c >= 0x80 ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return out;
}

// An input whose name holds a newline, a backslash and a byte that is no
// UTF-8, and is as long as a name may be: every line that names a file
// written for it (parts, stills, the heads of several inputs) is one line,
// escaped; the stills' names are shortened to fit the folder, keeping frame
// number and timecode, and are written.
TEST_F(Pictures, NamesEscapedInLinesAndShortenedToFit) {
  const std::string base = "a\nb\\c\xFF" + std::string(240, 'x'), input = dir_.file(base + ".dv");
  shell_output("cp " + shell_quote(source_file("samples/sample.dv")) + " " + shell_quote(input));
  const std::string parts = dir_.file("named-parts"), stills = dir_.file("named-stills");
  const tool_run r = run_tool({"--split", parts, "--stills", stills, input});
  EXPECT_EQ(r.status, 0) << r.err;
  // ls would cut the names at their newlines.
  const auto names_in = [](const std::string& path) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(path)) out.push_back(entry.path().filename());
    return out;
  };
  const std::vector<std::string> part_files = names_in(parts), still_files = names_in(stills);
  ASSERT_EQ(part_files.size(), 3u);
  ASSERT_EQ(still_files.size(), 8u);
  // Whether a line of the log holds `text`.
  const auto told = [](const std::string& log, const std::string& text) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  for (const std::string& file : still_files) {
    EXPECT_EQ(file.size(), 255u);
    EXPECT_EQ(file.substr(0, 16), base.substr(0, 16)) << file;
    EXPECT_TRUE(told(r.out, "Still: " + escaped(stills + "/" + file) + ", frame ")) << escaped(file);
  }
  for (const std::string& file : part_files)
    EXPECT_TRUE(told(r.out, ": " + escaped(parts + "/" + file) + ", 00h ")) << escaped(file);
  EXPECT_TRUE(told(run_tool({input, input}).out, "==> " + escaped(input) + " <=="));
}

// In headless Chromium the report of the sample shows every picture (each
// decoded, natural width > 0): one a recording on the sheet, and three for
// each damaged run with video damage (two for the run of audio errors), all
// of a run on one line.
TEST_F(Pictures, ThePageShowsEveryPicture) {
  int status = 0;
  shell_output("command -v chromium", &status);
  if (status != 0) GTEST_SKIP() << "chromium not found";
  const std::string page = dir_.file("sample.html");
  ASSERT_EQ(run_tool({"--report", page, source_file("samples/sample.dv")}).status, 0);
  const bytes html = read_file(page);
  std::string measuring(html.begin(), html.end());
  measuring.replace(measuring.rfind("</body>"), 7,
                    "<script>addEventListener('load', () => document.body.insertAdjacentHTML('beforeend', "
                    "'<pre id=\"meas' + 'ured\">' + [...document.images].map(i => (i.closest('.sheet') ? 'sheet ' : "
                    "'run ') + i.naturalWidth).join(' ') + ' lines ' + [...document.querySelectorAll('tr.pics')].map(r "
                    "=> new Set([...r.querySelectorAll('img,.nopic')].map(e => e.getBoundingClientRect().top)).size)"
                    ".join(' ') + '</pre>'))</script></body>");
  const std::string copy = dir_.write("measuring.html", bytes(measuring.begin(), measuring.end()));
  const std::string dom = shell_output(
      "chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --user-data-dir=" +
      shell_quote(dir_.file("profile")) + " --dump-dom file://" + shell_quote(copy) + " 2>/dev/null");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dom, m, std::regex("<pre id=\"measured\">([^<]*)</pre>"))) << "no measures";
  // Each damaged run's pictures on one line, the three 16:9 ones too.
  EXPECT_EQ(std::string(m[1]), "sheet 320 sheet 426 sheet 320 run 320 run 320 run 320 run 426 run 426 run 426 run 320 "
                               "run 320 lines 1 1 1");
}

}  // namespace
}  // namespace dvtest
