// The place of each video block of a DV25 frame in the picture.
#include <gtest/gtest.h>

#include <vector>

#include "dv/block_map.h"

using namespace dvlog;

namespace {

// Placements seen in ffmpeg's decoding of its own testsrc frames: the DC
// coefficients of one video block were changed and the decoded luma compared
// with the untouched frame's; the changed pixels fill exactly this rectangle.
TEST(BlockMap, PlacementsAsFfmpegDecodesThem) {
  const struct {
    uint8_t system;
    unsigned sequence;
    int block;
    picture_rect at;
  } rows[] = {
      {0, 0, 0, {288, 96, 32, 8}},   {0, 0, 1, {128, 312, 32, 8}},   {0, 0, 2, {416, 408, 32, 8}},
      {0, 0, 124, {704, 192, 16, 16}}, {0, 3, 77, {512, 88, 32, 8}}, {0, 9, 134, {704, 176, 16, 16}},
      {0, 7, 59, {608, 48, 32, 8}},
      {1, 0, 0, {288, 96, 16, 16}},  {1, 0, 1, {144, 288, 16, 16}},  {1, 0, 18, {16, 32, 16, 16}},
      {1, 5, 63, {64, 240, 16, 16}}, {1, 11, 134, {704, 176, 16, 16}}, {1, 8, 100, {384, 512, 16, 16}},
  };
  for (const auto& r : rows) {
    const picture_rect p = dv25_macroblock(r.system, r.sequence, r.block);
    EXPECT_EQ(p.x, r.at.x) << int(r.system) << " " << r.sequence << " " << r.block;
    EXPECT_EQ(p.y, r.at.y) << int(r.system) << " " << r.sequence << " " << r.block;
    EXPECT_EQ(p.width, r.at.width) << int(r.system) << " " << r.sequence << " " << r.block;
    EXPECT_EQ(p.height, r.at.height) << int(r.system) << " " << r.sequence << " " << r.block;
  }
}

// Every pixel of the picture belongs to the macroblock of exactly one video
// block of the frame.
TEST(BlockMap, TilesThePicture) {
  for (uint8_t system : {0, 1}) {
    const int height = DV25_HEIGHT[system];
    std::vector<int> covered(static_cast<size_t>(DV25_WIDTH * height));
    for (int s = 0; s < system_of(system).sequences_per_frame; s++)
      for (int b = 0; b < VIDEO_BLOCKS; b++) {
        const picture_rect p = dv25_macroblock(system, static_cast<unsigned>(s), b);
        ASSERT_LE(p.x + p.width, DV25_WIDTH);
        ASSERT_LE(p.y + p.height, height);
        for (int y = p.y; y < p.y + p.height; y++)
          for (int x = p.x; x < p.x + p.width; x++) covered[static_cast<size_t>(y * DV25_WIDTH + x)]++;
      }
    for (int c : covered) ASSERT_EQ(c, 1) << "system " << int(system);
  }
}

}  // namespace
