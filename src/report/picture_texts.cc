#include "report/picture_texts.h"

#include <cstdio>
#include <iterator>

namespace dvlog {

namespace {

struct named_code {
  uint8_t code;
  const char* name;
};

// Signal type (STYPE) of the video source pack.
constexpr named_code video_types[] = {
    {0x00, "DV25"},
    {0x04, "DV50"},
    {0x14, "DVCPROHD_1080i"},
    {0x18, "DVCPROHD_720p"},
};

// Display select mode of the video source control pack; the rest show as 4:3.
constexpr named_code aspects[] = {
    {2, "16:9"},
    {3, "Letterbox"},
    {7, "16:9"},
};

const char* find_name(const named_code* table, size_t size, uint8_t code) {
  for (size_t i = 0; i < size; ++i)
    if (table[i].code == code) return table[i].name;
  return nullptr;
}

}  // namespace

const char* video_type_text(uint8_t video_type) {
  static char text[16];
  if (const char* name = find_name(video_types, std::size(video_types), video_type)) return name;
  std::snprintf(text, sizeof text, "%02X", video_type);
  return text;
}

const char* aspect_text(uint8_t aspect) {
  const char* name = find_name(aspects, std::size(aspects), aspect);
  return name ? name : "4:3";
}

const char* system_text(uint8_t system) { return (system & 1) ? "PAL" : "NTSC"; }

}  // namespace dvlog
