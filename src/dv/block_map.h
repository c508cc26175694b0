// Where each video DIF block of a DV25 frame lies in the picture.
//
// The picture is cut into macroblocks: in 625/50 (4:2:0) squares of 16x16
// pixels; in 525/60 (4:1:1) strips of 32x8, but 16x16 squares in the last 16
// columns. Macroblocks are grouped into superblocks of 27, five superblocks
// across (columns of 144 pixels) and one row of superblocks per DIF sequence
// (48 lines: 10 rows in 525/60, 12 in 625/50). Inside a superblock the
// macroblocks are numbered down the first column, up the next, and so on:
// columns of 3 squares in 625/50, of 6 strips in 525/60, where the superblocks
// of columns 1 and 3 begin with the lower half of a column of strips that the
// superblock on their left began, and column 4 ends in 16x16 squares.
//
// A video DIF block holds one compressed macroblock; five blocks in a row are a
// video segment, whose macroblocks come from five superblocks scattered over
// the picture, so that a dropout along the tape spreads over the picture as
// single blocks rather than a hole. Segment k of sequence i holds macroblock k
// of the superblocks (row, column) = ((i + 2) mod n, 2), ((i + 6) mod n, 1),
// ((i + 8) mod n, 3), (i, 0), ((i + 4) mod n, 4).
#pragma once

#include <cstdint>

#include "dv/dif.h"
#include "dv/system.h"

namespace dvlog {

constexpr int DV25_WIDTH = 720;
constexpr int DV25_HEIGHT[2] = {480, 576};  // by system: 525/60, 625/50

// Pixels of a macroblock in the picture.
struct picture_rect {
  int16_t x, y, width, height;
};

constexpr int SEGMENT_BLOCKS = 5;     // video blocks in a video segment
constexpr int SUPERBLOCK_WIDTH = 144;  // pixels
constexpr int SUPERBLOCK_HEIGHT = 48;  // lines

// For the m-th block of a segment: its superblock's column, and how many
// superblock rows below the sequence's own row it lies (modulo the rows).
constexpr int SEGMENT_COLUMN[SEGMENT_BLOCKS] = {2, 1, 3, 0, 4};
constexpr int SEGMENT_ROW_SHIFT[SEGMENT_BLOCKS] = {2, 6, 8, 0, 4};

// 525/60: the column of 32-pixel strips each superblock column begins in, and
// how far down the serpentine its first macroblock is (the lower half of a
// shared column: three strips).
constexpr int STRIP_COLUMN_START[SEGMENT_BLOCKS] = {0, 4, 9, 13, 18};
constexpr int STRIP_START[SEGMENT_BLOCKS] = {0, 3, 0, 3, 0};
constexpr int STRIP_COLUMNS = 22;  // 32-pixel columns; the 16 columns after them hold squares

// The macroblock that video block `video_block` (0 to 134, in transmission
// order) of DIF sequence `sequence` holds, for system 0 (525/60) or 1
// (625/50). Any sequence number is taken modulo the system's sequences.
constexpr picture_rect dv25_macroblock(uint8_t system, unsigned sequence, int video_block) {
  const int rows = system_of(system).sequences_per_frame;
  const int k = (video_block < 0 ? 0 : video_block % VIDEO_BLOCKS) / SEGMENT_BLOCKS;  // 0 to 26
  const int m = (video_block < 0 ? 0 : video_block) % SEGMENT_BLOCKS;
  const int column = SEGMENT_COLUMN[m];
  const int top = static_cast<int>((sequence + static_cast<unsigned>(SEGMENT_ROW_SHIFT[m])) % static_cast<unsigned>(rows)) *
                  SUPERBLOCK_HEIGHT;
  if (system & 1) {
    const int c = k / 3, r = c % 2 == 0 ? k % 3 : 2 - k % 3;
    return {static_cast<int16_t>(column * SUPERBLOCK_WIDTH + 16 * c), static_cast<int16_t>(top + 16 * r), 16, 16};
  }
  const int q = k + STRIP_START[column];
  const int c = q / 6, r = c % 2 == 0 ? q % 6 : 5 - q % 6;
  const int strip_column = STRIP_COLUMN_START[column] + c;
  if (strip_column >= STRIP_COLUMNS)  // the squares down the right edge, three a superblock
    return {static_cast<int16_t>(32 * STRIP_COLUMNS), static_cast<int16_t>(top + 16 * r), 16, 16};
  return {static_cast<int16_t>(32 * strip_column), static_cast<int16_t>(top + 8 * r), 32, 8};
}

}  // namespace dvlog
