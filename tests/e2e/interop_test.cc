// dvlog on DV streams made by ffmpeg at test time, as they come and patched
// byte-wise into what a camcorder would record. Every expected figure is
// derived here from what was given to ffmpeg, from ffprobe, from the file size
// or from the stream bytes, never from dvlog's own output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

// Where things sit in a DIF sequence: three VAUX blocks of fifteen 5-byte
// packs from block 3, and nine audio blocks, every 16th block from block 6,
// each with one AAUX pack right after its three ID bytes.
constexpr size_t BLOCK = 80;
constexpr size_t VAUX_PACKS = 3 * 15;
constexpr size_t vaux_pack(size_t k) { return (3 + k / 15) * BLOCK + 3 + 5 * (k % 15); }
constexpr size_t audio_pack(int j) { return (6 + 16 * static_cast<size_t>(j)) * BLOCK + 3; }
constexpr uint8_t AUDIO_SOURCE = 0x50, AUDIO_SOURCE_CONTROL = 0x51, NO_PACK = 0xFF;

struct stream_spec {
  const char* name;
  bool pal;
  int frames;
  std::string timecode;  // given to ffmpeg; empty: none, and ffmpeg writes 00:00:00:00
  bool dated;            // creation_time given to ffmpeg
};

// Names the case in test listings.
void PrintTo(const stream_spec& s, std::ostream* os) { *os << s.name; }

size_t sequences_per_frame(bool pal) { return pal ? 12 : 10; }

// --- Figures derived from what ffmpeg was given ---------------------------

