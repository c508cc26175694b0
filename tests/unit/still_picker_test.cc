// Which frames become pictures: the picker fed frames as the frame model
// hands them on, with or without their bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dv/dif.h"
#include "picture/still_picker.h"
#include "support/dif_builder.h"

using namespace dvlog;

namespace {

constexpr int NTSC_SEQUENCES = 10;

// An NTSC DV25 frame of the test builder, every video block intact.
dvtest::bytes ntsc_frame() {
  dvtest::bytes f = dvtest::make_stream(NTSC_SEQUENCES);
  for (int s = 0; s < NTSC_SEQUENCES; s++) {
    uint8_t* seq = &f[static_cast<size_t>(s) * SEQUENCE_SIZE];
    seq[HEADER_BLOCK + BLOCK_ID_SIZE] = 0x3F;  // DSF 0: 525/60
    for (int k = 0; k < VIDEO_BLOCKS; k++) seq[video_block(k) + VIDEO_STA] = 0;
  }
  return f;
}

struct feed {
  picture_worker worker;
  still_picker picker{worker};
  int32_t recording = 1;
  int32_t number = 0;

  // Hands on the next frame: its bytes when given, whether it begins a
  // recording (after the first), damaged video blocks.
  void frame(const dvtest::bytes* bytes, bool starts = false, int64_t damaged = 0) {
    ++number;
    recording += starts;
    if (bytes)
      for (size_t at = 0; at < bytes->size(); at += SEQUENCE_SIZE)
        picker.sequence(bytes->data() + at, number);
    tape_frame f{};
    f.number = number;
    f.offset = static_cast<uint64_t>(number - 1) * NTSC_SEQUENCES * SEQUENCE_SIZE;
    f.end = f.offset + NTSC_SEQUENCES * SEQUENCE_SIZE;
    f.sequences = f.sequences_expected = bytes ? NTSC_SEQUENCES : 0;
    f.stamp = {NO_INFO, NO_INFO, NO_INFO, NO_INFO8};
    f.format = {0, 0, 0, 0, 0, 2};
    f.damage.video_errors = damaged;
    picker.frame(f, recording);
  }

