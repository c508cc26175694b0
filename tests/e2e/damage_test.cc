// dvlog --damage on DV streams made by ffmpeg at test time, into which the
// tests write what a worn tape or a clogged head leaves: video blocks with an
// error status, audio error codes, lost sequences, timecode and recording-time
// jumps. Every expected count is that of what the test wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

constexpr size_t BLOCK = 80, AUDIO_DATA = 8;  // samples follow an audio block's ID and pack
// Audio block j is DIF block 6 + 16 j; the fifteen after it are video blocks,
// whose status (STA) is the high nibble of byte 3.
constexpr size_t audio_block(int j) { return (6 + 16 * static_cast<size_t>(j)) * BLOCK; }
constexpr size_t sta_byte(int k) { return audio_block(k / 15) + BLOCK * static_cast<size_t>(1 + k % 15) + 3; }
constexpr uint8_t TIMECODE = 0x13, AUDIO_SOURCE = 0x50, AUDIO_SOURCE_CONTROL = 0x51;

struct source {
  const char* name;
  bool pal;
  int rate;
  const char* timecode;
  bool twelve_bits;  // ffmpeg writes 16-bit samples only: the test rewrites them
};
// Drop-frame timecode skips 01:21:00;00 and ;01, but not 00:10:00;00.
const source NTSC{"ntsc", false, 48000, "01:20:59;28", false}, PAL{"pal", true, 48000, "10:59:59:23", false},
    NTSC12{"ntsc12", false, 48000, "00:09:59;20", true}, PAL12{"pal12", true, 32000, "00:00:00:00", true};
constexpr int FRAMES = 16;
// The creation_time given to ffmpeg, every frame's recording time. ffmpeg
// leaves the weekday field 0, Sunday, and so do the tests' rewrites.
const std::string MADE = "2010-06-26 14:45:11";

int per_frame(const source& s) { return s.pal ? 12 : 10; }
size_t at(const source& s, int frame, int seq) { return static_cast<size_t>((frame - 1) * per_frame(s) + seq) * SEQ; }

// Every pack of frames first .. last: six in each subcode block (after two
// sync ID bytes and a parity byte each), fifteen in each VAUX block, one in
// each audio block.
template <typename F>
void for_each_pack(bytes& dv, const source& s, int first, int last, F&& visit) {
  for (size_t seq = at(s, first, 0); seq < at(s, last + 1, 0); seq += SEQ) {
    for (size_t i = 0; i < 12; ++i) visit(&dv[seq + (1 + i / 6) * BLOCK + 6 + 8 * (i % 6)]);
    for (size_t i = 0; i < 45; ++i) visit(&dv[seq + (3 + i / 15) * BLOCK + 3 + 5 * (i % 15)]);
    for (int j = 0; j < 9; ++j) visit(&dv[seq + audio_block(j) + 3]);
  }
}

// A lost timecode holds all ones; dvlog then counts frames from sequences.
void blank_timecode(bytes& dv, const source& s, int from) {
  for_each_pack(dv, s, from, FRAMES, [](uint8_t* p) { if (p[0] == TIMECODE) std::fill(p + 1, p + 5, 0xFF); });
}

// A frame's timecode as JSON ("HH:MM:SS:FF") or the text log write it; the
// top bits of its bytes are flags.
std::string timecode_of(const bytes& dv, const source& s, int frame, bool text = false) {
  const uint8_t* p = &dv[at(s, frame, 0) + BLOCK + 6];
  char out[32];
  std::snprintf(out, sizeof out, text ? "%02Xh %02Xm %02Xs %02Xf" : "%02X:%02X:%02X:%02X", p[4] & 0x3F, p[3] & 0x7F,
                p[2] & 0x7F, p[1] & 0x3F);
  return out;
}

// The counts of a frame or a stream, in the order EVENTS lists them.
enum field { CONCEALED, ERRORS, UNKNOWN, EVEN, ODD, SAMPLES, BLOCKS, MISSING, FIELDS };
using damage = std::array<int, FIELDS>;
std::string csv(const damage& d) {
  std::string out;
  for (int v : d) out += std::to_string(v) + ",";
  out.pop_back();
  return out;
}

struct expected {
  std::map<int, damage> frames;    // the damaged ones, counted from 1
  std::vector<std::string> jumps;  // as EVENTS prints them
  bool one_head = false;           // of every run
};

// The damage events, runs, jumps and summary totals of dvlog --json --damage.
const char* const EVENTS = R"jq(def n: [.video_concealed, .video_errors, .video_unknown, .video_even, .video_odd,
    .audio_error_samples, .audio_error_blocks, .sequences_missing] | @csv;
  if .event == "damage" then "damage \(.frame): \(n)"
  elif .event == "damage_run" then "run \(.frame)-\(.last_frame): \(.frames) frames, one head \(.one_head)"
  elif .event == "timecode_jump" then "timecode jump \(.frame): \(.from) -> \(.to)"
  elif .event == "recording_time_jump" then
    "recording time jump \(.frame): \(.from.date) \(.from.time) -> \(.to.date) \(.to.time), marked \(.marked)"
  elif .event == "summary" then "summary \(.damage.damaged_frames): \(.damage | n), jumps \(.damage.timecode_jumps) \(
    .damage.recording_time_jumps) \(.damage.unmarked_recording_time_jumps)"
  else empty end)jq";

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t from = 0, to; from < text.size(); from = to + 1)
    lines.push_back(text.substr(from, (to = text.find('\n', from)) - from));
  std::sort(lines.begin(), lines.end());
  return lines;
}

