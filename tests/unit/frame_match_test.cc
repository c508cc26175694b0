// Whether two reads are one tape frame: compared only in what both read.

#include <gtest/gtest.h>

#include "dv/dv_meta.h"
#include "merge/frame_match.h"

namespace dvlog {
namespace {

// A read: its timecode, date and time words, and its content by sequence
// number (0: not read right).
struct read {
  uint32_t timecode, date, time;
  uint16_t content[3];
};

frame_entry entry(const read& r) {
  frame_entry f{};
  f.timecode = r.timecode, f.rec_date = r.date, f.rec_time = r.time;
  for (int n = 0; n < 3; ++n) {
    f.content[n] = r.content[n];
    if (r.content[n] != 0) f.content_read |= static_cast<uint16_t>(1u << n);
  }
  return f;
}

TEST(FrameMatch, ComparesWhatBothRead) {
  constexpr uint32_t TC = 0x01201005, DATE = 0x00260610, TIME = 0x00451411;
  struct row { read a, b; likeness want; };
  const row rows[] = {
      {{TC, DATE, TIME, {1, 2, 3}}, {TC, DATE, TIME, {1, 2, 3}}, likeness::same},
      {{TC, DATE, TIME, {0, 0, 0}}, {TC, NO_INFO, NO_INFO, {0, 0, 0}}, likeness::same},  // the timecode alone
      {{TIME_BLANK, DATE, TIME, {1, 2, 0}}, {TC, DATE, TIME, {0, 2, 3}}, likeness::same},  // content where both read
      {{TC, DATE, TIME, {1, 2, 3}}, {TC + 1, DATE, TIME, {1, 2, 3}}, likeness::different},
      {{TC, DATE, TIME, {1, 2, 3}}, {TC, DATE + 1, TIME, {1, 2, 3}}, likeness::different},
      {{TC, DATE, TIME, {1, 2, 3}}, {TC, DATE, TIME, {1, 9, 3}}, likeness::different},
      {{NO_INFO, DATE, TIME, {1, 0, 0}}, {NO_INFO, DATE, TIME, {0, 2, 3}}, likeness::unknown},  // nothing in common
      {{NO_INFO, DATE_BLANK, NO_INFO, {0, 0, 0}}, {TC, DATE, TIME, {1, 2, 3}}, likeness::unknown},
  };
  for (const row& r : rows) {
    EXPECT_EQ(compare_frames(entry(r.a), entry(r.b)), r.want) << std::hex << r.a.timecode << " " << r.b.timecode;
    EXPECT_EQ(compare_frames(entry(r.b), entry(r.a)), r.want);
  }
}

}  // namespace
}  // namespace dvlog
