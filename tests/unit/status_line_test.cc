// Status lines, through the whole tool, on NTSC streams made by the builder.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/capture.h"
#include "texts/time_texts.h"

using namespace dvtest;
using lines = std::vector<std::string>;

namespace {

constexpr pack NO_PACK = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr pack BLANK_DATE = {0x62, 0xFF, 0xFF, 0xFF, 0xFF};

// Where the packs go in VAUX block 0.
enum slot { VIDEO_SOURCE, VIDEO_CONTROL, DATE, TIME, CAMERA_1, SHUTTER, CAMERA_2 };

// Sequence i (counted from 1, as the tool counts them) of a stream in which
// every kind of pack the warm-up waits for turns up at once. The timecode
// gives ten sequences to a frame, frames numbered from 0; the recording time
// carries i in its seconds, so that a line tells at which sequence it came.
void put_all(int i, uint8_t* s) {
  put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, (i - 1) / 10));
  put_vaux_pack(s, 0, VIDEO_SOURCE, video_source_pack(false, 0));
  put_vaux_pack(s, 0, VIDEO_CONTROL, video_control_pack(0, true));
  put_vaux_pack(s, 0, DATE, rec_date_pack(0xC9, 26, 6, 6, 10));  // Saturday, +09:00
  put_vaux_pack(s, 0, TIME, rec_time_pack(0, 0, i));
  put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xC6, 1));
  put_vaux_pack(s, 0, SHUTTER, shutter_pack(260));
  put_audio_pack(s, 0, audio_source_pack(20, 0, false));
}

// The opening of a line printed at sequence i of such a stream.
std::string head(int i) {
  char text[64];
  std::snprintf(text, sizeof text, "00h 00m 00s %02df / Sat 2010-06-26 00:00:%02d +09:00 - ", (i - 1) / 10, i);
  return text;
}

const std::string CAMERA = "AP=1.6, GAIN= 0 db, SHUTTER=1/60  ";
const std::string PICTURE = ", 4:3, NTSC, DV25, Interlaced";

// 1580 samples a frame plus the frame-size code 20 against 1601.6 a frame at
// 29.97 frames/s: frame 1 is 1 sample short, frame 2 3 (3200 against 3203),
// frame 3 4, frame 4 6.
constexpr int offset_after_frame[] = {0, -1, -3, -4, -6};

std::string line(int i, const std::string& camera = CAMERA) {
  return head(i) + camera + PICTURE + ", AUDIO=48kHz 16 bits, Locked, offset=" +
         std::to_string(offset_after_frame[(i - 1) / 10 + 1]);
}

// The lines before the summary when the tool reads n sequences, each filled
// by fill(i, sequence).
template <typename Fill>
lines status_lines(int n, Fill fill) {
  bytes stream = make_stream(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) fill(i, &stream[static_cast<size_t>(i - 1) * SEQ]);
  stream.push_back(0);  // a sequence is analysed once a byte follows it
  std::istringstream out(run_in_process(stream).out);
  lines found;
  for (std::string text; std::getline(out, text) && text != "============";) found.push_back(text);
  return found;
}

int64_t year_2026() { return 2026; }

class StatusLine : public ::testing::Test {
 protected:
  void SetUp() override { year_for_runs = year_2026; }
  void TearDown() override { year_for_runs = dvlog::clock_local_year; }
};

// Timecode 01:20:10:05, recording time 14:45:11 without frames, no date, f/1.6,
// gain code 1, shutter 260 (1/60), 4:3 interlaced NTSC DV25, locked 48 kHz
// 16-bit audio without emphasis, frame-size code 20.
const std::string EXAMPLE =
    "01h 20m 10s 05f / 14:45:11 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, DV25, Interlaced, "
    "AUDIO=48kHz 16 bits, Locked, offset=-1";