void check(const std::string& path, const expected& e) {
  std::string want;
  damage sum{};
  for (auto f = e.frames.begin(); f != e.frames.end(); ++f) {
    want += "damage " + std::to_string(f->first) + ": " + csv(f->second) + "\n";
    for (int i = 0; i < FIELDS; ++i) sum[i] += f->second[i];
    if (f != e.frames.begin() && std::prev(f)->first == f->first - 1) continue;
    auto last = f;  // consecutive damaged frames make one run
    while (std::next(last) != e.frames.end() && std::next(last)->first == last->first + 1) ++last;
    want += "run " + std::to_string(f->first) + "-" + std::to_string(last->first) + ": " +
            std::to_string(last->first - f->first + 1) + " frames, one head " + (e.one_head ? "true" : "false") + "\n";
  }
  int tc = 0, rt = 0, unmarked = 0;
  for (const std::string& j : e.jumps) {
    want += j + "\n";
    tc += j.starts_with("timecode");
    rt += j.starts_with("recording");
    unmarked += j.ends_with("marked false");
  }
  want += "summary " + std::to_string(e.frames.size()) + ": " + csv(sum) + ", jumps " + std::to_string(tc) + " " +
          std::to_string(rt) + " " + std::to_string(unmarked) + "\n";
  const std::string json = shell_quote(DVLOG_BINARY) + " --json --damage " + shell_quote(path);
  EXPECT_EQ(sorted_lines(shell_output(json + " | jq -r " + shell_quote(EVENTS))), sorted_lines(want)) << path;
  int status = -1;  // and every event as the schema describes it
  const std::string bad = shell_output(json + " | " + shell_quote(source_file("tests/tools/validate-events")), &status);
  EXPECT_EQ(status, 0) << bad;
}

void expect_line(const std::string& log, const std::string& line) {
  EXPECT_NE(log.find(line + "\n"), std::string::npos) << "no line\n" << line << "\nin\n" << log;
}

class Damage : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = -1;
    shell_output("command -v ffmpeg && command -v jq", &status);
    if (status != 0) GTEST_SKIP() << "ffmpeg or jq not found: the damage tests need them";
  }

  // The stream of s, made once per run: `frames` frames of 16-bit stereo,
  // with more ffmpeg options if given.
  static const bytes& make(const source& s, int frames = FRAMES, const std::string& options = "") {
    const std::string name = s.name + std::to_string(frames) + options;
    bytes& dv = made[name];
    if (!dv.empty()) return dv;
    char duration[32];  // frames are set by duration: with -frames:v the muxer drops some for want of audio
    std::snprintf(duration, sizeof duration, "%.6f", frames * (s.pal ? 0.04 : 1001.0 / 30000));
    const std::string path = dir().file(std::to_string(made.size()) + ".dv"), rate = std::to_string(s.rate);
    const std::string command = std::string("TZ=UTC ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=") +
                                (s.pal ? "720x576:rate=25" : "720x480:rate=30000/1001") +
                                " -f lavfi -i sine=sample_rate=" + rate + " -t " + duration +
                                " -c:v dvvideo -pix_fmt " + (s.pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2" +
                                " -timecode " + shell_quote(s.timecode) + " -metadata creation_time=" +
                                MADE.substr(0, 10) + "T" + MADE.substr(11) + " " + options + " -f dv " +
                                shell_quote(path);
    int status = -1;
    shell_output(command, &status);
    EXPECT_EQ(status, 0) << command;
    dv = read_file(path);
    EXPECT_EQ(dv.size(), static_cast<size_t>(frames * per_frame(s)) * SEQ) << command;
    return dv;
  }
  static std::string save(const std::string& name, const bytes& dv) { return dir().write(name + ".dv", dv); }

  // Made at first use, removed at exit.
  static inline std::map<std::string, bytes> made;
  static temp_dir& dir() {
    static temp_dir d;
    return d;
  }
};

// As ffmpeg makes them, and with the timecode lost from frame 6 on.
TEST_F(Damage, CleanStreamsHaveNone) {
  for (const source* s : {&NTSC, &PAL, &NTSC12, &PAL12}) {
    SCOPED_TRACE(s->name);
    check(save(s->name, make(*s)), {});
    bytes dv = make(*s);
    blank_timecode(dv, *s, 6);
    check(save(std::string(s->name) + "_untimed", dv), {});
  }
}

