#include "report/camera_texts.h"

#include <cmath>
#include <cstdio>

namespace dvlog {

namespace {

// The iris code counts eighths of a stop from f/1.0 at 0xC0: f = 2^(n/8).
constexpr uint8_t IRIS_BASE = 0xC0;
constexpr uint8_t IRIS_CLOSED_LIMIT = 0xBF;  // codes up to here are not apertures
constexpr uint8_t IRIS_UNKNOWN = 0xFF;
constexpr double EIGHTH_STOP = 1.0905077326652577;  // 2^(1/8)

// Shutter codes count 1/15600 s; the usual speeds carry their customary
// rounded denominators.
struct shutter_speed {
  uint16_t code;
  int denominator;
};
constexpr shutter_speed named_speeds[] = {
    {1, 16000}, {2, 8000},  {3, 6000},  {4, 4000},  {5, 3000},  {6, 2500},  {7, 2200},  {8, 2000},
    {9, 1750},  {10, 1500}, {11, 1400}, {12, 1300}, {13, 1200}, {14, 1100}, {15, 1050}, {16, 1000},
    {17, 900},  {20, 800},  {22, 700},  {31, 500},  {62, 250},  {74, 210},  {87, 180},  {174, 90},
};
constexpr uint16_t SHUTTER_UNIT_DENOMINATOR = 15600;
constexpr uint16_t SHUTTER_BLANK = 0x7FFF;

int shutter_denominator(uint16_t code) {
  for (const shutter_speed& s : named_speeds)
    if (s.code == code) return s.denominator;
  return (2 * SHUTTER_UNIT_DENOMINATOR + code) / (2 * code);  // 15600 / code, halves up
}

}  // namespace

const char* aperture_text(uint8_t iris) {
  static char text[8];
  if (iris <= IRIS_CLOSED_LIMIT) return "inv";
  if (iris == IRIS_UNKNOWN) return "?? ";
  // Markings of the usual f-stop scale where the exact power reads otherwise.
  if (iris == 0xC6) return "1.6";
  if (iris == 0xDF) return "14 ";
  if (iris == 0xE0) return "15 ";
  const float f = static_cast<float>(std::pow(EIGHTH_STOP, iris - IRIS_BASE));
  if (f > 10.0f)
    std::snprintf(text, sizeof text, "%d ", static_cast<int>(f + 0.5));
  else
    std::snprintf(text, sizeof text, "%1.1f", f);
  return text;
}

const char* gain_text(uint8_t gain) {
  static char text[8];
  if (gain < 1 || gain > 14) return "??";
  std::snprintf(text, sizeof text, "%2d db", 3 * (gain - 1));
  return text;
}

const char* shutter_text(uint16_t shutter) {
  static char text[16];
  if (shutter == 0) return "invalid";
  if (shutter >= SHUTTER_BLANK) return "??????";
  char fraction[12];
  std::snprintf(fraction, sizeof fraction, "1/%d", shutter_denominator(shutter));
  std::snprintf(text, sizeof text, "%-6s", fraction);
  return text;
}

}  // namespace dvlog
