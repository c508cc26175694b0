// Audio accounting. A DV frame carries a varying number of samples: the audio
// source pack's frame-size code plus a minimum per system and rate (1580 at
// 48 kHz in 525/60, 1896 at 48 kHz in 625/50). Once per frame the samples
// carried so far are compared with the whole number that the frames call for
// (48000 x 1001 / 30000 = 1601.6 per 525/60 frame, 1920 per 625/50 frame).
#include <gtest/gtest.h>

#include <climits>

#include "analysis/analyser.h"
#include "analysis/audio_accounting.h"
#include "support/capture.h"

using namespace dvtest;

namespace {

size_t per_frame(bool pal) { return pal ? 12 : 10; }

// Frames with a video source pack, a timecode each unless counted from
// sequences, and an audio source pack in audio block 0 whose frame-size code
// cycles through `codes`.
bytes audio_stream(int frames, bool pal, uint8_t rate, const std::vector<uint8_t>& codes, bool timecode = true) {
  bytes stream = make_stream(frames * per_frame(pal), pal);
  for (size_t i = 0; i * SEQ < stream.size(); ++i) {
    uint8_t* s = &stream[i * SEQ];
    const int frame = static_cast<int>(i / per_frame(pal));
    if (timecode) put_subcode_pack(s, 0, 0, timecode_pack(0, 0, frame / 25, frame % 25));
    put_vaux_pack(s, 0, 0, video_source_pack(pal));
    put_audio_pack(s, 0, audio_source_pack(codes[frame % codes.size()], rate, pal));
  }
  return stream;
}

// The summary of a run on all but the last sequence (the scan never reaches
// the last of a stream of whole sequences).
std::string summary(const bytes& stream, int frames, const std::string& verdict) {
  return "============\nTotal frames: " + std::to_string(frames) +
         "\nDIF Blocks analysed: " + std::to_string(stream.size() / SEQ - 1) + "\n" + verdict;
}

std::string summary_of_run(const bytes& stream) {
  const std::string out = run_in_process(stream).out;
  return out.substr(std::min(out.find("============"), out.size()));
}

struct accounting_row {
  const char* what;
  bool pal;
  uint8_t rate;
  std::vector<uint8_t> codes;
  std::vector<int32_t> offsets;  // after each frame
  const char* verdict;
  bool timecode = true;
};

const accounting_row accounting_rows[] = {
    // 1600 + 1602 x 4 = 8008 = 5 x 1601.6 samples every five frames.
    {"NTSC 48 kHz", false, 0, {20, 22, 22, 22, 22}, {-1, -1, 0, 0, 0, -1, -1, 0, 0, 0},
     "Audio offset: final=0 (0 ms), max=1 (0 ms)\n"},
    {"PAL 48 kHz", true, 0, {24}, {0, 0, 0, 0, 0}, "Audio is locked\n"},
    {"PAL 48 kHz, frames from sequences", true, 0, {24, 25, 23}, {0, 1, 0, 0},
     "Audio offset: final=0 (0 ms), max=1 (0 ms)\n", false},
    // 44100 / 25 = 1764 = 1742 + 22.
    {"PAL 44.1 kHz", true, 1, {22}, {0, 0, 0, 0}, "Audio is locked\n"},
    // 1472 a frame against 1471.47: 1472 f - trunc(1471.47 f).
    {"NTSC 44.1 kHz", false, 1, {20}, {1, 2, 2, 3, 3}, "Audio offset: final=3 (0 ms), max=3 (0 ms)\n"},
    // No sampling rate: neither a minimum nor an expected count, only the codes.
    {"no rate", false, 3, {5}, {5, 10, 15, 20}, "Audio offset: final=20 (0 ms), max=20 (0 ms)\n"},
};

TEST(AudioAccounting, OffsetPerFrameAndVerdict) {
  for (const accounting_row& row : accounting_rows) {
    const int frames = static_cast<int>(row.offsets.size());
    const bytes stream = audio_stream(frames, row.pal, row.rate, row.codes, row.timecode);
    std::vector<int32_t> offsets;
    int32_t max_seen = -1;
    drive(stream, [&](size_t i, const dvlog::analyser& a) {
      if (i % per_frame(row.pal) == 0) offsets.push_back(a.audio_offset());
      max_seen = a.audio_offset_max();
    });
    EXPECT_EQ(offsets, row.offsets) << row.what;
    int32_t max = 0;
    for (int32_t x : row.offsets) max = std::max(max, std::abs(x));
    EXPECT_EQ(max_seen, max) << row.what;
    EXPECT_EQ(summary_of_run(stream), summary(stream, frames, row.verdict)) << row.what;
  }
}

// A sequence accounted before the first frame adds its code with no minimum
// and no expected samples, and the code stays in the sum.
TEST(AudioAccounting, BeforeTheFirstFrame) {
  bytes stream = audio_stream(2, true, 0, {24});
  bytes lone = make_sequence(0);
  put_audio_pack(lone.data(), 0, audio_source_pack(20, 0, true));
  stream.insert(stream.begin(), lone.begin(), lone.end());
  std::vector<std::pair<int32_t, int32_t>> seen;  // (frame_count, audio_offset)
  uint8_t first_system = 0;
  drive(stream, [&](size_t i, const dvlog::analyser& a) {
    seen.emplace_back(a.frames(), a.audio_offset());
    if (i == 0) first_system = a.current().system;
  });
  EXPECT_EQ(seen[0], std::make_pair(0, 20));
  EXPECT_EQ(first_system, 1);  // from the audio pack, without a video source pack
  EXPECT_EQ(seen[1], std::make_pair(1, 20));
  EXPECT_EQ(seen[13], std::make_pair(2, 20));
}

// The frame size of each frame's first sequence is compared with the one at
// the last status line, not with the previous frame's.
TEST(AudioAccounting, FrameSizeChangeAgainstTheLastStatusLine) {
  struct row {
    size_t shutter_from;  // the first line waits for all eight kinds of pack
    uint8_t later_code;   // in the sequences after each frame's first
    const char* verdict;
  };
  const row rows[] = {
      {0, 24, "Audio is locked\n"},
      {0, 25, "Audio is locked\n"},  // the line came at sequence 0, with code 24
      {1, 25, "Audio offset: final=0 (0 ms), max=0 (0 ms)\n"},  // line at sequence 1, with 25
  };
  for (const row& r : rows) {
    bytes stream = audio_stream(3, true, 0, {24});
    for (size_t i = 0; i < 36; ++i) {
      uint8_t* s = &stream[i * SEQ];
      put_vaux_pack(s, 0, 1, video_control_pack(0));
      put_vaux_pack(s, 0, 2, rec_date_pack(0xC9, 26, 6, 6, 10));
      put_vaux_pack(s, 0, 3, rec_time_pack(14, 45, 11));
      put_vaux_pack(s, 1, 0, camera1_pack(0xC6, 1));
      if (i >= r.shutter_from) put_vaux_pack(s, 1, 1, shutter_pack(260));
      if (i % 12 != 0) put_audio_pack(s, 0, audio_source_pack(r.later_code, 0, true));
    }
    EXPECT_EQ(summary_of_run(stream), summary(stream, 3, r.verdict)) << r.shutter_from << " " << int{r.later_code};
  }
}

TEST(AudioAccounting, NoSourcePackInAudioBlock0) {
  bytes stream = audio_stream(4, false, 0, {20});
  for (size_t i = 0; i < 40; ++i) {
    put_audio_pack(&stream[i * SEQ], 0, pack{0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    put_audio_pack(&stream[i * SEQ], 1, audio_source_pack(20, 0, false));
  }
  const std::string out = run_in_process(stream).out;
  EXPECT_NE(out.find(" - AP="), std::string::npos) << out;
  EXPECT_EQ(out.find("AUDIO"), std::string::npos) << out;
  EXPECT_EQ(summary_of_run(stream), summary(stream, 4, ""));
}

TEST(AudioAccounting, SamplesToMilliseconds) {
  struct row {
    int32_t samples;
    uint8_t rate_code;
    int32_t ms;
  };
  const row rows[] = {
      {96, 0, 2},     // 2.0 ms
      {24, 0, 1},     // 0.5 ms rounds up
      {23, 0, 0},     // 0.479 ms
      {-48, 0, 0},    // -1.0 ms: (-10 + 5) / 10
      {-72, 0, -1},   // -1.5 ms
      {-96, 0, -1},   // -2.0 ms
      {-120, 0, -2},  // -2.5 ms
      {441, 1, 10},   // 10 ms at 44.1 kHz
      {32, 2, 1},     // 1 ms at 32 kHz
      {5000, 3, 0},   // no rate
      // 2^31 x 10000 / 32000 = 671088640 tenths exactly: (-671088640 + 5) / 10.
      {INT32_MIN, 2, -67108863},
      // (2^31 - 1) x 10000 / 32000 = 671088639.69 tenths: (671088639 + 5) / 10.
      {INT32_MAX, 2, 67108864},
  };
  for (const row& r : rows) EXPECT_EQ(dvlog::samples_to_ms(r.samples, r.rate_code), r.ms) << r.samples;
}

// Sums far beyond any real stream wrap in 32 bits without undefined behaviour
// (the sanitizer build checks).
TEST(AudioAccounting, WrappingSums) {
  struct row {
    int32_t frames;
    uint64_t sum_before;
    bool pal;
    uint8_t code;
    int32_t offset;
    int32_t max;
  };
  const row rows[] = {
      // No frame yet: the offset is the sum's low 32 bits, here 2^31.
      {0, 0x80000000u - 20, false, 20, INT32_MIN, INT32_MAX},
      // Sum wraps to 14; 1580 (2^31 - 1) = -1580 mod 2^32; expected
      // trunc((2^31 - 1) x 1601.6) = 3439409809035 = 3435972235 mod 2^32;
      // 14 - 1580 - 3435972235 = 858993495 mod 2^32.
      {INT32_MAX, UINT64_MAX - 5, false, 20, 858993495, 858993495},
      // 1580 x -2^31 = 0 mod 2^32; expected -2^31 x 1601.6 = -3439409810636.8,
      // truncated toward zero, = 858993460 mod 2^32; 20 - 858993460.
      {INT32_MIN, 0, false, 20, -858993440, 858993440},
      // 1896 x -2^31 and -2^31 x 1920 are both 0 mod 2^32.
      {INT32_MIN, 0, true, 24, 24, 24},
  };
  for (const row& r : rows) {
    dvlog::audio_accounting audio(r.sum_before);
    audio.account_frame(r.frames, r.pal, 0, r.code, dvlog::NO_INFO8);
    EXPECT_EQ(audio.offset(), r.offset) << r.frames;
    EXPECT_EQ(audio.max_offset(), r.max) << r.frames;
  }
}

}  // namespace