// Video blocks first .. first + count - 1 of a sequence get one status; the
// frames are told by their timecode, or, with it lost, by sequences counted.
TEST_F(Damage, VideoBlockStatus) {
  struct row { const source& s; int frame, seq, first, count, sta; field kind; };  // kind: CONCEALED, ERRORS, UNKNOWN
  const row rows[] = {
      {NTSC, 3, 1, 0, 5, 2, CONCEALED},  {NTSC, 3, 4, 40, 3, 7, ERRORS},     {NTSC, 7, 2, 100, 2, 9, UNKNOWN},
      {NTSC, 5, 0, 10, 1, 4, CONCEALED}, {NTSC, 5, 3, 134, 1, 6, CONCEALED}, {NTSC, 5, 5, 50, 2, 10, CONCEALED},
      {NTSC, 6, 6, 0, 4, 12, CONCEALED}, {NTSC, 6, 7, 20, 1, 14, CONCEALED}, {NTSC, 6, 9, 3, 2, 15, ERRORS},
      {NTSC, 9, 8, 70, 3, 1, UNKNOWN},   {PAL, 2, 10, 0, 1, 3, UNKNOWN},     {PAL, 2, 11, 1, 1, 5, UNKNOWN},
      {PAL, 4, 0, 2, 1, 8, UNKNOWN},     {PAL, 4, 11, 3, 1, 11, UNKNOWN},    {PAL, 4, 10, 4, 1, 13, UNKNOWN},
      {PAL, 12, 10, 60, 9, 15, ERRORS},  {PAL, 12, 11, 60, 7, 2, CONCEALED}, {PAL, 1, 5, 20, 2, 7, ERRORS},
  };
  for (const source* s : {&NTSC, &PAL})
    for (const bool untimed : {false, true}) {
      SCOPED_TRACE(std::string(s->name) + (untimed ? " untimed" : ""));
      bytes clean = make(*s);
      if (untimed) blank_timecode(clean, *s, 1);
      bytes dv = clean;
      expected e;
      for (const row& r : rows) {
        if (&r.s != s) continue;
        for (int k = r.first; k < r.first + r.count; ++k) {
          uint8_t& sta = dv[at(*s, r.frame, r.seq) + sta_byte(k)];
          sta = static_cast<uint8_t>(r.sta << 4 | (sta & 0x0F));
        }
        e.frames[r.frame][r.kind] += r.count;
        e.frames[r.frame][r.seq % 2 == 0 ? EVEN : ODD] += r.count;
      }
      const std::string path = save(std::string(s->name) + "_sta", dv);
      check(path, e);
      // Without --damage the log is that of the intact stream.
      EXPECT_EQ(run_tool({path}).out, run_tool({save(std::string(s->name) + "_intact", clean)}).out);
    }
}

// Every video block of the even (or odd, or all) sequences of frames 4 to 8:
// STA 15 in even frames, 2 in odd ones. Damage on one side alone is one head.
TEST_F(Damage, HeadClog) {
  struct row { const source& s; int parity; };  // of the sequences hit; -1: all
  for (const row& r : {row{NTSC, 0}, row{PAL, 0}, row{PAL, 1}, row{NTSC, -1}}) {
    SCOPED_TRACE(std::string(r.s.name) + " " + std::to_string(r.parity));
    bytes dv = make(r.s);
    expected e;
    e.one_head = r.parity >= 0;
    damage run{};
    for (int f = 4; f <= 8; ++f)
      for (int n = 0; n < per_frame(r.s); ++n) {
        if (r.parity >= 0 && n % 2 != r.parity) continue;
        for (int k = 0; k < 135; ++k) dv[at(r.s, f, n) + sta_byte(k)] = f % 2 == 0 ? 0xF0 : 0x20;
        for (damage* d : {&e.frames[f], &run}) {
          (*d)[f % 2 == 0 ? ERRORS : CONCEALED] += 135;
          (*d)[n % 2 == 0 ? EVEN : ODD] += 135;
        }
      }
    const std::string path = save(std::string(r.s.name) + "_clog", dv);
    check(path, e);
    auto n = [](int value) { return std::to_string(value); };
    const std::string log = run_tool({"--damage", path}).out;
    expect_line(log, timecode_of(dv, r.s, 4, true) + " / Sun " + MADE + " - Damage: 5 frames to " +
                         timecode_of(dv, r.s, 8, true) + "; video blocks concealed " + n(run[CONCEALED]) + ", errors " +
                         n(run[ERRORS]) + ", unknown 0; in even/odd sequences " + n(run[EVEN]) + "/" + n(run[ODD]) +
                         (e.one_head ? ", one head" : "") + "; audio error samples 0 in 0 blocks; sequences missing 0");
    char share[16];
    std::snprintf(share, sizeof share, "%.1f", 100.0 * 5 / FRAMES);
    expect_line(log, "Damaged frames: 5 of " + n(FRAMES) + " (" + share + "%)\nVideo blocks concealed: " +
                         n(run[CONCEALED]) + ", errors: " + n(run[ERRORS]) + ", unknown: 0 (in even sequences: " +
                         n(run[EVEN]) + ", odd: " + n(run[ODD]) + ")");
  }
}

