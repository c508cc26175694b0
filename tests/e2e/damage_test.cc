// dvlog --damage on DV streams made by ffmpeg at test time, into which the
// tests write what a worn tape or a clogged head leaves: video blocks with an
// error status, audio error codes, lost sequences, timecode and recording-time
// jumps. Every expected count is that of what the test wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <set>

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

  // The stream of s, made once per run: FRAMES frames of 16-bit stereo.
  static const bytes& make(const source& s) {
    bytes& dv = made[s.name];
    if (!dv.empty()) return dv;
    char duration[32];  // frames are set by duration: with -frames:v the muxer drops some for want of audio
    std::snprintf(duration, sizeof duration, "%.6f", FRAMES * (s.pal ? 0.04 : 1001.0 / 30000));
    const std::string path = dir().file(std::string(s.name) + ".dv"), rate = std::to_string(s.rate);
    const std::string command = std::string("TZ=UTC ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=") +
                                (s.pal ? "720x576:rate=25" : "720x480:rate=30000/1001") +
                                " -f lavfi -i sine=sample_rate=" + rate + " -t " + duration +
                                " -c:v dvvideo -pix_fmt " + (s.pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2" +
                                " -timecode " + shell_quote(s.timecode) + " -metadata creation_time=" +
                                MADE.substr(0, 10) + "T" + MADE.substr(11) + " -f dv " + shell_quote(path);
    int status = -1;
    shell_output(command, &status);
    EXPECT_EQ(status, 0) << command;
    dv = read_file(path);
    EXPECT_EQ(dv.size(), FRAMES * per_frame(s) * SEQ) << command;
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

// Headless Chromium on a page: the DOM it made, and what it said on its console.
struct rendered {
  std::string dom, console;
  int status;
};
rendered render(const std::string& page, const std::string& screenshot) {
  const std::string chromium =
      "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --hide-scrollbars --enable-logging=stderr --v=0 --user-data-dir=" +
      shell_quote(screenshot + ".profile") + " ";
  rendered r;
  const std::string log = screenshot + ".log";
  r.dom = shell_output(chromium + "--dump-dom file://" + shell_quote(page) + " 2>" + shell_quote(log), &r.status);
  for (const char* line : {":CONSOLE", "Uncaught"}) {
    const std::string found = shell_output("grep -h " + shell_quote(line) + " " + shell_quote(log) + " || true");
    r.console += found;
  }
  shell_output(chromium + "--window-size=1100,900 --screenshot=" + shell_quote(screenshot) + " file://" +
               shell_quote(page) + " 2>/dev/null");
  return r;
}

std::string report_check(const std::string& what, const std::string& file) {
  return shell_output(shell_quote(source_file("tests/tools/report-check")) + " " + what + " " + shell_quote(file));
}

// The HTML report of a worn tape: a recording start, a recording time that
// jumps without a mark, a timecode jump, concealed and erroneous video blocks
// and audio error samples, written into an ffmpeg stream. Its tables hold
// what was written, and a real browser draws its timeline.
TEST_F(Damage, ReportOfAWornTape) {
  const source& s = NTSC;
  const bytes& clean = make(s);
  bytes dv = clean;
  auto set_time = [&](int first, const char* day, int h) {
    const pack date = rec_date_pack(0xFF, std::atoi(day + 8), 0, 6, 10), time = rec_time_pack(h, 0, 0);
    for_each_pack(dv, s, first, FRAMES, [&](uint8_t* p) {
      const pack* q = p[0] == 0x62 || p[0] == 0x52 ? &date : p[0] == 0x63 || p[0] == 0x53 ? &time : nullptr;
      if (q) p[1] = q->pc1, p[2] = q->pc2, p[3] = q->pc3, p[4] = q->pc4;
    });
  };
  set_time(6, "2010-06-27", 10);
  for_each_pack(dv, s, 6, 6, [](uint8_t* p) { if (p[0] == AUDIO_SOURCE_CONTROL) p[2] &= 0x7F; });
  set_time(12, "2010-06-28", 8);  // no mark: an edit
  for (int f = 10; f <= FRAMES; ++f) {  // back three frames
    const uint8_t* from = &clean[at(s, f - 3, 0) + BLOCK + 6];
    for_each_pack(dv, s, f, f, [&](uint8_t* p) { if (p[0] == TIMECODE) std::copy(from, from + 5, p); });
  }
  for (int f : {3, 4})
    for (int k = 0; k < 20; ++k) dv[at(s, f, 1) + sta_byte(k)] = 0x20;  // concealed, in odd sequence 1
  for (int k = 0; k < 5; ++k) dv[at(s, 9, 2) + sta_byte(k)] = 0x70;    // in error, in even sequence 2
  for (int i : {0, 1}) {
    dv[at(s, 14, 3) + audio_block(4) + AUDIO_DATA + 2 * i] = 0x80;
    dv[at(s, 14, 3) + audio_block(4) + AUDIO_DATA + 2 * i + 1] = 0;
  }
  const std::string path = save("worn", dv), page = dir().file("worn.html");
  const tool_run run = run_tool({"--report", page, path});
  EXPECT_EQ(run.out, run_tool({path}).out);  // the log is the plain one
  EXPECT_EQ(run.status, 0);

  auto tc = [&](int f) { return timecode_of(dv, s, f, true); };
  auto length = [](int frames) {
    char text[32];
    std::snprintf(text, sizeof text, "0:00:%05.2f", frames * 1001.0 / 30000);
    return std::string(text);
  };
  const std::string first = "Sun " + MADE, second = "Sun 2010-06-27 10:00:00", third = "Sun 2010-06-28 08:00:00";
  using rows = std::vector<std::vector<std::string>>;
  const std::map<std::string, rows> expected{
      {"recordings",
       {{tc(1), first, "1", "5", length(5), "no"},
        {tc(6), second, "6", "6", length(6), "yes"},
        {tc(12), third, "12", "5", length(5), "no"}}},
      {"damage",
       {{tc(3), tc(4), "3", "2", "40", "0", "0", "0 / 40", "0", "0", "0"},
        {tc(9), tc(9), "9", "1", "0", "5", "0", "5 / 0", "0", "0", "0"},
        {tc(14), tc(14), "14", "1", "0", "0", "0", "0 / 0", "2", "1", "0"}}},
      {"jumps",
       {{tc(6), "6", "recording time, new recording", first, second},
        {tc(10), "10", "timecode", tc(9), tc(10)},
        {tc(12), "12", "recording time, not marked", second, third}}},
  };
  const std::string tables = report_check("tables", page);
  for (const auto& [table, want] : expected) {
    std::string json = "[";
    for (const auto& row : want) {
      json += json.size() > 1 ? ", [" : "[";
      for (size_t i = 0; i < row.size(); ++i) json += (i ? ", \"" : "\"") + row[i] + "\"";
      json += "]";
    }
    EXPECT_NE(tables.find("\"" + table + "\": " + json + "]"), std::string::npos) << table << "\n" << tables;
  }
  EXPECT_NE(tables.find("\"status\": [[\"" + tc(3) + "\""), std::string::npos) << tables;

  int status = -1;
  shell_output("command -v chromium", &status);
  if (status != 0) GTEST_SKIP() << "chromium not found: the report is not opened in a browser";
  const std::string screenshot = dir().file("worn.png");
  const rendered r = render(page, screenshot);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, "") << "the page wrote to the console";
  EXPECT_EQ(report_check("svg", dir().write("worn-dom.html", bytes(r.dom.begin(), r.dom.end()))),
            "{\"lanes\": [\"lane-recordings\", \"lane-video\", \"lane-audio\", \"lane-offset\", \"lane-events\"], "
            "\"markers\": {\"status-change\": 1, \"recording-jump\": 1, \"timecode-jump\": 1, \"unmarked-jump\": 1}}\n");
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