void put_example(int, uint8_t* s) {
  put_subcode_pack(s, 0, 0, timecode_pack(1, 20, 10, 5));
  put_vaux_pack(s, 0, VIDEO_SOURCE, video_source_pack(false, 0));
  put_vaux_pack(s, 0, VIDEO_CONTROL, video_control_pack(0, true));
  put_vaux_pack(s, 0, TIME, rec_time_pack(14, 45, 11));
  put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xC6, 1));
  put_vaux_pack(s, 0, SHUTTER, shutter_pack(260));
  put_audio_pack(s, 0, audio_source_pack(20, 0, false));
}

TEST_F(StatusLine, ExampleLine) {
  // Without a date pack and with one timecode throughout (frame 1), only the
  // 25th sequence ends the warm-up; the offset is frame 1's.
  EXPECT_EQ(status_lines(24, put_example), lines{});
  EXPECT_EQ(status_lines(25, put_example), lines{EXAMPLE});
  // A blank date pack completes the eight kinds at the first sequence and
  // shows no date either.
  EXPECT_EQ(status_lines(1,
                         [](int i, uint8_t* s) {
                           put_example(i, s);
                           put_vaux_pack(s, 0, DATE, BLANK_DATE);
                         }),
            lines{EXAMPLE});
}

TEST_F(StatusLine, FirstSequenceWithAllPacksAndNothingChanging) {
  // Timecode, recording time and audio offset move on; they are not settings.
  EXPECT_EQ(status_lines(40, put_all), lines{line(1)});
}

TEST_F(StatusLine, WarmUpEndsAtThirdFrame) {
  // With one kind of pack missing, the first line waits for frame 3, which
  // starts at sequence 21, and shows what is known by then.
  const std::string audio = ", AUDIO=48kHz 16 bits, Locked, offset=-4";
  const struct {
    void (*remove)(uint8_t*);
    std::string expected;
  } rows[] = {
      // Frames are then counted from sequences, ten to an NTSC frame.
      {[](uint8_t* s) { put_subcode_pack(s, 0, 0, NO_PACK); },
       "00h 00m 00s 00f / Sat 2010-06-26 00:00:21 +09:00 - " + CAMERA + PICTURE + audio},
      // The system then comes from the audio source pack.
      {[](uint8_t* s) { put_vaux_pack(s, 0, VIDEO_SOURCE, NO_PACK); },
       head(21) + CAMERA + ", 4:3, NTSC, FF, Interlaced" + audio},
      {[](uint8_t* s) { put_vaux_pack(s, 0, VIDEO_CONTROL, NO_PACK); }, line(21)},
      {[](uint8_t* s) { put_vaux_pack(s, 0, DATE, NO_PACK); },
       "00h 00m 00s 02f / 00:00:21 - " + CAMERA + PICTURE + audio},
      {[](uint8_t* s) { put_vaux_pack(s, 0, TIME, NO_PACK); },
       "00h 00m 00s 02f / Sat 2010-06-26  - " + CAMERA + PICTURE + audio},
      {[](uint8_t* s) { put_vaux_pack(s, 0, CAMERA_1, NO_PACK); }, line(21, "AP=?? , GAIN=??, SHUTTER=1/60  ")},
      {[](uint8_t* s) { put_vaux_pack(s, 0, SHUTTER, NO_PACK); }, line(21, "AP=1.6, GAIN= 0 db, SHUTTER=??????")},
      {[](uint8_t* s) { put_audio_pack(s, 0, NO_PACK); }, head(21) + CAMERA + PICTURE},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(status_lines(30,
                           [&](int i, uint8_t* s) {
                             put_all(i, s);
                             r.remove(s);
                           }),
              lines{r.expected});
  }
}