// Samples written into audio blocks: 16 bits, most significant byte first; or,
// once every audio source pack says 12 bits (QU 1) and the samples are
// silenced, two samples in three bytes: the top eight bits of each, then their
// low nibbles. Only the error code itself counts.
TEST_F(Damage, AudioErrorSamples) {
  struct row { const source& s; int frame, seq, block, sample; uint16_t value; };
  const row rows[] = {
      {PAL, 4, 2, 5, 0, 0x8000},   {PAL, 4, 2, 5, 1, 0x8000},    {PAL, 4, 2, 5, 35, 0x8000},  // in one block
      {PAL, 6, 0, 0, 10, 0x8000},  {PAL, 6, 7, 8, 0, 0x8000},    {PAL, 6, 11, 4, 20, 0x8000},  // in three
      {PAL, 8, 3, 3, 7, 0x8001},   {NTSC, 5, 9, 8, 17, 0x8000},  {NTSC, 5, 9, 8, 18, 0x0080},
      {NTSC, 10, 0, 3, 3, 0x8000}, {PAL12, 3, 0, 0, 0, 0x800},   {PAL12, 3, 0, 0, 1, 0x800},
      {PAL12, 3, 0, 0, 47, 0x800}, {PAL12, 5, 1, 8, 46, 0x800},  {PAL12, 5, 10, 2, 13, 0x800},
      {PAL12, 7, 4, 4, 4, 0x801},  {PAL12, 7, 4, 4, 5, 0x080},   {NTSC12, 2, 3, 6, 30, 0x800},
      {NTSC12, 2, 3, 6, 31, 0x800}, {NTSC12, 9, 9, 1, 0, 0x800},
  };
  for (const source* s : {&NTSC, &PAL, &NTSC12, &PAL12}) {
    SCOPED_TRACE(s->name);
    bytes dv = make(*s);
    if (s->twelve_bits)
      for (size_t seq = 0; seq < dv.size(); seq += SEQ)
        for (int j = 0; j < 9; ++j) {
          uint8_t* block = &dv[seq + audio_block(j)];
          if (block[3] == AUDIO_SOURCE) block[7] = static_cast<uint8_t>((block[7] & 0xF8) | 1);
          std::fill(block + AUDIO_DATA, block + BLOCK, 0);
        }
    expected e;
    std::set<size_t> hit;  // blocks holding an error sample
    for (const row& r : rows) {
      if (&r.s != s) continue;
      const size_t block = at(*s, r.frame, r.seq) + audio_block(r.block);
      uint8_t* data = &dv[block + AUDIO_DATA];
      if (!s->twelve_bits) {
        data[2 * r.sample] = static_cast<uint8_t>(r.value >> 8);
        data[2 * r.sample + 1] = static_cast<uint8_t>(r.value);
      } else {
        const int pair = 3 * (r.sample / 2), second = r.sample % 2;
        data[pair + second] = static_cast<uint8_t>(r.value >> 4);
        data[pair + 2] |= static_cast<uint8_t>((r.value & 0x0F) << (second ? 0 : 4));
      }
      if (r.value != (s->twelve_bits ? 0x800 : 0x8000)) continue;
      e.frames[r.frame][SAMPLES] += 1;
      e.frames[r.frame][BLOCKS] += hit.insert(block).second;
    }
    check(save(std::string(s->name) + "_audio", dv), e);
  }
}

// Whole sequences cut out of a frame, which is still told by its timecode.
TEST_F(Damage, MissingSequences) {
  struct row { const source& s; int frame; std::vector<int> cut; bool judged; };  // cut: ascending
  const row rows[] = {
      {NTSC, 5, {3, 4}, true}, {NTSC, 6, {0}, true}, {PAL, 7, {11}, true}, {PAL, 1, {5}, true},
      {PAL, 1, {0, 1}, false},     // a first frame not starting with sequence 0 may have begun before the input
      {NTSC, FRAMES, {2}, true},   // the last frame cut short: its whole last sequence counts, unexamined
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.s.name) + " frame " + std::to_string(r.frame));
    bytes dv = make(r.s);
    for (auto n = r.cut.rbegin(); n != r.cut.rend(); ++n) {
      const auto first = dv.begin() + static_cast<long>(at(r.s, r.frame, *n));
      dv.erase(first, first + SEQ);
    }
    expected e;
    if (r.judged) e.frames[r.frame][MISSING] = static_cast<int>(r.cut.size());
    check(save(std::string(r.s.name) + "_cut", dv), e);
  }
}

// Frames first .. last take the timecode packs of the frames `shift` later;
// with drop_cleared, every timecode reads as non-drop-frame. A jump is told at
// the frame where the new timecode starts.
TEST_F(Damage, TimecodeJumps) {
  struct row { const source& s; int first, last, shift; bool drop_cleared; std::vector<int> jumps; };
  const row rows[] = {
      {PAL, 6, FRAMES, -5, false, {6}},  // back
      {PAL, 9, 9, 5, false, {9, 10}},    // one frame out of place
      {NTSC, 5, 8, 4, false, {5, 9}},    // frames 9 to 12 early, then again
      // Frame 1 is 01:20:59;28: frame 3, 01:21:00;02, follows ;29 only with drop-frame counting.
      {NTSC, 1, 0, 0, true, {3}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.s.name) + " from frame " + std::to_string(r.first));
    const bytes& clean = make(r.s);
    bytes dv = clean;
    for (int f = r.first; f <= r.last; ++f) {
      const uint8_t* from = &clean[at(r.s, f + r.shift, 0) + BLOCK + 6];
      ASSERT_EQ(from[0], TIMECODE);
      for_each_pack(dv, r.s, f, f, [&](uint8_t* p) { if (p[0] == TIMECODE) std::copy(from, from + 5, p); });
    }
    if (r.drop_cleared) for_each_pack(dv, r.s, 1, FRAMES, [](uint8_t* p) { if (p[0] == TIMECODE) p[1] &= 0xBF; });
    expected e;
    for (int f : r.jumps)
      e.jumps.push_back("timecode jump " + std::to_string(f) + ": " + timecode_of(dv, r.s, f - 1) + " -> " +
                        timecode_of(dv, r.s, f));
    const std::string path = save(std::string(r.s.name) + "_tc", dv);
    check(path, e);
    const std::string log = run_tool({"--damage", path}).out;
    for (int f : r.jumps)
      expect_line(log, timecode_of(dv, r.s, f, true) + " / Sun " + MADE + " - Timecode jump: " +
                           timecode_of(dv, r.s, f - 1, true) + " -> " + timecode_of(dv, r.s, f, true));
  }
}