// The timecode `frames` frames after the given one. NTSC counts 30 frame
// numbers a second; with drop-frame timecode (";" before the frames) the
// numbers 00 and 01 are skipped at the start of every minute that is not a
// multiple of ten, which keeps the timecode in step with 29.97 frames a second.
std::string timecode_after(const stream_spec& s, int frames) {
  int h = 0, m = 0, sec = 0, f = 0;
  char separator = ':';
  if (!s.timecode.empty()) std::sscanf(s.timecode.c_str(), "%d:%d:%d%c%d", &h, &m, &sec, &separator, &f);
  const bool drop = separator == ';';
  const int fps = s.pal ? 25 : 30;
  for (int i = 0; i < frames; ++i) {
    if (++f < fps) continue;
    f = 0;
    if (++sec < 60) continue;
    sec = 0;
    if (++m == 60) m = 0, ++h;
    if (drop && m % 10 != 0) f = 2;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02dh %02dm %02ds %02df", h, m, sec, f);
  return text;
}

// ffmpeg records creation_time, or the Unix epoch without it, with no time
// zone and no frame number; it leaves the weekday field 0, Sunday in DV. The
// two-digit years 10 and 70 read as 2010 and 1970 until 2070.
std::string recorded_at(const stream_spec& s) {
  return s.dated ? "Sun 2010-06-26 14:45:11" : "Sun 1970-01-01 00:00:00";
}

// --- Audio accounting, from the stream bytes ------------------------------

constexpr int RATE[] = {48000, 44100, 32000};
constexpr const char* RATE_NAME[] = {"48kHz", "44.1kHz", "32kHz"};
// Fewest samples a frame may carry; the audio source pack gives the excess.
constexpr int MIN_SAMPLES[2][3] = {{1580, 1452, 1053}, {1896, 1742, 1264}};
// A frame lasts 1001/30000 s in NTSC and 1/25 s in PAL.
constexpr int64_t FRAME_NUM[] = {1001, 1}, FRAME_DEN[] = {30000, 25};

struct audio_track {
  int rate_code = -1;      // -1: no audio source pack in audio block 0
  std::vector<int> codes;  // frame-size code of frames 1, 2, ...
};

// Each frame is accounted once, from the first of its sequences whose audio
// block 0 holds the audio source pack.
audio_track read_audio(const bytes& dv, bool pal) {
  audio_track a;
  const size_t frame_size = sequences_per_frame(pal) * SEQ;
  for (size_t frame = 0; frame + frame_size <= dv.size(); frame += frame_size)
    for (size_t seq = frame; seq < frame + frame_size; seq += SEQ) {
      const uint8_t* pack = &dv[seq + audio_pack(0)];
      if (pack[0] != AUDIO_SOURCE) continue;
      a.rate_code = pack[4] >> 3 & 3;
      a.codes.push_back(pack[1] & 0x3F);
      break;
    }
  return a;
}

// offset[f]: samples carried by frames 1 to f less the whole samples that f
// frames at the nominal frame rate call for.
std::vector<int> audio_offsets(const audio_track& a, bool pal) {
  std::vector<int> offset{0};
  int64_t carried = 0;
  for (size_t f = 1; f <= a.codes.size(); ++f) {
    carried += a.codes[f - 1] + MIN_SAMPLES[pal][a.rate_code];
    const int64_t due = static_cast<int64_t>(f) * RATE[a.rate_code] * FRAME_NUM[pal] / FRAME_DEN[pal];
    offset.push_back(static_cast<int>(carried - due));
  }
  return offset;
}

int ms(int samples, int rate) { return (samples * 10000 / rate + 5) / 10; }

// --- The whole expected log ------------------------------------------------

// A status line: shown at `frame`, printed once `accounted` frames had their
// audio accounted. Without camera packs the camera fields are unknown.
struct status_at {
  int frame;
  int accounted;
  std::string camera = "AP=?? , GAIN=??, SHUTTER=??????";
  std::string tail = "";  // clauses after the audio one
};

// ffmpeg writes no camera packs, so not all eight kinds of pack the log waits
// for are ever seen, and the first status line waits for the warm-up to end
// at the third frame (in PAL that is also the 25th sequence). Nothing changes
// after it, so it is the only one; at its sequence, the first of frame 3, only
// frames 1 and 2 are accounted: the audio source pack sits in audio block 0
// of the odd sequences of a frame only (in the even ones it is in block 3).
std::vector<status_at> plain_lines(int frames) {
  if (frames < 3) return {};
  return {{3, 2}};
}

// The scan tests a position only once more than one sequence's worth of bytes
// lies beyond it. When a file ends exactly where a sequence ends, and that
// sequence directly follows the one before it, it is never examined: k such
// sequences give k - 1 analysed. No frame is lost: the frame's earlier
// sequences have counted it already.
int back_to_back(const bytes& dv) { return static_cast<int>(dv.size() / SEQ) - 1; }

std::string expected_log(const stream_spec& s, const audio_track& a, int frames, int analysed,
                         const std::vector<status_at>& lines, const std::vector<int>& starts = {}) {
  const std::vector<int> offset = a.rate_code >= 0 ? audio_offsets(a, s.pal) : std::vector<int>{};
  std::string log;
  for (int f = 1; f <= frames; ++f) {
    // In one sequence the recording start is looked for before the status line.
    if (std::find(starts.begin(), starts.end(), f) != starts.end())
      log += timecode_after(s, f - 1) + " / " + recorded_at(s) + " - New recording\n";
    for (const status_at& l : lines) {
      if (l.frame != f) continue;
      log += timecode_after(s, f - 1) + " / " + recorded_at(s) + " - " + l.camera + ", 4:3, " +
             (s.pal ? "PAL" : "NTSC") + ", DV25, Interlaced";
      // ffmpeg sets the LF bit of its audio source pack: unlocked audio in DV.
      if (a.rate_code >= 0)
        log += std::string(", AUDIO=") + RATE_NAME[a.rate_code] +
               " 16 bits, Unlocked, offset=" + std::to_string(offset[l.accounted]);
      log += l.tail + "\n";
    }
  }
  log += "============\nTotal frames: " + std::to_string(frames) +
         "\nDIF Blocks analysed: " + std::to_string(analysed) + "\n";
  if (a.rate_code < 0 || lines.empty()) return log;  // no line ever showed audio figures

  // Each status line makes the frame-size code of its moment the reference for
  // the frames accounted after it, up to the next line.
  bool size_changed = false;
  for (size_t k = 0; k < lines.size(); ++k) {
    const int from = lines[k].accounted;
    const int to = k + 1 < lines.size() ? lines[k + 1].accounted : static_cast<int>(a.codes.size());
    for (int f = from + 1; f <= to; ++f) size_changed |= a.codes[f - 1] != a.codes[from - 1];
  }
  int worst = 0;
  for (int o : offset) worst = std::max(worst, std::abs(o));
  if (!size_changed && worst == 0) return log + "Audio is locked\n";
  const int rate = RATE[a.rate_code], final_offset = offset.back();
  char verdict[128];
  std::snprintf(verdict, sizeof verdict, "Audio offset: final=%d (%d ms), max=%d (%d ms)\n", final_offset,
                ms(final_offset, rate), worst, ms(worst, rate));
  return log + verdict;
}

// --- Byte-wise patches, on streams that start with a frame -----------------

template <typename F>
void for_each_sequence(bytes& dv, bool pal, F&& visit) {  // visit(sequence bytes, frame index from 0)
  for (size_t seq = 0; seq + SEQ <= dv.size(); seq += SEQ)
    visit(&dv[seq], static_cast<int>(seq / SEQ / sequences_per_frame(pal)));
}

template <typename F>
void for_each_audio_pack(uint8_t* seq, uint8_t id, F&& visit) {
  for (int j = 0; j < 9; ++j)
    if (seq[audio_pack(j)] == id) visit(&seq[audio_pack(j)]);
}

// Rewrites every audio source pack to rate_code, with frame-size codes such
// that frame f ends with the nominal count of samples, rounded down or to the
// nearest one, plus `drift` samples in every frame: the offset after frame f
// is drift * f, plus 0 (rounded down) or 0 or 1 (to the nearest).
void set_audio_rate(bytes& dv, bool pal, int rate_code, int drift, bool to_nearest) {
  for_each_sequence(dv, pal, [&](uint8_t* seq, int frame) {
    const int64_t scale = int64_t{RATE[rate_code]} * FRAME_NUM[pal], den = FRAME_DEN[pal];
    auto rounded = [&](int64_t f) { return (2 * f * scale + (to_nearest ? den : 0)) / (2 * den); };
    const int code = static_cast<int>(rounded(frame + 1) - rounded(frame)) - MIN_SAMPLES[pal][rate_code] + drift;
    for_each_audio_pack(seq, AUDIO_SOURCE, [&](uint8_t* p) {
      p[1] = static_cast<uint8_t>((p[1] & 0xC0) | code);
      p[4] = static_cast<uint8_t>((p[4] & ~0x38) | rate_code << 3);
    });
  });
}

// Moves the audio source pack out of audio block 0 into the free block 5.
void move_audio_source(bytes& dv, bool pal) {
  for_each_sequence(dv, pal, [&](uint8_t* seq, int) {
    uint8_t* from = &seq[audio_pack(0)];
    uint8_t* to = &seq[audio_pack(5)];
    if (from[0] != AUDIO_SOURCE) return;
    EXPECT_EQ(to[0], NO_PACK);
    std::copy(from, from + 5, to);
    std::fill(from, from + 5, NO_PACK);
  });
}

// A clear top bit of PC2 in the audio source control pack marks the frame
// where a recording starts.
void mark_recording_start(bytes& dv, bool pal, int frame) {
  for_each_sequence(dv, pal, [&](uint8_t* seq, int f) {
    if (f + 1 == frame) for_each_audio_pack(seq, AUDIO_SOURCE_CONTROL, [](uint8_t* p) { p[2] &= 0x7F; });
  });
}

// Puts camera packs into the first free VAUX slots of every sequence.
template <typename F>
void add_camera_packs(bytes& dv, bool pal, F&& packs_of_frame) {  // packs_of_frame(frame from 1) -> vector<pack>
  for_each_sequence(dv, pal, [&](uint8_t* seq, int frame) {
    size_t k = 0;
    for (const pack& p : packs_of_frame(frame + 1)) {
      while (k < VAUX_PACKS && seq[vaux_pack(k)] != NO_PACK) ++k;
      ASSERT_LT(k, VAUX_PACKS) << "no free VAUX slot";
      put_vaux_pack(seq, static_cast<int>(k / 15), static_cast<int>(k % 15), p);
    }
  });
}

// --- Streams from ffmpeg ---------------------------------------------------

// dvlog on a file. Its JSON log must be valid and hold everything the text log
// does: tests/tools/json-to-log rebuilds the text log from it alone.
tool_run run_logged(const std::string& path) {
  const tool_run r = run_tool({path});
  const json_check json = check_json_log(path);
  EXPECT_EQ(json.rebuilt_log, r.out) << "the JSON log of " << path;
  EXPECT_EQ(json.schema_status, 0) << json.schema_report;
  return r;
}

class Interop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir = new temp_dir; }
  static void TearDownTestSuite() {
    cache.clear();
    delete dir;
    dir = nullptr;
  }
  void SetUp() override {
    static const bool present = [] {
      int status = -1;
      shell_output("command -v ffmpeg && command -v ffprobe", &status);
      return status == 0;
    }();
    if (!present) GTEST_SKIP() << "ffmpeg or ffprobe not found: the DV interoperability tests need them";
  }

  // The stream described by s, made by ffmpeg once per run of the suite: its path
  // and its bytes.
  static const std::pair<std::string, bytes>& make(const stream_spec& s) {
    auto& made = cache[s.name];
    if (!made.first.empty()) return made;
    auto& [path, data] = made;
    path = dir->file(std::string(s.name) + ".dv");
    // Frame counts are set by duration: with -frames:v the audio ends early
    // and the muxer drops the last frames for want of samples. creation_time
    // without a zone is local time: TZ=UTC keeps it as given.
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.6f", s.frames * (s.pal ? 0.04 : 1001.0 / 30000));
    const std::string command =
        std::string("TZ=UTC ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=") +
        (s.pal ? "720x576:rate=25" : "720x480:rate=30000/1001") + " -f lavfi -i sine=sample_rate=48000 -t " + duration +
        " -c:v dvvideo -pix_fmt " + (s.pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2" +
        (s.timecode.empty() ? "" : " -timecode " + shell_quote(s.timecode)) +
        (s.dated ? " -metadata creation_time=2010-06-26T14:45:11" : "") + " -f dv " + shell_quote(path);
    int status = -1;
    shell_output(command, &status);
    EXPECT_EQ(status, 0) << command;
    data = read_file(path);
    return made;
  }

  // Writes a patched stream next to the others.
  static std::string save(const std::string& name, const bytes& data) { return dir->write(name + ".dv", data); }

  static temp_dir* dir;
  static std::map<std::string, std::pair<std::string, bytes>> cache;
};
temp_dir* Interop::dir;
std::map<std::string, std::pair<std::string, bytes>> Interop::cache;

