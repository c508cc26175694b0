// Whether two reads are of one tape frame. Two transfers of a tape read the
// same frames, but each may have lost the subcode (timecode), the VAUX
// (recording date and time) or blocks of content that the other read. So two
// reads are compared only in what both read: any difference there tells two
// frames apart; an equal timecode, or equal content, tells one frame.
#pragma once

#include <cstdint>

#include "merge/frame_index.h"

namespace dvlog {

enum class likeness {
  different,  // something both read differs
  unknown,    // nothing both read differs, but nothing tells them one either
  same,       // nothing both read differs, and the timecode or some content agrees
};

likeness compare_frames(const frame_entry& a, const frame_entry& b);

// The timecode and recording date and time of a frame, with what was not read
// as NO_INFO, for sorting and finding frames that stand out.
struct frame_key {
  uint32_t timecode, rec_date, rec_time;

  bool operator==(const frame_key& o) const {
    return timecode == o.timecode && rec_date == o.rec_date && rec_time == o.rec_time;
  }
  bool operator<(const frame_key& o) const {
    if (timecode != o.timecode) return timecode < o.timecode;
    if (rec_date != o.rec_date) return rec_date < o.rec_date;
    return rec_time < o.rec_time;
  }
};

frame_key key_of(const frame_entry& f);
// Merges what b read and a did not into a.
void merge_key(frame_key& a, const frame_key& b);

// True when timecode `to` follows `from` by one frame at the system's rate,
// counted with or without dropped frames.
bool timecode_follows(uint32_t from, uint32_t to, uint8_t system);

}  // namespace dvlog