TEST_F(StatusLine, StreamsWithFewPacks) {
  // Timecodes and one more pack; no camera, audio, date or time packs, so the
  // camera texts read as unknown and the date and time as empty.
  const std::string head_21 = "00h 00m 00s 02f /  - AP=?? , GAIN=??, SHUTTER=??????, ";
  const struct {
    pack extra;
    lines expected;
  } rows[] = {
      {NO_PACK, {}},
      {rec_date_pack(0xC9, 26, 6, 6, 10), {}},  // date and time are no settings
      {video_control_pack(3, false), {head_21 + "Letterbox, PAL, FF, Progressive"}},
      {video_control_pack(7, true), {head_21 + "16:9, PAL, FF, Interlaced"}},
      {video_source_pack(false, 0x04), {head_21 + "4:3, NTSC, DV50, Interlaced"}},
      {video_source_pack(true, 0x14), {head_21 + "4:3, PAL, DVCPROHD_1080i, Interlaced"}},
      {{0x71, 0x11, 0x22, 0x33, 0x44}, {head_21 + "4:3, PAL, FF, Interlaced, Camera2=44332211"}},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(status_lines(30,
                           [&](int i, uint8_t* s) {
                             put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, (i - 1) / 10));
                             put_vaux_pack(s, 0, 0, r.extra);
                           }),
              r.expected)
        << std::hex << int{r.extra.id};
  }
}

TEST_F(StatusLine, EachSettingAloneMakesALine) {
  // From sequence 4 on, one pack changes one field; all in frame 1, whose
  // audio was accounted at its first sequence, so the offset stays -1.
  constexpr int IN_AUDIO_BLOCK = -1;
  const std::string audio = ", AUDIO=48kHz 16 bits, Locked, offset=-1";
  const struct {
    int slot;
    pack changed;
    std::string second;  // after the opening; empty: no second line
  } rows[] = {
      {VIDEO_SOURCE, {0x60, 0xFF, 0x7F, 0xC0, 0xFF}, CAMERA + PICTURE + audio},  // source flag only: same texts
      {VIDEO_SOURCE, video_source_pack(true, 0x00), CAMERA + ", 4:3, PAL, DV25, Interlaced" + audio},
      {VIDEO_SOURCE, video_source_pack(false, 0x04), CAMERA + ", 4:3, NTSC, DV50, Interlaced" + audio},
      {VIDEO_CONTROL, video_control_pack(2, true), CAMERA + ", 16:9, NTSC, DV25, Interlaced" + audio},
      {VIDEO_CONTROL, video_control_pack(0, false), CAMERA + ", 4:3, NTSC, DV25, Progressive" + audio},
      {CAMERA_1, camera1_pack(0xC6, 2), "AP=1.6, GAIN= 3 db, SHUTTER=1/60  " + PICTURE + audio},
      {CAMERA_1, camera1_pack(0xC7, 1), "AP=1.8, GAIN= 0 db, SHUTTER=1/60  " + PICTURE + audio},
      {SHUTTER, shutter_pack(100), "AP=1.6, GAIN= 0 db, SHUTTER=1/156 " + PICTURE + audio},
      {IN_AUDIO_BLOCK, audio_source_pack(20, 2, false), CAMERA + PICTURE + ", AUDIO=32kHz 16 bits, Locked, offset=-1"},
      {IN_AUDIO_BLOCK, audio_source_pack(20, 0, false, true, 2),
       CAMERA + PICTURE + ", AUDIO=48kHz 20 bits, Locked, offset=-1"},
      {IN_AUDIO_BLOCK, audio_source_pack(20, 0, false, false),
       CAMERA + PICTURE + ", AUDIO=48kHz 16 bits, Unlocked, offset=-1"},
      {IN_AUDIO_BLOCK, audio_source_pack(20, 0, false, true, 0, false),
       CAMERA + PICTURE + ", AUDIO=48kHz 16 bits, Locked, Emphasis on, offset=-1"},
      {IN_AUDIO_BLOCK, audio_source_pack(22, 0, false), ""},  // the frame size is no setting
  };
  for (const auto& r : rows) {
    lines expected{line(1)};
    if (!r.second.empty()) expected.push_back(head(4) + r.second);
    EXPECT_EQ(status_lines(10,
                           [&](int i, uint8_t* s) {
                             put_all(i, s);
                             if (i < 4) return;
                             if (r.slot == IN_AUDIO_BLOCK)
                               put_audio_pack(s, 0, r.changed);
                             else
                               put_vaux_pack(s, 0, r.slot, r.changed);
                           }),
              expected)
        << r.second;
  }
}

