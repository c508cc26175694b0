// Whole runs of the tool on streams of the kind the fuzzer makes: built
// sequences with packs at the edges of what their fields can hold, blocks out
// of place and timecodes that break at once. Each expected output was worked
// out independently of the code and checked against a separate model of the
// tool that the fuzz corpus was also run through.
#include <gtest/gtest.h>

#include <string>

#include "report/time_texts.h"
#include "support/capture.h"

using namespace dvtest;

namespace {

uint8_t* seq(bytes& stream, size_t i) { return stream.data() + i * SEQ; }

// ID0 of audio block j (DIF block 6 + 16 j) in a sequence.
uint8_t& audio_block_id0(uint8_t* s, size_t j) { return s[(6 + 16 * j) * 80]; }

// n NTSC sequences and one byte after them, so that the last is analysed.
bytes stream_of(size_t n) {
  bytes s = make_stream(n);
  s.push_back(0);
  return s;
}

// Every kind of pack that ends the warm-up, in VAUX block 0 and audio block 0.
void put_all_packs(uint8_t* s, uint8_t zone, bool src_flag) {
  put_vaux_pack(s, 0, 0, {0x60, 0xFF, static_cast<uint8_t>(src_flag ? 0xFF : 0x7F), 0xC0, 0xFF});
  put_vaux_pack(s, 0, 1, video_control_pack(0, true));
  put_vaux_pack(s, 0, 2, rec_date_pack(zone, 26, 6, 6, 10));
  put_vaux_pack(s, 0, 3, rec_time_pack(14, 45, 11));
  put_vaux_pack(s, 0, 4, camera1_pack(0xC6, 1));
  put_vaux_pack(s, 0, 5, shutter_pack(260));
  put_audio_pack(s, 0, audio_source_pack(20, 0, false));
}

struct fuzz_case {
  const char* name;
  bytes (*input)();
  const char* out;
  const char* err;
};

const fuzz_case cases[] = {
    {"every text at an edge of its field",
     [] {
       bytes st = stream_of(1);
       uint8_t* s = seq(st, 0);
       put_subcode_pack(s, 1, 5, {0x13, 0xFE, 0xFF, 0xFF, 0xFF});  // not blank: frame digits 3E
       put_vaux_pack(s, 2, 0, {0x60, 0xFF, 0x7F, 0xDF, 0xFF});     // NTSC, signal type 1F
       put_vaux_pack(s, 2, 1, {0x61, 0xFF, 0xFF, 0xF7, 0xFF});     // aspect 7, progressive
       put_vaux_pack(s, 2, 2, {0x62, 0x7F, 0xFF, 0xFF, 0xFF});     // no zone, no weekday, year FF
       put_vaux_pack(s, 2, 3, {0x63, 0xFE, 0xFF, 0xFF, 0xFF});     // frames 3E
       put_vaux_pack(s, 2, 4, {0x70, 0xC1, 0xFF, 0xFF, 0xFF});     // f/1.1, gain 15, AP2 unset
       put_vaux_pack(s, 2, 5, {0x7F, 0x00, 0x00, 0xFE, 0xFF});     // shutter 32766, SH2 0
       put_audio_pack(s, 0, {0x50, 0xFF, 0xFF, 0xFF, 0x7B});       // rate and bits code 3
       return st;
     },
     "3Fh 7Fm 7Fs 3Ef / 2065-1F-3F 3F:7F:7F.3E - AP=1.1, GAIN=??, SHUTTER=1/0   , 16:9, NTSC, 1F, "
     "Progressive, AUDIO= 0 bits, Unlocked, Emphasis on, offset=63, SH2=0000\n"
     "============\nTotal frames: 1\nDIF Blocks analysed: 1\n"
     "Audio offset: final=63 (0 ms), max=63 (0 ms)\n",
     ""},

    {"zone bytes with a half hour, past 12 hours and west",
     [] {
       bytes st = stream_of(3);
       constexpr uint8_t zones[] = {0x00, 0xB9, 0xD9};
       for (size_t i = 0; i < 3; ++i) {
         put_subcode_pack(seq(st, i), 0, 0, timecode_pack(0, 0, 0, static_cast<int>(i)));
         put_all_packs(seq(st, i), zones[i], i % 2 == 1);
       }
       return st;
     },
     "00h 00m 00s 00f / Sat 2010-06-26 14:45:11 +01:30 DST - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-1\n"
     "00h 00m 00s 01f / Sat 2010-06-26 14:45:11 +15:30 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-3\n"
     "00h 00m 00s 02f / Sat 2010-06-26 14:45:11 -05:00 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-4\n"
     "============\nTotal frames: 3\nDIF Blocks analysed: 3\n"
     "Audio offset: final=-4 (0 ms), max=4 (0 ms)\n",
     ""},

    {"blank timecode in the very first sequence",
     [] {
       bytes st = stream_of(4);
       for (size_t i = 0; i < 4; ++i) {
         uint8_t* s = seq(st, i);
         if (i == 0) put_subcode_pack(s, 0, 0, {0x13, 0xFF, 0xFF, 0xFF, 0xFF});
         put_all_packs(s, 0xC9, false);
         put_vaux_pack(s, 0, 0, video_source_pack(true));
         put_audio_pack(s, 0, audio_source_pack(5, 0, true));
       }
       return st;
     },
     "Timecode is broken, switch to diff blocks for audio/frame count\n"
     "00h 00m 00s 00f / Sat 2010-06-26 14:45:11 +09:00 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, PAL, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=5\n"
     "============\nTotal frames: 1\nDIF Blocks analysed: 4\n"
     "Audio offset: final=-14 (0 ms), max=14 (0 ms)\n",
     ""},

    {"recording start in audio block 0, then a frame without one",
     [] {
       bytes st = stream_of(4);
       for (size_t i = 0; i < 4; ++i) {
         uint8_t* s = seq(st, i);
         put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, i < 2 ? 0 : 1));
         put_audio_pack(s, 0, audio_control_pack(true));
         if (i >= 2) put_audio_pack(s, 0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
         audio_block_id0(s, 1) = 0x90;  // a video block in its place
       }
       return st;
     },
     "00h 00m 00s 00f /  - New recording\n"
     "============\nTotal frames: 2\nDIF Blocks analysed: 4\n",
     "Warning: got 90 instead of audio block\nWarning: got 90 instead of audio block\n"},

