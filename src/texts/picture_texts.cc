#include "texts/picture_texts.h"

#include <cstdio>

#include "dv/system.h"

namespace dvlog {

const char* video_type_text(uint8_t video_type, char* out, size_t size) {
  if (const signal_type* t = find_signal_type(video_type)) return t->name;
  std::snprintf(out, size, "%02X", video_type);
  return out;
}

const char* aspect_text(uint8_t aspect) { return aspect_name(aspect); }

const char* system_text(uint8_t system) { return system_of(system).name; }

}  // namespace dvlog