TEST_F(StatusLine, AudioClause) {
  // Frame 1 of NTSC carries the minimum plus the code against 1601.6 samples
  // at 48 kHz, 1471.47 at 44.1 kHz, 1067.73 at 32 kHz.
  const struct {
    pack audio;
    const char* clause;
  } rows[] = {
      {audio_source_pack(20, 0, false, false, 0, false), "AUDIO=48kHz 16 bits, Unlocked, Emphasis on, offset=-1"},
      {audio_source_pack(19, 1, false, true, 1), "AUDIO=44.1kHz 12 bits, Locked, offset=0"},  // 1452 + 19
      {audio_source_pack(24, 2, false, true, 2), "AUDIO=32kHz 20 bits, Locked, offset=10"},   // 1053 + 24
      {audio_source_pack(14, 2, false, true, 3), "AUDIO=32kHz 0 bits, Locked, offset=0"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(status_lines(1,
                           [&](int i, uint8_t* s) {
                             put_all(i, s);
                             put_audio_pack(s, 0, r.audio);
                           }),
              lines{head(1) + CAMERA + PICTURE + ", " + r.clause});
  }
}

TEST_F(StatusLine, RawCameraWordsWhenSetThenWhenChanged) {
  constexpr pack camera2_before = {0x71, 0x11, 0x22, 0x33, 0x44}, camera2_after = {0x71, 0x55, 0x66, 0x77, 0x88};
  EXPECT_EQ(status_lines(10,
                         [&](int i, uint8_t* s) {
                           put_all(i, s);
                           put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xC6, 1, i < 7 ? 0x1234 : 0x4321));
                           put_vaux_pack(s, 0, SHUTTER, shutter_pack(260, i < 3 ? 0x5678 : 0x9ABC));
                           put_vaux_pack(s, 0, CAMERA_2, i < 5 ? camera2_before : camera2_after);
                         }),
            (lines{line(1) + ", Camera2=44332211, AP2=1234, SH2=5678", line(3) + ", SH2=9ABC",
                   line(5) + ", Camera2=88776655", line(7) + ", AP2=4321"}));
}

TEST_F(StatusLine, CameraSettingsChangingMidStream) {
  // Gain codes 3 and 14 are 6 and 39 dB; iris 0xD4 is 2^(20/8) = f/5.7, 0xE1
  // 2^(33/8) = f/17; shutter 32 is 15600/32 = 487.5, so 1/488; code 1 is
  // 1/16000. Blank packs read as unknown.
  const auto fill = [](int i, uint8_t* s) {
    put_all(i, s);
    if (i >= 5) put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xC6, 3));
    if (i >= 12) put_vaux_pack(s, 0, SHUTTER, shutter_pack(32));
    if (i >= 18) put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xD4, 3));
    if (i >= 23) put_vaux_pack(s, 0, CAMERA_1, camera1_pack(0xE1, 14));
    if (i >= 31) put_vaux_pack(s, 0, SHUTTER, shutter_pack(1));
    if (i >= 35) put_vaux_pack(s, 0, CAMERA_1, {0x70, 0xFF, 0xFF, 0xFF, 0xFF});
    if (i >= 38) put_vaux_pack(s, 0, SHUTTER, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF});
  };
  EXPECT_EQ(status_lines(40, fill), (lines{
                                        line(1),
                                        line(5, "AP=1.6, GAIN= 6 db, SHUTTER=1/60  "),
                                        line(12, "AP=1.6, GAIN= 6 db, SHUTTER=1/488 "),
                                        line(18, "AP=5.7, GAIN= 6 db, SHUTTER=1/488 "),
                                        line(23, "AP=17 , GAIN=39 db, SHUTTER=1/488 "),
                                        line(31, "AP=17 , GAIN=39 db, SHUTTER=1/16000"),
                                        line(35, "AP=?? , GAIN=??, SHUTTER=1/16000"),
                                        line(38, "AP=?? , GAIN=??, SHUTTER=??????"),
                                    }));
}

}  // namespace