    {"camera words set, then blank packs",
     [] {
       bytes st = stream_of(2);
       for (size_t i = 0; i < 2; ++i) {
         uint8_t* s = seq(st, i);
         put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, static_cast<int>(i)));
         put_all_packs(s, 0xC9, false);
         if (i == 0) {
           put_vaux_pack(s, 1, 0, camera1_pack(0xC6, 1, 0x1234));
           put_vaux_pack(s, 1, 1, {0x71, 0x01, 0x02, 0x03, 0x04});
           put_vaux_pack(s, 1, 2, shutter_pack(260, 0x5678));
         } else {
           put_vaux_pack(s, 1, 0, {0x70, 0xFF, 0xFF, 0xFF, 0xFF});
           put_vaux_pack(s, 1, 1, {0x71, 0xFF, 0xFF, 0xFF, 0xFF});
           put_vaux_pack(s, 1, 2, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF});
         }
       }
       return st;
     },
     "00h 00m 00s 00f / Sat 2010-06-26 14:45:11 +09:00 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-1, Camera2=04030201, AP2=1234, SH2=5678\n"
     "00h 00m 00s 01f / Sat 2010-06-26 14:45:11 +09:00 - AP=?? , GAIN=??, SHUTTER=??????, 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-3, Camera2=FFFFFFFF, AP2=FFFF, SH2=FFFF\n"
     "============\nTotal frames: 2\nDIF Blocks analysed: 2\n"
     "Audio offset: final=-3 (0 ms), max=3 (0 ms)\n",
     ""},

    {"sequence after more than a window of junk, ending the input",
     [] {
       bytes st(12005, 0x00);
       bytes s = make_sequence(3);
       put_subcode_pack(s.data(), 0, 0, timecode_pack(0, 0, 0, 0));
       put_all_packs(s.data(), 0x3F, false);
       st.insert(st.end(), s.begin(), s.end());
       return st;
     },
     "00h 00m 00s 00f / Sat 2010-06-26 14:45:11 - AP=1.6, GAIN= 0 db, SHUTTER=1/60  , 4:3, NTSC, "
     "DV25, Interlaced, AUDIO=48kHz 16 bits, Locked, offset=-1\n"
     "============\nTotal frames: 1\nDIF Blocks analysed: 1\n"
     "Audio offset: final=-1 (0 ms), max=1 (0 ms)\n",
     ""},
};

class FuzzRegression : public ::testing::TestWithParam<fuzz_case> {
 protected:
  void SetUp() override { dvlog::local_year = [] { return 2026; }; }
  void TearDown() override { dvlog::local_year = dvlog::clock_local_year; }
};

TEST_P(FuzzRegression, WholeRun) {
  const fuzz_case& c = GetParam();
  captured r = run_in_process(c.input());
  EXPECT_EQ(r.out, c.out) << c.name;
  EXPECT_EQ(r.err, c.err) << c.name;
  EXPECT_EQ(r.status, 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(cases));

}  // namespace
