#include "stills/still_files.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include "texts/utf8.h"

namespace dvlog {

namespace {

constexpr unsigned REASON_OF[] = {STILL_RECORDING, STILL_ALONG, STILL_BEFORE_DAMAGE, STILL_WORST_DAMAGE};

// "00h00m04s03f": the timecode's digits as a file name may hold them.
void name_timecode(uint32_t tc, char* out, size_t size) {
  const auto digits = [&](int byte, unsigned mask) { return static_cast<unsigned>(tc >> (8 * byte) & mask); };
  if (tc == NO_INFO || tc == TIME_BLANK) {
    std::snprintf(out, size, "notimecode");
    return;
  }
  std::snprintf(out, size, "%02xh%02xm%02xs%02xf", digits(3, 0x3F), digits(2, 0x7F), digits(1, 0x7F), digits(0, 0x3F));
}

}  // namespace

int still_facts_at(const still_picker& picker, int i, const char* path, still_facts& out) {
  const still& first = picker.at(i);
  out = still_facts{path, first.failure, {first.frame, first.sequence, first.offset}, first.stamp, 0, first.recording,
                    0, 0, first.width, first.height};
  for (; i < picker.count() && picker.at(i).frame == first.frame; ++i) {
    const still& s = picker.at(i);
    out.reasons |= REASON_OF[static_cast<int>(s.kind)];
    if (s.run_first > 0) out.run_first = s.run_first, out.run_last = s.run_last;
  }
  if (first.jpeg_size == 0) out.path = nullptr;
  return i;
}

bool write_still_files(const still_picker& picker, const still_files_setup& setup, still_listener* listener) {
  bool ok = true;
  char path[4096], tc[24], suffix[64];
  // The longest name the folder takes: the input's name is shortened, never
  // inside a UTF-8 character, to leave room for the frame and timecode.
  const long folder_limit = pathconf(setup.dir, _PC_NAME_MAX);
  const size_t name_max = folder_limit > 0 ? static_cast<size_t>(folder_limit) : size_t{NAME_MAX};
  const size_t base_length = std::strlen(setup.base_name);
  safe_file_options options;
  options.kind = "still";
  options.replace = false;
  options.inputs = setup.inputs;
  options.input_count = setup.input_count;
  options.wait = setup.wait;
  for (int i = 0; i < picker.count();) {
    const still& s = picker.at(i);
    name_timecode(s.stamp.timecode, tc, sizeof tc);
    const size_t suffix_length = static_cast<size_t>(std::snprintf(suffix, sizeof suffix, "-%06d-%s.jpg", s.frame, tc));
    const size_t kept =
        utf8_prefix_length(setup.base_name, base_length, name_max > suffix_length ? name_max - suffix_length : 0);
    std::snprintf(path, sizeof path, "%s/%.*s%s", setup.dir, static_cast<int>(kept), setup.base_name, suffix);
    still_facts facts;
    i = still_facts_at(picker, i, path, facts);
    if (facts.path) {
      safe_file file(path, options, setup.err_fd);
      if (!file.ok()) {
        ok = false;
        continue;
      }
      const int error = write_all(file.fd(), reinterpret_cast<const char*>(picker.jpeg(s)), s.jpeg_size, setup.wait);
      if (error != 0) {
        const char* const parts[] = {"Could not write still ", path, ": ", error_text(error), "\n"};
        write_message(setup.err_fd, parts, std::size(parts));
      }
      if (error != 0 || !file.commit()) {
        ok = false;
        continue;
      }
    }
    if (listener) listener->still(facts);
  }
  return ok;
}

}  // namespace dvlog