// The recording date and time (packs 0x62 and 0x63 in subcode and VAUX, 0x52
// and 0x53 in AAUX) of frames first .. last rewritten; a frame marked as a
// recording start has a clear top bit in PC2 of its audio source control packs.
TEST_F(Damage, RecordingTimeJumps) {
  struct rewrite { int first, last; std::string to; };  // to: YYYY-MM-DD hh:mm:ss
  struct row { const source& s; std::vector<rewrite> rewrites; std::vector<int> marked, jumps; };
  const row rows[] = {
      {NTSC, {{6, FRAMES, "2010-06-26 14:45:12"}}, {6}, {}},  // a second later
      {NTSC, {{6, FRAMES, "2010-06-26 14:45:13"}}, {}, {6}},
      {PAL, {{5, FRAMES, "2011-01-02 09:00:00"}}, {5}, {5}},
      {PAL, {{5, FRAMES, "2010-06-26 14:45:10"}}, {}, {5}},  // a second back
      {PAL, {{5, 7, "2010-06-25 14:45:11"}}, {5}, {5, 8}},   // a day back, and forward again
      {NTSC, {{1, FRAMES, "2010-12-31 23:59:59"}, {9, FRAMES, "2011-01-01 00:00:00"}}, {}, {}},
      {PAL, {{1, FRAMES, "2012-02-28 23:59:59"}, {9, FRAMES, "2012-03-01 00:00:00"}}, {}, {9}},  // over a leap day
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.s.name) + " to " + r.rewrites.back().to);
    bytes dv = make(r.s);
    std::vector<std::string> recorded(FRAMES + 1, MADE);
    for (const rewrite& w : r.rewrites) {
      int y, mo, d, h, mi, sec;
      ASSERT_EQ(std::sscanf(w.to.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec), 6);
      const pack date = rec_date_pack(0xFF, d, 0, mo, y % 100), time = rec_time_pack(h, mi, sec);
      for_each_pack(dv, r.s, w.first, w.last, [&](uint8_t* p) {
        const pack* q = p[0] == 0x62 || p[0] == 0x52 ? &date : p[0] == 0x63 || p[0] == 0x53 ? &time : nullptr;
        if (q) p[1] = q->pc1, p[2] = q->pc2, p[3] = q->pc3, p[4] = q->pc4;
      });
      std::fill(recorded.begin() + w.first, recorded.begin() + w.last + 1, w.to);
    }
    for (int f : r.marked)
      for_each_pack(dv, r.s, f, f, [](uint8_t* p) { if (p[0] == AUDIO_SOURCE_CONTROL) p[2] &= 0x7F; });
    expected e;
    std::vector<std::string> lines;
    for (int f : r.jumps) {
      const bool marked = std::find(r.marked.begin(), r.marked.end(), f) != r.marked.end();
      e.jumps.push_back("recording time jump " + std::to_string(f) + ": " + recorded[f - 1] + " -> " + recorded[f] +
                        ", marked " + (marked ? "true" : "false"));
      lines.push_back(timecode_of(dv, r.s, f, true) + " / Sun " + recorded[f] + " - Recording time jump: Sun " +
                      recorded[f - 1] + " -> Sun " + recorded[f] + ", " + (marked ? "" : "not ") +
                      "marked as a recording start");
    }
    const std::string path = save(std::string(r.s.name) + "_rec", dv);
    check(path, e);
    const std::string log = run_tool({"--damage", path}).out;
    for (const std::string& line : lines) expect_line(log, line);
  }
}

// Headless Chromium on a page, in a window as wide as the screenshots of
// samples/: the DOM it made, and what it said on its console.
struct rendered {
  std::string dom, console;
  int status;
};
rendered render(const std::string& page, const std::string& screenshot) {
  const std::string chromium =
      "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --hide-scrollbars --enable-logging=stderr --v=0 "
      "--window-size=1100,900 --user-data-dir=" +
      shell_quote(screenshot + ".profile") + " ";
  rendered r;
  const std::string log = screenshot + ".log";
  r.dom = shell_output(chromium + "--dump-dom file://" + shell_quote(page) + " 2>" + shell_quote(log), &r.status);
  for (const char* line : {":CONSOLE", "Uncaught"}) {
    const std::string found = shell_output("grep -h " + shell_quote(line) + " " + shell_quote(log) + " || true");
    r.console += found;
  }
  shell_output(chromium + "--screenshot=" + shell_quote(screenshot) + " file://" + shell_quote(page) + " 2>/dev/null");
  return r;
}