const stream_spec NTSC_BASE{"ntsc12", false, 12, "01:20:10;05", true};
const stream_spec PAL_BASE{"pal10", true, 10, "10:59:59:23", true};

// --- Streams as ffmpeg makes them ------------------------------------------

class CleanStream : public Interop, public ::testing::WithParamInterface<stream_spec> {};

TEST_P(CleanStream, LogMatchesWhatFfmpegWasGiven) {
  const stream_spec& s = GetParam();
  const auto& [path, dv] = make(s);
  const int frames = ffprobe_frames(path);
  ASSERT_EQ(frames, s.frames) << "ffmpeg did not make the frames asked for";
  ASSERT_EQ(dv.size(), frames * sequences_per_frame(s.pal) * SEQ);
  const audio_track a = read_audio(dv, s.pal);
  ASSERT_EQ(a.codes.size(), static_cast<size_t>(frames));
  const tool_run r = run_logged(path);
  EXPECT_EQ(r.out, expected_log(s, a, frames, back_to_back(dv), plain_lines(frames)));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, CleanStream,
    ::testing::Values(stream_spec{"ntsc1", false, 1, "01:20:10;05", true},         // no status line yet
                      stream_spec{"ntsc3_untimed", false, 3, "", false},           // 00:00:00:00, the epoch
                      stream_spec{"ntsc12_drop", false, 12, "01:20:59;28", true},  // 00 and 01 skipped
                      stream_spec{"ntsc150", false, 150, "01:20:10;05", true},
                      stream_spec{"pal2", true, 2, "10:59:59:23", true},  // 23 sequences: still warming up
                      stream_spec{"pal3", true, 3, "10:59:59:23", true},  // into the next hour
                      stream_spec{"pal100_untimed", true, 100, "", false}),
    [](const ::testing::TestParamInfo<stream_spec>& info) { return std::string(info.param.name); });

