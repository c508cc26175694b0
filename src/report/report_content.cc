#include "report/report_content.h"

#include <algorithm>

namespace dvlog {

report_content::report_content(year_source year_of_now, int rows)
    : year(year_of_now),
      slices(new timeline),
      recordings(rows),
      runs(rows),
      statuses(rows),
      jumps(rows),
      skipped(rows),
      parts(rows) {}

const char* report_content::position_text(int32_t frame, char* out, size_t size) const {
  return duration_text(std::max<int64_t>(int64_t{frame} - slices->first_frame(), 0), system(), out, size);
}

}  // namespace dvlog
