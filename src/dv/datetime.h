// The timecode and the recording date and time: words of BCD digits, byte 0
// first (frames, seconds, minutes, hours; or zone, day, weekday and month,
// year), as the metadata record holds them.
#pragma once

#include <cstdint>

namespace dvlog {

constexpr unsigned byte_of(uint32_t word, int n) { return word >> (8 * n) & 0xFF; }

// True when both nibbles of a byte are decimal digits.
constexpr bool is_bcd(unsigned b) { return (b & 0x0F) <= 9 && (b >> 4) <= 9; }
constexpr int bcd_value(unsigned b) { return static_cast<int>((b >> 4) * 10 + (b & 0x0F)); }

// The date pack gives two digits of the year. They count back from the
// current year: read in 2010, 05 is 2005 and 99 is 1999.
constexpr int64_t full_year(unsigned yy_byte, int64_t now) {
  const int64_t yy = bcd_value(yy_byte);
  const int64_t year = now / 100 * 100 + yy;
  return yy > now % 100 ? year - 100 : year;
}

// The weekday code (top three bits of the date's month byte); 7 means none.
constexpr const char* WEEKDAY_NAMES[8] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", nullptr};
constexpr const char* weekday_name(uint32_t date) { return WEEKDAY_NAMES[byte_of(date, 2) >> 5]; }
constexpr unsigned month_byte(uint32_t date) { return byte_of(date, 2) & 0x1F; }

// The time-zone byte of the date pack: BCD hours in its low six bits, 0x40
// clear for a further half hour, 0x80 clear in daylight-saving time. Hours
// past 12 lie west. 0x3F in the low bits: no zone given.
struct time_zone {
  bool given;
  int half_hours;  // the offset from UTC, daylight saving included
  bool dst;
};
constexpr time_zone zone_of(unsigned z) {
  if ((z & 0x3F) == 0x3F) return {false, 0, false};
  int half_hours = static_cast<int>(2 * (((z >> 4) & 3) * 10 + (z & 0x0F)));
  if (!(z & 0x40)) half_hours += 1;
  if (half_hours > 24) half_hours -= 48;
  const bool dst = !(z & 0x80);
  if (dst) half_hours += 2;
  return {true, half_hours, dst};
}

// The frame byte of the recording time; 0x3F: none given.
constexpr bool has_time_frames(uint32_t time) { return byte_of(time, 0) != 0x3F; }

}  // namespace dvlog