// --- The same frames, out of step --------------------------------------------

bytes junk(size_t n) {
  bytes b(n);
  uint32_t state = 12345;
  for (uint8_t& x : b) x = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 16);
  return b;
}

// Junk and a truncated sequence move the sequences off the file's grid; the
// search finds them again and analyses the same frames. ffprobe loses count on
// such files, so the frames are those it counted in the clean stream.
TEST_F(Interop, JunkAndCutSequences) {
  for (const stream_spec& s : {NTSC_BASE, PAL_BASE}) {
    const auto& [path, dv] = make(s);
    const int frames = ffprobe_frames(path);
    ASSERT_EQ(frames, s.frames);
    const int k = static_cast<int>(dv.size() / SEQ);
    auto at = [&](int seq) { return dv.begin() + static_cast<long>(seq) * static_cast<long>(SEQ); };
    auto cat = [](std::initializer_list<bytes> parts) {
      bytes out;
      for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
      return out;
    };
    struct row {
      const char* name;
      bytes data;
      int analysed;
    };
    const row rows[] = {
        // The first sequence is found by the search, the rest follow it back to back.
        {"junk_before", cat({junk(7), dv}), k - 1},
        // A sequence reached by stepping over junk is examined even when the
        // file ends with it; junk after the last one lets it be examined too.
        {"junk_between_after",
         cat({bytes(at(0), at(13)), junk(333), bytes(at(13), at(27)), junk(80), bytes(at(27), dv.end()), junk(5)}), k},
        {"junk_before_last", cat({bytes(at(0), at(k - 1)), junk(100), bytes(at(k - 1), dv.end())}), k},
        // Sequence 15 cut after 6000 bytes is analysed with the start of
        // sequence 16 as its second half; the skip over it lands inside 16,
        // which is lost, and the search finds 17.
        {"cut_short", cat({bytes(at(0), at(15) + 6000), bytes(at(16), dv.end())}), k - 2},
    };
    const audio_track a = read_audio(dv, s.pal);
    for (const row& r : rows) {
      SCOPED_TRACE(std::string(s.name) + " " + r.name);
      const tool_run run = run_logged(save(std::string(s.name) + r.name, r.data));
      EXPECT_EQ(run.out, expected_log(s, a, frames, r.analysed, plain_lines(frames)));
      EXPECT_EQ(run.err, "");
    }
  }
}

