// dvlog on DV50 and DVCPRO HD streams made by ffmpeg at test time, whose
// frames span two or four channels of 10 (NTSC) or 12 (PAL) DIF sequences
// each. Once the timecode is blanked, frames are counted from sequences: the
// count must still match ffprobe's and the audio verdict must not change.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

constexpr uint8_t TIMECODE = 0x13;  // pack ID
const std::string BROKEN = "Timecode is broken, switch to diff blocks for audio/frame count\n";

struct stream_kind {
  const char* name;
  const char* size;  // of the picture given to ffmpeg
  bool pal;
  int channels;  // sequence runs in a frame
  int frames;
};

// ffmpeg picks the signal type from the picture size and the rate: 720 wide
// in 4:2:2 is DV50, 1080 lines DVCPRO HD 1080i (1280 wide in NTSC, 1440 in PAL).
const stream_kind DV50_NTSC{"dv50_ntsc", "720x480", false, 2, 29};
const stream_kind DV50_PAL{"dv50_pal", "720x576", true, 2, 10};
const stream_kind HD1080_NTSC{"hd1080_ntsc", "1280x1080", false, 4, 12};
const stream_kind HD1080_PAL{"hd1080_pal", "1440x1080", true, 4, 10};

size_t sequences_per_frame(const stream_kind& k) { return (k.pal ? 12 : 10) * static_cast<size_t>(k.channels); }

// The number after "Total frames: " in a log, or -1.
int total_frames(const std::string& log) {
  const size_t at = log.find("Total frames: ");
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + 14);
}

// The last line of a log: "Audio is locked" or the audio offsets.
std::string verdict(std::string log) {
  if (!log.empty() && log.back() == '\n') log.pop_back();
  return log.substr(log.rfind('\n') + 1);  // npos + 1: the whole text
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Sets the time of every timecode pack from frame `from` (counted from 0) to
// all ones, the value of a pack that holds no time. The timecode sits in the
// two subcode blocks of every sequence of every channel, each block holding
// six 8-byte sync blocks from its byte 3 whose last five bytes are a pack.
void blank_timecode(bytes& dv, const stream_kind& k, int from) {
  for (size_t seq = 0; seq + SEQ <= dv.size(); seq += SEQ) {
    if (seq / SEQ / sequences_per_frame(k) < static_cast<size_t>(from)) continue;
    for (size_t block = 1; block <= 2; ++block)
      for (size_t sync = 0; sync < 6; ++sync) {
        uint8_t* p = &dv[seq + block * 80 + 3 + 8 * sync + 3];
        if (p[0] == TIMECODE) std::fill(p + 1, p + 5, 0xFF);
      }
  }
}

class MultiChannel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir = new temp_dir; }
  static void TearDownTestSuite() {
    made.clear();
    delete dir;
    dir = nullptr;
  }
  void SetUp() override {
    int status = -1;
    shell_output("command -v ffmpeg && command -v ffprobe", &status);
    if (status != 0) GTEST_SKIP() << "ffmpeg or ffprobe not found: the multi-channel tests need them";
  }

  struct intact {
    bytes dv;
    tool_run run;  // of dvlog on it
  };

  // The stream of kind k, made once per run of the suite, and dvlog's log of it.
  static const intact& make(const stream_kind& k) {
    auto found = made.find(k.name);
    if (found != made.end()) return found->second;
    // Frames are set by duration: -frames:v drops the last ones for want of audio.
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.6f", k.frames * (k.pal ? 0.04 : 1001.0 / 30000));
    const std::string path = dir->file(std::string(k.name) + ".dv");
    const std::string command =
        std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=") + k.size +
        ":rate=" + (k.pal ? "25" : "30000/1001") + " -f lavfi -i sine=sample_rate=48000 -t " + duration +
        " -c:v dvvideo -pix_fmt yuv422p -c:a pcm_s16le -ac 2 -timecode 01:20:10:05 -f dv " + shell_quote(path);
    int status = -1;
    shell_output(command, &status);
    EXPECT_EQ(status, 0) << command;
    EXPECT_EQ(ffprobe_frames(path), k.frames) << "ffmpeg did not make the frames asked for";
    intact& i = made[k.name];
    i.dv = read_file(path);
    i.run = run_tool({path});
    return i;
  }

  static temp_dir* dir;
  static std::map<std::string, intact> made;
};
temp_dir* MultiChannel::dir;
std::map<std::string, MultiChannel::intact> MultiChannel::made;

