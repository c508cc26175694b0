// The timecode and the recording date and time: words of BCD digits, byte 0
// first (frames, seconds, minutes, hours; or zone, day, weekday and month,
// year), as the metadata record holds them.
#pragma once

#include <cstdint>

#include "dv/dv_meta.h"

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

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
constexpr int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// True when timecode `to` is the one that follows `from`: one frame on, at
// `fps` frames a second, wrapping at 24 hours. With drop-frame timecode
// (525/60), frames 00 and 01 do not exist at the start of every minute that is
// not a multiple of ten. False when either holds digits that are no time.
constexpr bool is_next_timecode(uint32_t from, uint32_t to, int fps, bool drop_frame) {
  for (int b = 0; b < 4; ++b)
    if (!is_bcd(byte_of(from, b))) return false;
  int h = bcd_value(byte_of(from, 3)), m = bcd_value(byte_of(from, 2));
  int s = bcd_value(byte_of(from, 1)), f = bcd_value(byte_of(from, 0)) + 1;
  if (f >= fps) f = 0, ++s;
  if (s >= 60) s = 0, ++m;
  if (m >= 60) m = 0, ++h;
  if (h >= 24) h = 0;
  if (drop_frame && s == 0 && f < 2 && m % 10 != 0) f = 2;
  const uint32_t next = static_cast<uint32_t>((h / 10 << 4 | h % 10) << 24 | (m / 10 << 4 | m % 10) << 16 |
                                              (s / 10 << 4 | s % 10) << 8 | (f / 10 << 4 | f % 10));
  return next == to;
}

// The frames from 00:00:00:00 to a timecode, or -1 when it holds digits that
// are no time. Drop-frame timecode (525/60) leaves out frames 00 and 01 of
// every minute that is not a multiple of ten: 17982 frames in ten minutes.
constexpr int64_t timecode_frames(uint32_t tc, int fps, bool drop_frame) {
  for (int b = 0; b < 4; ++b)
    if (!is_bcd(byte_of(tc, b))) return -1;
  const int64_t h = bcd_value(byte_of(tc, 3)), m = bcd_value(byte_of(tc, 2));
  const int64_t s = bcd_value(byte_of(tc, 1)), f = bcd_value(byte_of(tc, 0));
  if (h > 23 || m > 59 || s > 59 || f >= fps) return -1;
  const int64_t minutes = 60 * h + m;
  const int64_t dropped = drop_frame ? 2 * (minutes - minutes / 10) : 0;
  return (minutes * 60 + s) * fps + f - dropped;
}

// Whether a time word holds a time the system can give: decimal digits,
// hours to 23, minutes and seconds to 59, frames below `fps`. A recording
// time may leave its frames out (0x3F); a timecode may not. Damaged subcode
// reads as digits past these (a timecode 01:59:60:29, a recording time
// 30:59:59): such a word is no time at all.
constexpr bool is_possible_time(uint32_t word, int fps, bool frames_optional) {
  if (!has_time(word)) return false;
  for (int b = 0; b < 4; ++b)
    if (!is_bcd(byte_of(word, b)) && !(b == 0 && frames_optional && byte_of(word, 0) == 0x3F)) return false;
  const bool frames_given = !(frames_optional && byte_of(word, 0) == 0x3F);
  return bcd_value(byte_of(word, 3)) <= 23 && bcd_value(byte_of(word, 2)) <= 59 && bcd_value(byte_of(word, 1)) <= 59 &&
         (!frames_given || bcd_value(byte_of(word, 0)) < fps);
}

// The weekday code (top three bits of the date's month byte); 7 means none.
constexpr const char* WEEKDAY_NAMES[8] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", nullptr};
constexpr const char* weekday_name(uint32_t date) { return WEEKDAY_NAMES[byte_of(date, 2) >> 5]; }
constexpr unsigned month_byte(uint32_t date) { return byte_of(date, 2) & 0x1F; }

// Whether a date word holds a date: decimal digits, a month from 1 to 12 and
// a day from 1 to 31.
constexpr bool is_possible_date(uint32_t date) {
  if (!has_date(date) || !is_bcd(byte_of(date, 1)) || !is_bcd(month_byte(date)) || !is_bcd(byte_of(date, 3)))
    return false;
  const int month = bcd_value(month_byte(date)), day = bcd_value(byte_of(date, 1));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// The weekday a date falls on, as the date pack codes it (0 Sunday to 6
// Saturday); 7 when the date is none.
constexpr unsigned weekday_of_date(uint32_t date, int64_t year_now) {
  if (!is_possible_date(date)) return 7;
  const int64_t days = days_from_civil(full_year(byte_of(date, 3), year_now), bcd_value(month_byte(date)),
                                       bcd_value(byte_of(date, 1)));
  return static_cast<unsigned>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}

// Seconds since 1970-01-01 of a recording date and time, or -1 when either
// is missing or its digits are no date or time.
constexpr int64_t recorded_seconds(uint32_t date, uint32_t time, int64_t year_now) {
  if (!has_date(date) || !has_time(time)) return -1;
  for (int b = 1; b < 4; ++b)
    if (!is_bcd(byte_of(time, b))) return -1;
  if (!is_bcd(byte_of(date, 1)) || !is_bcd(month_byte(date)) || !is_bcd(byte_of(date, 3))) return -1;
  const int64_t year = full_year(byte_of(date, 3), year_now);
  const int month = bcd_value(month_byte(date)), day = bcd_value(byte_of(date, 1));
  if (month < 1 || month > 12 || day < 1 || day > 31) return -1;
  return (days_from_civil(year, month, day) * 24 + bcd_value(byte_of(time, 3))) * 3600 +
         bcd_value(byte_of(time, 2)) * 60 + bcd_value(byte_of(time, 1));
}

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
