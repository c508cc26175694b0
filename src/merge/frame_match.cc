#include "merge/frame_match.h"

#include "dv/dv_meta.h"
#include "dv/datetime.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// Both read a word: equal or not. Neither or only one: no word.
enum class word_match { none, equal, differ };
word_match match_words(uint32_t a, uint32_t b, bool (*read)(uint32_t)) {
  if (!read(a) || !read(b)) return word_match::none;
  return a == b ? word_match::equal : word_match::differ;
}

}  // namespace

likeness compare_frames(const frame_entry& a, const frame_entry& b) {
  const word_match tc = match_words(a.timecode, b.timecode, has_time);
  if (tc == word_match::differ || match_words(a.rec_date, b.rec_date, has_date) == word_match::differ ||
      match_words(a.rec_time, b.rec_time, has_time) == word_match::differ)
    return likeness::different;
  const unsigned both = a.content_read & b.content_read;
  bool content_agrees = false;
  for (int n = 0; n < MAX_SEQUENCE_NUMBERS; ++n) {
    if (!(both >> n & 1)) continue;
    if (a.content[n] != b.content[n]) return likeness::different;
    content_agrees = true;
  }
  return tc == word_match::equal || content_agrees ? likeness::same : likeness::unknown;
}

frame_key key_of(const frame_entry& f) {
  return {has_time(f.timecode) ? f.timecode : NO_INFO, has_date(f.rec_date) ? f.rec_date : NO_INFO,
          has_time(f.rec_time) ? f.rec_time : NO_INFO};
}

void merge_key(frame_key& a, const frame_key& b) {
  if (a.timecode == NO_INFO) a.timecode = b.timecode;
  if (a.rec_date == NO_INFO) a.rec_date = b.rec_date;
  if (a.rec_time == NO_INFO) a.rec_time = b.rec_time;
}

bool timecode_follows(uint32_t from, uint32_t to, uint8_t system) {
  const int fps = system_of(system).frames_per_second;
  return is_next_timecode(from, to, fps, false) || (fps == 30 && is_next_timecode(from, to, fps, true));
}

}  // namespace dvlog
