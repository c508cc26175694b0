#include "split/part_names.h"

#include <cstdio>
#include <cstring>

#include "dv/datetime.h"
#include "report/time_texts.h"

namespace dvlog {

void input_base_name(const char* path, char* out, size_t size) {
  if (path == nullptr) {
    std::snprintf(out, size, "stdin");
    return;
  }
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  const char* dot = std::strrchr(name, '.');
  // A leading dot is part of the name, not an extension.
  const size_t length = dot && dot != name ? static_cast<size_t>(dot - name) : std::strlen(name);
  std::snprintf(out, size, "%.*s", static_cast<int>(length), name);
}

void part_path(const char* directory, const char* base, int number, const frame_stamp* first, int64_t year_now,
               char* out, size_t size) {
  char date[32], time[16], when[64] = "";
  if (first && iso_date_text(first->rec_date, year_now, date, sizeof date) &&
      iso_time_text(first->rec_time, false, time, sizeof time)) {
    // Dashes for the colons: a name with colons is no name on some file systems.
    for (char* c = time; *c; ++c)
      if (*c == ':') *c = '-';
    std::snprintf(when, sizeof when, "-%s_%s", date, time);
  }
  std::snprintf(out, size, "%s/%s-%03d%s.dv", directory, base, number, when);
}

}  // namespace dvlog
