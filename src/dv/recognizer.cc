#include "dv/recognizer.h"

namespace dvlog {

namespace {

// The blocks after the header, with the section type and block number each
// must carry. Block 6 (the first audio block) and block 7 (the first video
// block) are tested by their own rules.
struct expected_block {
  size_t offset;
  uint8_t section;
  uint8_t number;
};
constexpr expected_block fixed_blocks[] = {
    {SUBCODE_BLOCK_0, SECTION_SUBCODE, 0}, {SUBCODE_BLOCK_1, SECTION_SUBCODE, 1},
    {VAUX_BLOCK_0, SECTION_VAUX, 0},       {VAUX_BLOCK_1, SECTION_VAUX, 1},
    {VAUX_BLOCK_2, SECTION_VAUX, 2},
};

}  // namespace

bool is_sequence_start(const uint8_t* s) {
  if ((s[HEADER_BLOCK + ID0] & SECTION_MASK) != SECTION_HEADER) return false;

  // ID1 (sequence number and channel) is shared by blocks 1 to 7; the
  // header's own ID1 is not compared.
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  for (size_t block = 2; block <= 7; ++block)
    if (s[block * BLOCK_SIZE + ID1] != id1) return false;

  for (const expected_block& b : fixed_blocks) {
    if ((s[b.offset + ID0] & SECTION_MASK) != b.section) return false;
    if (s[b.offset + ID2] != b.number) return false;
  }
  const size_t audio0 = audio_block(0);
  if (!is_audio_block_id(s[audio0 + ID0]) || s[audio0 + ID2] != 0) return false;
  return is_video_block_id(s[FIRST_VIDEO_BLOCK + ID0]) && s[FIRST_VIDEO_BLOCK + ID2] == 0;
}

}  // namespace dvlog