  // The kept stills as (kind, frame), in order.
  std::vector<std::pair<still_kind, int32_t>> kept() {
    picker.finish();
    std::vector<std::pair<still_kind, int32_t>> out;
    for (int i = 0; i < picker.count(); i++) out.push_back({picker.at(i).kind, picker.at(i).frame});
    return out;
  }
};

using K = still_kind;

// Each recording's first frame; a damaged run gives the frame before it and
// its worst.
TEST(StillPicker, RecordingsAndARun) {
  const dvtest::bytes clean = ntsc_frame();
  feed f;
  f.frame(&clean);
  f.frame(&clean);
  f.frame(&clean, true);
  f.frame(&clean, false, 3);
  f.frame(&clean, false, 40);  // the worst
  f.frame(&clean, false, 5);
  f.frame(&clean);
  f.frame(&clean, true);
  f.frame(&clean);
  EXPECT_EQ(f.kept(), (std::vector<std::pair<K, int32_t>>{
                          {K::recording, 1}, {K::recording, 3}, {K::before_damage, 3}, {K::worst_damage, 5},
                          {K::recording, 8}}));
  for (int i = 0; i < f.picker.count(); i++) {
    const still& s = f.picker.at(i);
    ASSERT_EQ(s.failure, nullptr) << i;
    EXPECT_EQ(s.width, STILL_WIDTH_4_3);
    EXPECT_EQ(f.picker.jpeg(s)[0], 0xFF);  // a JPEG's SOI marker
    EXPECT_EQ(f.picker.jpeg(s)[1], 0xD8);
    EXPECT_EQ(s.recording, s.frame < 8 ? (s.frame < 3 ? 1 : 2) : 3);
  }
  EXPECT_EQ(f.picker.at(3).run_first, 4);
  EXPECT_EQ(f.picker.at(3).run_last, 6);
  EXPECT_EQ(f.picker.at(3).run_blocks, 48);
}

// Of many runs the worst MAX_DAMAGE_RUNS are kept, whatever their order; a
// frame whose bytes never came has no picture, and says why.
TEST(StillPicker, WorstRuns) {
  feed f;
  std::vector<int64_t> damage;
  for (int i = 0; i < 3 * MAX_DAMAGE_RUNS; i++) damage.push_back((i * 37) % 101 + 1);  // distinct, scattered
  for (int64_t d : damage) {
    f.frame(nullptr);
    f.frame(nullptr, false, d);
  }
  std::vector<int64_t> sorted = damage;
  std::sort(sorted.rbegin(), sorted.rend());
  std::vector<int64_t> kept;
  for (const auto& [kind, frame] : f.kept())
    if (kind == K::worst_damage) kept.push_back(damage[static_cast<size_t>(frame / 2 - 1)]);
  EXPECT_STREQ(f.picker.at(0).failure, "its bytes were not kept");
  std::sort(kept.rbegin(), kept.rend());
  EXPECT_EQ(kept, std::vector<int64_t>(sorted.begin(), sorted.begin() + MAX_DAMAGE_RUNS));
}

// Along a long recording the pictures stay evenly spaced and no more than
// MAX_ALONG_STILLS, however long it is.
TEST(StillPicker, AlongARecording) {
  const int32_t interval = ALONG_MINUTES * 60 * 30;  // frames, at NTSC's 30 of the timecode
  for (int32_t frames : {interval - 1, 3 * interval, 61 * interval + 5, 500 * interval}) {
    feed f;
    for (int32_t i = 0; i < frames; i++) f.frame(nullptr);
    std::vector<int32_t> along;
    for (const auto& [kind, frame] : f.kept())
      if (kind == K::along) along.push_back(frame);
    ASSERT_LE(along.size(), size_t{MAX_ALONG_STILLS}) << frames;
    EXPECT_GE(along.size(), (frames - 1) / interval >= 60 ? size_t{MAX_ALONG_STILLS / 2} : size_t((frames - 1) / interval)) << frames;
    for (size_t i = 0; i < along.size(); i++)
      EXPECT_EQ(along[i] - 1, static_cast<int32_t>(i + 1) * (along[0] - 1)) << frames;
  }
}

// Each sequence is pictured at the place its number gives it, whatever order
// it came in: a frame whose sequences come in reverse is pictured as the frame
// in order; one that lacks a sequence is not.
TEST(StillPicker, SequencesAtTheirPlaces) {
  dvtest::bytes in_order = ntsc_frame(), reversed, lacking;
  for (int s = 0; s < NTSC_SEQUENCES; s++)
    for (int k = 0; k < VIDEO_BLOCKS; k++)  // each sequence a brightness of its own: the top bits of the first DC
      in_order[static_cast<size_t>(s) * SEQUENCE_SIZE + video_block(k) + BLOCK_ID_SIZE + 1] = static_cast<uint8_t>(0x18 * s);
  for (int s = NTSC_SEQUENCES - 1; s >= 0; s--) {
    const auto sequence = in_order.begin() + static_cast<long>(s * SEQUENCE_SIZE);
    reversed.insert(reversed.end(), sequence, sequence + SEQUENCE_SIZE);
    if (s != 3) lacking.insert(lacking.begin(), sequence, sequence + SEQUENCE_SIZE);
  }
  const auto picture = [](const dvtest::bytes& frame) {
    feed f;
    f.frame(&frame);
    f.kept();
    const still& s = f.picker.at(0);
    EXPECT_GT(s.jpeg_size, 0u) << (s.failure ? s.failure : "");
    return std::vector<uint8_t>(f.picker.jpeg(s), f.picker.jpeg(s) + s.jpeg_size);
  };
  EXPECT_EQ(picture(reversed), picture(in_order));
  EXPECT_NE(picture(lacking), picture(in_order));
}

}  // namespace
