// Recording starts: the audio source control pack (0x51) may sit in any of the
// nine audio blocks of a sequence; its REC ST flag (top bit of PC2) is 0 in
// the frames that begin a recording. The blocks are walked until the pack is
// found once in a frame; a block that is not an audio block is warned about
// and skipped.
#include <gtest/gtest.h>

#include <sstream>

#include "support/capture.h"
#include "texts/time_texts.h"

using namespace dvtest;

namespace {

constexpr char WARNING_90[] = "Warning: got 90 instead of audio block\n";

// The line for a frame with timecode frame number f, recorded on 2010-06-`day`.
std::string started(int f, int day) {
  return "00h 00m 00s 0" + std::to_string(f) + "f / Sat 2010-06-" + std::to_string(day) +
         " 14:45:11 +09:00 - New recording";
}

// Audio block j is DIF block 6 + 16 j; its ID0 is the block's first byte.
uint8_t& audio_id0(uint8_t* s, int j) { return s[(6 + 16 * j) * 80]; }

struct start_row {
  const char* what;
  bool pal;
  bool timecode;  // else frames are counted from sequences
  void (*put)(uint8_t* s, size_t frame, size_t index_in_frame);
  std::vector<std::string> lines;
  int warnings;
};

const start_row start_rows[] = {
    {"start pack in audio block 3 of every sequence", false, true,
     [](uint8_t* s, size_t, size_t) { put_audio_pack(s, 3, audio_control_pack(true)); },
     {started(0, 26), started(1, 27), started(2, 28)}, 0},
    {"start pack from the fifth sequence of frame 1 on", false, true,
     [](uint8_t* s, size_t frame, size_t k) {
       if (frame == 1 && k >= 4) put_audio_pack(s, 8, audio_control_pack(true));
     },
     {started(1, 27)}, 0},
    // In frame 0 the pack without the flag, met first, ends the walk for the frame.
    {"pack without the flag ends the walk", false, true,
     [](uint8_t* s, size_t frame, size_t k) {
       if (frame == 0 && k == 0) put_audio_pack(s, 2, audio_control_pack(false));
       put_audio_pack(s, 5, audio_control_pack(true));
     },
     {started(1, 27), started(2, 28)}, 0},
    // Only the first sequence of each frame is walked: one warning per frame.
    {"audio block 4 holds a video block", false, true,
     [](uint8_t* s, size_t, size_t) {
       audio_id0(s, 4) = 0x90;
       put_audio_pack(s, 6, audio_control_pack(true));
     },
     {started(0, 26), started(1, 27), started(2, 28)}, 3},
    // Never found, so every one of the 29 analysed sequences is walked.
    {"start pack in a block that is not an audio block", false, true,
     [](uint8_t* s, size_t, size_t) {
       audio_id0(s, 4) = 0x90;
       put_audio_pack(s, 4, audio_control_pack(true));
     },
     {}, 29},
    {"frames counted from sequences", true, false,
     [](uint8_t* s, size_t, size_t) { put_audio_pack(s, 0, audio_control_pack(true)); },
     {started(0, 26), started(0, 26), started(0, 26)}, 0},
};

// Three frames, each with its timecode (frame number f) and date (day 26 + f).
// All but the last sequence are analysed.
bytes start_stream(const start_row& row) {
  const size_t per_frame = row.pal ? 12 : 10;
  bytes stream = make_stream(3 * per_frame, row.pal);
  for (size_t i = 0; i < 3 * per_frame; ++i) {
    uint8_t* s = &stream[i * SEQ];
    const size_t frame = i / per_frame;
    const int day = row.timecode ? 26 + static_cast<int>(frame) : 26;
    if (row.timecode) put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, static_cast<int>(frame)));
    put_vaux_pack(s, 0, 0, video_source_pack(row.pal));
    put_vaux_pack(s, 0, 1, rec_date_pack(0xC9, day, 6, 6, 10));
    put_vaux_pack(s, 0, 2, rec_time_pack(14, 45, 11));
    row.put(s, frame, i % per_frame);
  }
  return stream;
}

std::vector<std::string> recording_lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.find("New recording") != std::string::npos) lines.push_back(line);
  return lines;
}

TEST(RecordingStart, OnePerFrameWithWarnings) {
  year_for_runs = [] { return int64_t{2024}; };
  for (const start_row& row : start_rows) {
    const captured r = run_in_process(start_stream(row));
    EXPECT_EQ(recording_lines(r.out), row.lines) << row.what;
    std::string warnings;
    for (int k = 0; k < row.warnings; ++k) warnings += WARNING_90;
    EXPECT_EQ(r.err, warnings) << row.what;
  }
  year_for_runs = dvlog::clock_local_year;
}

}  // namespace
