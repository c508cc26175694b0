#include "dv/camera.h"

#include <cmath>

namespace dvlog {

namespace {

constexpr uint8_t IRIS_BASE = 0xC0;
constexpr uint8_t IRIS_CLOSED_LIMIT = 0xBF;
constexpr uint8_t IRIS_UNKNOWN = 0xFF;
constexpr double EIGHTH_STOP = 1.0905077326652577;  // 2^(1/8)

// Codes marked with the usual f-stop scale where the exact power reads
// otherwise.
struct marked_stop {
  uint8_t code;
  float value;
  bool whole;
};
constexpr marked_stop marked_stops[] = {{0xC6, 1.6f, false}, {0xDF, 14, true}, {0xE0, 15, true}};

// The usual shutter speeds carry customary rounded denominators.
struct shutter_speed {
  uint16_t code;
  int denominator;
};
constexpr shutter_speed named_speeds[] = {
    {1, 16000}, {2, 8000},  {3, 6000},  {4, 4000},  {5, 3000},  {6, 2500},  {7, 2200},  {8, 2000},
    {9, 1750},  {10, 1500}, {11, 1400}, {12, 1300}, {13, 1200}, {14, 1100}, {15, 1050}, {16, 1000},
    {17, 900},  {20, 800},  {22, 700},  {31, 500},  {62, 250},  {74, 210},  {87, 180},  {174, 90},
};
constexpr int SHUTTER_UNIT_DENOMINATOR = 15600;

}  // namespace

f_number aperture_of(uint8_t iris) {
  if (iris <= IRIS_CLOSED_LIMIT) return {f_number::INVALID, 0, false};
  if (iris == IRIS_UNKNOWN) return {f_number::UNKNOWN, 0, false};
  for (const marked_stop& m : marked_stops)
    if (m.code == iris) return {f_number::VALUE, m.value, m.whole};
  const float f = static_cast<float>(std::pow(EIGHTH_STOP, iris - IRIS_BASE));
  if (f > 10.0f) return {f_number::VALUE, static_cast<float>(static_cast<int>(f + 0.5)), true};
  return {f_number::VALUE, f, false};
}

int shutter_denominator_of(uint16_t shutter) {
  if (shutter == 0 || shutter >= SHUTTER_BLANK) return -1;
  for (const shutter_speed& s : named_speeds)
    if (s.code == shutter) return s.denominator;
  return (2 * SHUTTER_UNIT_DENOMINATOR + shutter) / (2 * shutter);  // 15600 / code, halves up
}

}  // namespace dvlog
