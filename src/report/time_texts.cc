#include "report/time_texts.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "analysis/dv_meta.h"

namespace dvlog {

namespace {

// Weekday code of the date pack (top three bits of the month byte); 7 means
// none. Each name carries its trailing space.
constexpr const char* weekday_names[8] = {"Sun ", "Mon ", "Tue ", "Wed ", "Thu ", "Fri ", "Sat ", ""};

constexpr unsigned byte_of(uint32_t word, int n) { return word >> (8 * n) & 0xFF; }

// The two BCD digits of the year, taken as decimal even when not valid BCD.
int bcd_year(unsigned b) { return (b >> 4) * 10 + (b & 0x0F); }

// The time-zone byte: BCD hours in its low six bits, 0x40 clear for a further
// half hour, 0x80 clear in daylight-saving time. Hours past 12 lie west.
void zone_text(unsigned z, char* out, size_t size) {
  out[0] = '\0';
  if ((z & 0x3F) == 0x3F) return;  // no zone given
  int half_hours = 2 * (((z >> 4) & 3) * 10 + (z & 0x0F));
  if (!(z & 0x40)) half_hours += 1;
  if (half_hours > 24) half_hours -= 48;
  const bool dst = !(z & 0x80);
  if (dst) half_hours += 2;
  const int magnitude = std::abs(half_hours);
  std::snprintf(out, size, " %s%02d:%02d%s", half_hours < 0 ? "-" : "+", magnitude / 2, magnitude % 2 * 30,
                dst ? " DST" : "");
}

}  // namespace

int clock_local_year() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr) return 2000;
  return local.tm_year + 1900;
}

year_source local_year = clock_local_year;

const char* timecode_text(uint32_t tc) {
  static char text[32];
  if (tc == NO_INFO || tc == TIME_BLANK) tc = 0;
  std::snprintf(text, sizeof text, "%02Xh %02Xm %02Xs %02Xf", byte_of(tc, 3), byte_of(tc, 2), byte_of(tc, 1),
                byte_of(tc, 0));
  return text;
}

const char* rec_datetime_text(uint32_t date, uint32_t time) {
  static char text[80];
  char date_part[32] = "";
  char time_part[48] = "";
  const bool has_date = date != NO_INFO && date != DATE_BLANK;

  if (has_date) {
    // Two-digit years count back from the current one: in 2010, 05 is 2005
    // and 99 is 1999.
    const int now = local_year();
    const int yy = bcd_year(byte_of(date, 3));
    int year = now / 100 * 100 + yy;
    if (yy > now % 100) year -= 100;
    const unsigned weekday_month = byte_of(date, 2);
    std::snprintf(date_part, sizeof date_part, "%s%04d-%02X-%02X ", weekday_names[weekday_month >> 5], year,
                  weekday_month & 0x1F, byte_of(date, 1));
  }
  if (time != NO_INFO && time != TIME_BLANK) {
    char frames[8] = "";
    if (byte_of(time, 0) != 0x3F) std::snprintf(frames, sizeof frames, ".%02X", byte_of(time, 0));
    char zone[24];
    zone_text(has_date ? byte_of(date, 0) : 0xFF, zone, sizeof zone);
    std::snprintf(time_part, sizeof time_part, "%02X:%02X:%02X%s%s", byte_of(time, 3), byte_of(time, 2),
                  byte_of(time, 1), frames, zone);
  }
  std::snprintf(text, sizeof text, "%s%s", date_part, time_part);
  return text;
}

}  // namespace dvlog