// --- Patched the way other recorders write ------------------------------------

// ffmpeg's muxer writes 48 kHz only: other rates are written into its packs,
// some with audio that runs fast or slow against the frames.
TEST_F(Interop, OtherSampleRates) {
  struct row {
    const stream_spec& base;
    int rate_code;
    int drift;  // samples per frame
    bool to_nearest;
  };
  // NTSC frames alternate between two sample counts: rounded down the offset
  // stays 0, but the changing count alone rules out "locked".
  const row rows[] = {
      {NTSC_BASE, 1, 0, false}, {NTSC_BASE, 2, -3, true}, {PAL_BASE, 1, 0, true}, {PAL_BASE, 2, 5, true}};
  for (const row& r : rows) {
    const std::string name = std::string(r.base.name) + "_" + RATE_NAME[r.rate_code] + std::to_string(r.drift);
    SCOPED_TRACE(name);
    bytes dv = make(r.base).second;
    set_audio_rate(dv, r.base.pal, r.rate_code, r.drift, r.to_nearest);
    const audio_track a = read_audio(dv, r.base.pal);
    ASSERT_EQ(a.rate_code, r.rate_code);
    const std::string path = save(name, dv);
    const int frames = ffprobe_frames(path);
    ASSERT_EQ(frames, r.base.frames);
    const tool_run run = run_logged(path);
    EXPECT_EQ(run.out, expected_log(r.base, a, frames, back_to_back(dv), plain_lines(frames)));
    EXPECT_EQ(run.err, "");
  }
}