TEST_F(MultiChannel, BlankedTimecodeCountsFramesFromSequences) {
  struct row {
    const stream_kind& kind;
    int from;  // first frame with a blank timecode
  };
  const row rows[] = {{DV50_NTSC, 10},  {DV50_NTSC, 0},   {DV50_PAL, 5},   {DV50_PAL, 0},
                      {HD1080_NTSC, 6}, {HD1080_NTSC, 0}, {HD1080_PAL, 5}, {HD1080_PAL, 0}};
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.kind.name) + " blanked from frame " + std::to_string(r.from));
    const intact& clean = make(r.kind);
    // Every frame holds `channels` runs of sequences.
    ASSERT_EQ(clean.dv.size(), r.kind.frames * sequences_per_frame(r.kind) * SEQ);
    EXPECT_EQ(total_frames(clean.run.out), r.kind.frames) << clean.run.out;
    EXPECT_EQ(count_of(clean.run.out, BROKEN), 0u) << clean.run.out;
    ASSERT_EQ(verdict(clean.run.out).rfind("Audio", 0), 0u) << clean.run.out;

    bytes dv = clean.dv;
    blank_timecode(dv, r.kind, r.from);
    const std::string path = dir->write(std::string(r.kind.name) + "_from" + std::to_string(r.from) + ".dv", dv);
    const tool_run run = run_tool({path});
    EXPECT_EQ(count_of(run.out, BROKEN), 1u) << run.out;
    EXPECT_EQ(total_frames(run.out), ffprobe_frames(path)) << run.out;
    EXPECT_EQ(verdict(run.out), verdict(clean.run.out)) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

}  // namespace
}  // namespace dvtest

namespace dvtest {
namespace {

// DVCPRO HD 720p: 60 (or 50) pictures a second of two channels each, under a
// timecode of 30 (or 25). dvlog's frame is the timecode's, a pair of pictures,
// whether counted by timecode or, once the timecode is blanked, from
// sequences: half the pictures ffprobe counts, and no sequence missing.
// ffmpeg's muxer takes no audio with 720p.
TEST(MultiChannel720p, FramesArePairsOfPictures) {
  temp_dir dir;
  for (const bool pal : {false, true}) {
    SCOPED_TRACE(pal ? "720p50" : "720p60");
    const std::string path = dir.file(pal ? "p50.dv" : "p60.dv");
    int status = -1;
    shell_output(std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=960x720:rate=") +
                     (pal ? "50" : "60000/1001") + " -t 1 -c:v dvvideo -pix_fmt yuv422p -timecode 01:00:00:00 -f dv " +
                     shell_quote(path),
                 &status);
    ASSERT_EQ(status, 0);
    const int pictures = ffprobe_frames(path);
    ASSERT_EQ(pictures, pal ? 50 : 60);
    bytes dv = read_file(path);
    const size_t per_frame = (pal ? 12 : 10) * 2 * 2;
    for (const int blank_from : {-1, 10, 0}) {
      if (blank_from >= 0)
        for (size_t seq = per_frame * static_cast<size_t>(blank_from) * SEQ; seq < dv.size(); seq += SEQ)
          for (size_t sync = 0; sync < 12; ++sync) {
            uint8_t* p = &dv[seq + (1 + sync / 6) * 80 + 6 + 8 * (sync % 6)];
            if (p[0] == TIMECODE) std::fill(p + 1, p + 5, 0xFF);
          }
      const tool_run run = run_tool({"--damage", dir.write("blanked.dv", dv)});
      EXPECT_EQ(total_frames(run.out), pictures / 2) << "blanked from " << blank_from << "\n" << run.out;
      EXPECT_NE(run.out.find("DIF sequences missing: 0\n"), std::string::npos) << run.out;
    }
  }
}

}  // namespace
}  // namespace dvtest
