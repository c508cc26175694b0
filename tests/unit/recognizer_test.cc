// The recognizer looks only at the ID bytes of the first eight DIF blocks: the
// header's section, the common ID1 of blocks 1 to 7, and the section and
// number of subcode 0-1, VAUX 0-2, the first audio and the first video block.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dv/recognizer.h"
#include "support/dif_builder.h"

using namespace dvtest;

namespace {

// The recognizer may read s[0] to s[562] only: the header's ID0 and the IDs of
// blocks 1 to 7.
constexpr size_t READ_SPAN = 563;

struct recognizer_row {
  const char* what;
  size_t offset;  // byte of a built sequence that is changed
  uint8_t value;
  bool recognised;
};

const recognizer_row recognizer_rows[] = {
    {"header ID0 0x00", 0, 0x00, true},
    {"header ID0 says subcode", 0, 0x3F, false},
    {"header ID0 says video", 0, 0x9F, false},
    {"header ID1 is not compared", 1, 0x55, true},
    {"ID1 of subcode 0", 81, 0x55, false},
    {"ID1 of subcode 1", 161, 0x55, false},
    {"ID1 of VAUX 0", 241, 0x55, false},
    {"ID1 of VAUX 1", 321, 0x55, false},
    {"ID1 of VAUX 2", 401, 0x55, false},
    {"ID1 of audio 0", 481, 0x55, false},
    {"ID1 of video 0", 561, 0x55, false},
    {"subcode 0 section", 80, 0x5F, false},
    {"subcode 0 numbered 1", 82, 1, false},
    {"subcode 1 section", 160, 0x1F, false},
    {"subcode 1 numbered 0", 162, 0, false},
    {"VAUX 0 section", 240, 0x36, false},
    {"VAUX 0 numbered 1", 242, 1, false},
    {"VAUX 1 section", 320, 0x76, false},
    {"VAUX 1 numbered 2", 322, 2, false},
    {"VAUX 2 section", 400, 0x16, false},
    {"VAUX 2 numbered 0", 402, 0, false},
    // Audio: section 0x60, or 0x6/0x7 in the low nibble whatever the section.
    {"audio ID0 0x60", 480, 0x60, true},
    {"audio ID0 0x07", 480, 0x07, true},
    {"audio ID0 0x61", 480, 0x61, true},
    {"audio ID0 0x41", 480, 0x41, false},
    {"audio ID0 0x90", 480, 0x90, false},
    {"audio numbered 1", 482, 1, false},
    // Video: section 0x80, or 0x8/0x9 in the low nibble.
    {"video ID0 0x80", 560, 0x80, true},
    {"video ID0 0x08", 560, 0x08, true},
    {"video ID0 0x09", 560, 0x09, true},
    {"video ID0 0x76", 560, 0x76, false},
    {"video ID0 0x41", 560, 0x41, false},
    {"video numbered 1", 562, 1, false},
};

TEST(Recognizer, EachRule) {
  for (const recognizer_row& row : recognizer_rows) {
    bytes s = make_sequence(3);
    ASSERT_TRUE(dvlog::is_sequence_start(s.data()));
    s[row.offset] = row.value;
    EXPECT_EQ(dvlog::is_sequence_start(s.data()), row.recognised) << row.what;
  }
}

TEST(Recognizer, BlocksAfterTheEighthAreNeverRead) {
  bytes s = make_sequence(5);
  for (size_t k = READ_SPAN; k < SEQ; ++k) s[k] = static_cast<uint8_t>(k * 131 + 17);
  EXPECT_TRUE(dvlog::is_sequence_start(s.data()));

  // In a heap block of exactly READ_SPAN bytes, the address sanitizer catches
  // any read past s[562].
  std::unique_ptr<uint8_t[]> tight(new uint8_t[READ_SPAN]);
  std::memcpy(tight.get(), s.data(), READ_SPAN);
  EXPECT_TRUE(dvlog::is_sequence_start(tight.get()));
  tight[562] = 7;  // the last byte read: the video block's number
  EXPECT_FALSE(dvlog::is_sequence_start(tight.get()));
}

}  // namespace