std::string report_check(const std::string& what, const std::string& file) {
  return shell_output(shell_quote(source_file("tests/tools/report-check")) + " " + what + " " + shell_quote(file));
}

// A long worn tape: two short ffmpeg clips, 4:3 and 16:9, played again and
// again with the timecode (counted without drop frames) and the recording
// time rewritten frame by frame. Four recordings, the last with no start
// mark; the timecode blank for a stretch early on, then two seconds on (the
// recording time going on: frames the capture dropped), and a reset;
// single-frame dropouts and an audio burst far apart, a head clog, junk
// between two recordings and a cut-short end. Its report holds them in its
// tables, and in headless Chromium every damaged run stands at the height of
// its worst frame (four frames share a slice), every kind of event shows and
// no label is cut.
TEST_F(Damage, ReportOfALongWornTape) {
  constexpr int CLIP = 120, TOTAL = 4200, JUNK = 5000, CUT = 5 * SEQ + 3000;  // the last frame's bytes
  const source& s = NTSC;
  const bytes* clips[] = {&make(s, CLIP), &make(s, CLIP, "-aspect 16:9")};
  struct recording { int first; bool wide, marked; int day, hour, minute; };  // Sundays of July 2005
  const recording recordings[] = {{1, false, true, 10, 12, 0}, {1201, true, true, 17, 9, 15},
                                  {2401, false, true, 24, 14, 0}, {3301, false, false, 24, 18, 30}};
  // The damaged runs: a lane, frames, the status written into sequences first
  // .. last of each (even ones only with step 2; 0: an audio error sample in
  // every audio block), and the share of the worst frame. The last frame is
  // cut short: half its sequences are missing.
  struct damaged { const char* lane; int first, last, sta, seq_first, seq_last, step; double share; };
  const damaged runs[] = {{"video", 700, 700, 7, 0, 9, 1, 1.0},   {"video", 1500, 1559, 15, 0, 8, 2, 0.5},
                          {"audio", 2000, 2009, 0, 0, 9, 1, 1.0}, {"video", 3000, 3000, 7, 0, 3, 1, 0.4},
                          {"video", 4000, 4000, 2, 0, 9, 1, 1.0}, {"video", 4201, 4201, 0, 1, 0, 1, 0.5}};
  bytes tape;
  tape.reserve(static_cast<size_t>(TOTAL + 1) * 10 * SEQ + JUNK);
  for (int f = 1; f <= TOTAL + 1; ++f) {
    const recording& r = *std::find_if(std::rbegin(recordings), std::rend(recordings),
                                       [&](const recording& x) { return x.first <= f; });
    const bytes& clip = *clips[r.wide];
    bytes frame(clip.begin() + static_cast<long>(at(s, (f - 1) % CLIP + 1, 0)),
                clip.begin() + static_cast<long>(at(s, (f - 1) % CLIP + 2, 0)));
    // The timecode steps two seconds on at frame 400, and the recording time
    // with it: the capture lost those frames.
    const auto timecode_at = [](int g) { return g < 400 ? g - 1 : g < 2401 ? g + 59 : g - 2401; };
    const int tc = timecode_at(f), since = (tc - timecode_at(r.first)) / 30;
    const pack timecode = timecode_pack(tc / 108000, tc / 1800 % 60, tc / 30 % 60, tc % 30),
               date = rec_date_pack(0xFF, r.day, 0, 7, 5),
               time = rec_time_pack(r.hour, r.minute + since / 60, since % 60);
    for_each_pack(frame, s, 1, 1, [&](uint8_t* p) {
      const pack* q = p[0] == TIMECODE ? &timecode : p[0] == 0x62 || p[0] == 0x52 ? &date
                      : p[0] == 0x63 || p[0] == 0x53 ? &time : nullptr;
      if (q) p[1] = q->pc1, p[2] = q->pc2, p[3] = q->pc3, p[4] = q->pc4;
      if (p[0] == TIMECODE && f >= 60 && f < 90) std::fill(p + 1, p + 5, 0xFF);
      if (p[0] == AUDIO_SOURCE_CONTROL && f == r.first && r.marked) p[2] &= 0x7F;
    });
    for (const damaged& d : runs)
      for (int n = d.seq_first; f >= d.first && f <= d.last && n <= d.seq_last; n += d.step)
        for (int k = 0; k < 135; ++k) {  // STA 15 in even frames, 2 in odd ones, as a clogged head leaves
          uint8_t* sta = &frame[at(s, 1, n) + sta_byte(k)];
          if (d.sta == 0 && k < 9) std::copy_n("\x80\x00", 2, &frame[at(s, 1, n) + audio_block(k) + AUDIO_DATA]);
          if (d.sta > 0) *sta = static_cast<uint8_t>((d.sta == 15 && f % 2 ? 2 : d.sta) << 4);
        }
    if (f == 2401)  // junk between two recordings
      for (int i = 0; i < JUNK; ++i) tape.push_back(static_cast<uint8_t>(i * 7919 >> 3));
    tape.insert(tape.end(), frame.begin(), frame.begin() + (f <= TOTAL ? static_cast<long>(frame.size()) : CUT));
  }
  const std::string path = save("long", tape), page = dir().file("long.html");
  tape = bytes{};
  EXPECT_EQ(run_tool({"--report", page, path}).status, 0);
  if (const char* keep = std::getenv("DVLOG_LONG_TAPE_REPORT"))  // an absolute path: samples/make-report.sh
    shell_output("cd " + shell_quote(dir().path()) + " && " + shell_quote(DVLOG_BINARY) + " --report " +
                 shell_quote(keep) + " long.dv >/dev/null");

  const std::string tables = report_check("tables", page);
  for (const char* row : {
           R"r(["1", "0:00:00.00", "00h 00m 00s 00f", "Sun 2005-07-10 12:00:00", "1", "1200", "0:00:40.04", "yes"])r",
           R"r(["4", "0:01:50.11", "00h 00m 30s 00f", "Sun 2005-07-24 18:30:00", "3301", "901", "0:00:30.06", "no"])r",
           R"r(["0:00:13.31", "00h 00m 15s 09f", "400", "timecode", "00h 00m 13s 08f", "00h 00m 15s 09f"])r",
           R"r(["0:01:20.08", "00h 00m 00s 00f", "2401", "timecode", "00h 01m 21s 29f", "00h 00m 00s 00f"])r",
           R"r(["0:01:50.11", "00h 00m 30s 00f", "3301", "recording time, not marked", "Sun 2005-07-24 14:00:29", )r"
           R"r("Sun 2005-07-24 18:30:00"])r",
           R"r(["0:00:50.02", "00h 00m 51s 29f", "00h 00m 53s 28f", "1500", "60", "20250", "20250", "0", )r"
           R"r("40500 / 0 (one head)", "0", "0", "0"])r",
           R"r(["0:01:20.05", "00h 01m 21s 29f", "2400", "288000000", "5000", "between DIF sequences"])r",
           R"r(["0:02:20.14", "00h 01m 00s 00f", "4201", "504065000", "3000", "at the end of the input"])r",
       })
    EXPECT_NE(tables.find(row), std::string::npos) << row << "\nnot in\n" << tables;
  // The log and the JSON tell the jump after the blank stretch and the skipped bytes as the report does.
  const std::string log = run_tool({"--damage", path}).out;
  for (const char* line : {"Timecode jump: 00h 00m 13s 08f -> 00h 00m 15s 09f\n",
                           "Skipped 5000 bytes at offset 288000000\n",
                           "Skipped 3000 bytes at offset 504065000, at the end of the input\n", "Bytes skipped: 8000\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_EQ(shell_output(shell_quote(DVLOG_BINARY) + " --json --damage " + shell_quote(path) +
                         " | jq -c 'select(.event | test(\"timecode_jump|skipped\")) | [.frame, .to, .bytes]'"),
            "[400,\"00:00:15:09\",null]\n[2400,null,5000]\n[2401,\"00:00:00:00\",null]\n[4201,null,3000]\n");
  const bytes html = read_file(page);
  for (const char* shown : {"4:3 (recordings 1, 3, 4), 16:9 (recording 2)", "; bytes skipped 8000; timecode jumps 2;"})
    EXPECT_NE(std::string(html.begin(), html.end()).find(shown), std::string::npos) << shown;

  int status = -1;
  shell_output("command -v chromium", &status);
  if (status != 0) GTEST_SKIP() << "chromium not found: the report is not opened in a browser";
  const std::string measuring = dir().file("long-measuring.html"), screenshot = dir().file("long.png");
  shell_output(shell_quote(source_file("tests/tools/report-check")) + " instrument " + shell_quote(page) + " " +
               shell_quote(measuring));
  const rendered r = render(measuring, screenshot);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, "") << "the page wrote to the console";
  const std::string dom = dir().write("long-dom.html", bytes(r.dom.begin(), r.dom.end()));
  EXPECT_EQ(report_check("svg", dom),
            "{\"lanes\": [\"lane-recordings\", \"lane-video\", \"lane-audio\", \"lane-offset\", \"lane-events\"], "
            "\"markers\": {\"timecode-jump\": 2, \"unmarked-jump\": 1, \"recording-start\": 3, \"timecode-broken\": 1, "
            "\"status-change\": 3, \"skipped-bytes\": 2, \"dropped\": 1}}\n");
  // Lines "video|audio FIRST LAST HEIGHT" for each slice drawn, and
  // "text inside|cut TEXT" for each label.
  std::map<const damaged*, int> slices;
  std::istringstream measured(report_check("measured", dom));
  for (std::string line; std::getline(measured, line);) {
    EXPECT_FALSE(line.starts_with("text cut")) << line;
    char lane[8];
    int first, last;
    double height;
    if (std::sscanf(line.c_str(), "%7s %d %d %lf", lane, &first, &last, &height) != 4) continue;
    const damaged* d = std::find_if(std::begin(runs), std::end(runs), [&](const damaged& x) {
      return lane == std::string(x.lane) && first <= x.last && x.first <= last;
    });
    ASSERT_NE(d, std::end(runs)) << "a slice with no damage written: " << line;
    EXPECT_NEAR(height, d->share * (d->lane == std::string("video") ? 60 : 30), 0.05) << line;
    ++slices[d];
  }
  EXPECT_EQ(slices.size(), std::size(runs)) << "a damaged run not drawn";
  EXPECT_GT(std::atoi(report_check("png", screenshot).c_str()), 20) << "a blank screenshot";
}

