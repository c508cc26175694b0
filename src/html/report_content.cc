#include "html/report_content.h"

#include <algorithm>
#include <cstdio>

namespace dvlog {

report_content::report_content(year_source year_of_now, int rows)
    : year(year_of_now),
      slices(new timeline),
      recordings(rows),
      runs(rows),
      statuses(rows),
      jumps(rows),
      skipped(rows),
      capture(rows),
      parts(rows) {}

const char* report_content::position_text(int32_t frame, char* out, size_t size) const {
  return duration_text(std::max<int64_t>(int64_t{frame} - slices->first_frame(), 0), system(), out, size);
}

const char* capture_kind_name(capture_kind kind) {
  switch (kind) {
    case capture_kind::dropped:
      return "dropped";
    case capture_kind::repeated:
      return "repeated";
    case capture_kind::retake:
      return "retake";
    case capture_kind::sequences_repeated:
      return "DIF sequences repeated";
    case capture_kind::off_speed:
      break;
  }
  return "not at playback speed";
}

const char* capture_details(const capture_row& row, char* out, size_t size) {
  char tc[16];
  switch (row.kind) {
    case capture_kind::dropped:
      std::snprintf(out, size, "timecode from %s", timecode_text(row.other, tc, sizeof tc));
      return out;
    case capture_kind::retake:
      if (row.by_content)
        std::snprintf(out, size, "back from frame %d, told by the frames' content", row.last_frame);
      else
        std::snprintf(out, size, "back from %s (frame %d)", timecode_text(row.other, tc, sizeof tc), row.last_frame);
      return out;
    case capture_kind::sequences_repeated:
      std::snprintf(out, size, "sent twice within the frame");
      return out;
    default:
      break;
  }
  const int n = std::snprintf(out, size, "to %s (frame %d)", timecode_text(row.other, tc, sizeof tc), row.last_frame);
  // SPEED and DRF of the AAUX source control pack: the deck's speed, and
  // forward or reverse.
  if (row.kind == capture_kind::off_speed && n > 0 && static_cast<size_t>(n) < size && row.speed != NO_INFO8)
    std::snprintf(out + n, size - static_cast<size_t>(n), "; speed 0x%02X, %s", row.speed,
                  row.forward ? "forward" : "reverse");
  return out;
}

}  // namespace dvlog
