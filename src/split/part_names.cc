#include "split/part_names.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "dv/datetime.h"
#include "texts/time_texts.h"
#include "texts/utf8.h"

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

bool part_path(const char* directory, const char* base, int number, const frame_stamp* first, int64_t year_now,
               char* out, size_t size) {
  char date[32], time[16], when[64] = "";
  if (first && iso_date_text(first->rec_date, year_now, date, sizeof date) &&
      iso_time_text(first->rec_time, false, time, sizeof time)) {
    // Dashes for the colons: a name with colons is no name on some file systems.
    for (char* c = time; *c; ++c)
      if (*c == ':') *c = '-';
    std::snprintf(when, sizeof when, "-%s_%s", date, time);
  }
  char suffix[96];
  const int suffix_length = std::snprintf(suffix, sizeof suffix, "-%03d%s.dv", number, when);
  // A name fits in a directory entry: the input's name is shortened, never
  // cut inside a UTF-8 character, to leave room for the number and date.
  const size_t room = NAME_MAX > suffix_length ? NAME_MAX - static_cast<size_t>(suffix_length) : 0;
  const size_t base_length = utf8_prefix_length(base, std::strlen(base), room);
  const int n = std::snprintf(out, size, "%s/%.*s%s", directory, static_cast<int>(base_length), base, suffix);
  return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace dvlog