// Only the audio source pack of audio block 0 counts; elsewhere it gives no
// audio clause and no verdict.
TEST_F(Interop, AudioSourceOutsideFirstBlock) {
  const stream_spec& s = NTSC_BASE;
  bytes dv = make(s).second;
  move_audio_source(dv, s.pal);
  const audio_track a = read_audio(dv, s.pal);
  ASSERT_EQ(a.rate_code, -1);
  const std::string path = save("moved_audio_source", dv);
  const int frames = ffprobe_frames(path);
  const tool_run r = run_logged(path);
  EXPECT_EQ(r.out, expected_log(s, a, frames, back_to_back(dv), plain_lines(frames)));
  EXPECT_EQ(r.out.find("AUDIO"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

// Frame 3 is marked too: its start line comes before its status line.
TEST_F(Interop, RecordingStarts) {
  const std::vector<int> marked{1, 3, 5};
  for (const stream_spec& s : {NTSC_BASE, PAL_BASE}) {
    SCOPED_TRACE(s.name);
    bytes dv = make(s).second;
    for (int f : marked) mark_recording_start(dv, s.pal, f);
    const std::string path = save(std::string(s.name) + "_starts", dv);
    const int frames = ffprobe_frames(path);
    const tool_run r = run_logged(path);
    EXPECT_EQ(r.out, expected_log(s, read_audio(dv, s.pal), frames, back_to_back(dv), plain_lines(frames), marked));
    EXPECT_EQ(r.err, "");
  }
}

// Camera packs as a camcorder writes them: iris f/1.6, 0 dB, 1/60 s; from
// frame 3 f/5.7; from frame 5 6 dB and 1/488 s. With them all eight kinds of
// pack are seen by the second sequence, the first to hold the audio source
// pack in audio block 0, so the log starts there, after frame 1 is accounted;
// later lines come at the first sequence of frames 3 and 5.
TEST_F(Interop, CameraSettingsChange) {
  for (const stream_spec& s : {NTSC_BASE, PAL_BASE}) {
    SCOPED_TRACE(s.name);
    bytes dv = make(s).second;
    add_camera_packs(dv, s.pal, [](int frame) {
      // Iris codes count eighth stops from f/1.0 at 0xC0, with 0xC6 read as
      // f/1.6: 0xD4 is 20 eighths, 2^2.5 = 5.66. Gain codes are 3 dB steps
      // from 0 dB at 1. The shutter counts 1/15600 s: 260 is 1/60 s, 32 is
      // 1/487.5 s, shown as 1/488. The AP2 word is PC3 and PC4, 7FFF.
      return std::vector<pack>{camera1_pack(frame < 3 ? 0xC6 : 0xD4, frame < 5 ? 1 : 3, 0x7FFF),
                               shutter_pack(frame < 5 ? 260 : 32)};
    });
    const std::string path = save(std::string(s.name) + "_camera", dv);
    const int frames = ffprobe_frames(path);
    const std::vector<status_at> lines{
        {1, 1, "AP=1.6, GAIN= 0 db, SHUTTER=1/60  ", ", AP2=7FFF"},  // the first line shows every word set
        {3, 2, "AP=5.7, GAIN= 0 db, SHUTTER=1/60  "},
        {5, 4, "AP=5.7, GAIN= 6 db, SHUTTER=1/488 "},
    };
    const tool_run r = run_logged(path);
    EXPECT_EQ(r.out, expected_log(s, read_audio(dv, s.pal), frames, back_to_back(dv), lines));
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace dvtest