// What a capture did, as its report tells it: an ffmpeg clip with a frame left
// out (dropped) and one given twice (repeated), stretches whose AAUX source
// control pack says fast forward and reverse, a second recording whose first
// frame repeats the timecode before it, and a dropout of 10 of the 1,350
// video blocks of one frame, which in Chromium stands a few pixels high. The
// report of its split lists the parts by their file names.
TEST_F(Damage, ReportOfACapture) {
  const source& s = NTSC;
  const bytes& clip = make(s, 70);
  bytes dv;  // the clip's frames 1-19, 21-30, 30 again, 31-70
  for (int c = 1; c <= 70; ++c)
    for (int twice = 0; c != 20 && twice <= (c == 30); ++twice)
      dv.insert(dv.end(), clip.begin() + static_cast<long>(at(s, c, 0)),
                clip.begin() + static_cast<long>(at(s, c + 1, 0)));
  for (int f = 60; f <= 70; ++f)  // a recording from frame 60, its timecodes one frame back
    for_each_pack(dv, s, f, f, [&](uint8_t* p) {
      if (p[0] == TIMECODE) std::copy_n(&clip[at(s, f - 1, 0) + BLOCK + 7], 4, p + 1);
      if (p[0] == AUDIO_SOURCE_CONTROL && f == 60) p[2] &= 0x7F;  // REC ST
    });
  for (const auto& [first, last, pc3] : {std::tuple{40, 44, 0x80 | 0x50}, {50, 52, 0x78}})  // direction bit, speed
    for_each_pack(dv, s, first, last, [&](uint8_t* p) { if (p[0] == AUDIO_SOURCE_CONTROL) p[3] = pc3; });
  for (int k = 0; k < 10; ++k) dv[at(s, 10, 3) + sta_byte(k)] = 7 << 4;  // in error
  const std::string path = save("capture", dv), page = dir().file("capture.html"), parts = dir().file("parts");
  EXPECT_EQ(run_tool({"--split", parts, "--report", page, path}).status, 0);

  const std::string check = shell_quote(source_file("tests/tools/report-check"));
  EXPECT_EQ(shell_output(check + " tables " + shell_quote(page) +
                         " | jq -c '[.capture[] | .[2:5]], [.recordings[] | .[4,7]], [.parts[][6]]'"),
            "[[\"20\",\"1\",\"dropped\"],[\"30\",\"1\",\"repeated\"],[\"40\",\"5\",\"not at playback speed\"],"
            "[\"50\",\"3\",\"not at playback speed\"]]\n[\"1\",\"no\",\"60\",\"yes\"]\n" +
                shell_output("cd " + shell_quote(parts) + " && ls | jq -Rnc '[inputs]'"));
  const bytes html = read_file(page);
  for (const char* shown : {"<dd id=\"frames\">70; the log counted 68</dd>", "speed 0x50, forward",
                            "speed 0x78, reverse",
                            "<dd id=\"qc\">frames dropped 1; frames repeated 1; frames not at playback speed 8; retakes 0; DIF "
                            "sequences repeated 0</dd>"})
    EXPECT_NE(std::string(html.begin(), html.end()).find(shown), std::string::npos) << shown;

  int status = -1;
  shell_output("command -v chromium", &status);
  if (status != 0) GTEST_SKIP() << "chromium not found: the report is not opened in a browser";
  const std::string measuring = dir().file("capture-measuring.html"), screenshot = dir().file("capture.png");
  shell_output(check + " instrument " + shell_quote(page) + " " + shell_quote(measuring));
  const rendered r = render(measuring, screenshot);
  const std::string dom = dir().write("capture-dom.html", bytes(r.dom.begin(), r.dom.end()));
  const std::string marks = " | jq -c '.markers | [.dropped, .repeated, .\"off-speed\"]'";
  EXPECT_EQ(shell_output(check + " svg " + shell_quote(dom) + marks), "[1,1,2]\n");
  double units = 0, pixels = 0;  // the dropout's height, in the drawing and on the screen
  const std::string measured = report_check("measured", dom);
  EXPECT_EQ(std::sscanf(measured.c_str(), "video 10 10 %lf %lf", &units, &pixels), 2) << measured;
  EXPECT_EQ(units, 6);
  EXPECT_GE(pixels, 5);
  EXPECT_GT(std::atoi(report_check("png", screenshot).c_str()), 20) << "a blank screenshot";
}

// The sample's report kept in samples/ is the one dvlog makes of it now, but
// for the time it was made (samples/make-report.sh remakes it).
TEST(SampleReport, IsCurrent) {
  temp_dir dir;
  const std::string made_now = dir.file("report.html");
  int status = -1;
  shell_output("cd " + shell_quote(source_file("")) + " && " + shell_quote(DVLOG_BINARY) + " --report " +
                   shell_quote(made_now) + " samples/sample.dv",
               &status);
  ASSERT_EQ(status, 0);
  const std::string without_time = " | grep -v '<dt>Report made</dt>'";
  EXPECT_EQ(shell_output("cat " + shell_quote(made_now) + without_time),
            shell_output("cat " + shell_quote(source_file("samples/sample-report.html")) + without_time));
}

}  // namespace
}  // namespace dvtest
