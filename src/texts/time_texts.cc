#include "texts/time_texts.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dv/datetime.h"
#include "dv/dv_meta.h"
#include "dv/system.h"

namespace dvlog {

int64_t clock_local_year() {
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr) return 2000;
  return int64_t{local.tm_year} + 1900;  // in int, tm_year + 1900 overflows near INT_MAX
}

const char* utc_offset_text(int half_hours, char* out, size_t size) {
  const int magnitude = std::abs(half_hours);
  std::snprintf(out, size, "%s%02d:%02d", half_hours < 0 ? "-" : "+", magnitude / 2, magnitude % 2 * 30);
  return out;
}

const char* timecode_text(uint32_t tc, char* out, size_t size) {
  if (!has_time(tc)) tc = 0;
  std::snprintf(out, size, "%02Xh %02Xm %02Xs %02Xf", byte_of(tc, 3), byte_of(tc, 2), byte_of(tc, 1), byte_of(tc, 0));
  return out;
}

namespace {

// With `weekday` the name to show, or nullptr for none.
const char* datetime_text(uint32_t date, uint32_t time, int64_t year_now, const char* weekday, char* out,
                          size_t size) {
  char date_part[48] = "";
  char time_part[48] = "";
  const bool dated = has_date(date);
  if (dated) {
    std::snprintf(date_part, sizeof date_part, "%s%s%04lld-%02X-%02X ", weekday ? weekday : "", weekday ? " " : "",
                  static_cast<long long>(full_year(byte_of(date, 3), year_now)), month_byte(date), byte_of(date, 1));
  }
  if (has_time(time)) {
    char frames[8] = "";
    if (has_time_frames(time)) std::snprintf(frames, sizeof frames, ".%02X", byte_of(time, 0));
    char zone[24] = "";
    const time_zone z = zone_of(dated ? byte_of(date, 0) : 0xFF);
    if (z.given) {
      char offset[8];
      std::snprintf(zone, sizeof zone, " %s%s", utc_offset_text(z.half_hours, offset, sizeof offset),
                    z.dst ? " DST" : "");
    }
    std::snprintf(time_part, sizeof time_part, "%02X:%02X:%02X%s%s", byte_of(time, 3), byte_of(time, 2),
                  byte_of(time, 1), frames, zone);
  }
  std::snprintf(out, size, "%s%s", date_part, time_part);
  return out;
}

}  // namespace

const char* rec_datetime_text(uint32_t date, uint32_t time, int64_t year_now, char* out, size_t size) {
  return datetime_text(date, time, year_now, has_date(date) ? weekday_name(date) : nullptr, out, size);
}

const char* rec_datetime_checked_text(uint32_t date, uint32_t time, int64_t year_now, char* out, size_t size) {
  const unsigned own = weekday_of_date(date, year_now);
  return datetime_text(date, time, year_now, own < 7 ? WEEKDAY_NAMES[own] : has_date(date) ? weekday_name(date) : nullptr,
                       out, size);
}

bool weekday_wrong(uint32_t date, int64_t year_now) {
  const unsigned own = weekday_of_date(date, year_now);
  return own < 7 && weekday_name(date) != nullptr && WEEKDAY_NAMES[own] != weekday_name(date);
}

const char* iso_date_text(uint32_t date, int64_t year_now, char* out, size_t size) {
  if (!has_date(date) || !is_bcd(byte_of(date, 3)) || !is_bcd(month_byte(date)) || !is_bcd(byte_of(date, 1)))
    return nullptr;
  const int64_t year = full_year(byte_of(date, 3), year_now);
  // At least four digits of year, and a sign only before the year 0.
  std::snprintf(out, size, "%s%04lld-%02X-%02X", year < 0 ? "-" : "", static_cast<long long>(year < 0 ? -year : year),
                month_byte(date), byte_of(date, 1));
  return out;
}

const char* iso_time_text(uint32_t word, bool with_frames, char* out, size_t size) {
  if (!has_time(word)) return nullptr;
  for (int b = with_frames ? 0 : 1; b < 4; ++b)
    if (!is_bcd(byte_of(word, b))) return nullptr;
  // BCD digits are their own hex digits: "HH:MM:SS[:FF]", byte 3 first.
  const size_t length = with_frames ? 11 : 8;
  if (size <= length) return nullptr;
  for (int b = 3, i = 0; b >= (with_frames ? 0 : 1); --b, i += 3) {
    out[i] = static_cast<char>('0' + (byte_of(word, b) >> 4));
    out[i + 1] = static_cast<char>('0' + (byte_of(word, b) & 0x0F));
    out[i + 2] = ':';
  }
  out[length] = '\0';
  return out;
}

double duration_seconds(int64_t frames, uint8_t system_code) {
  const system_profile& system = system_of(system_code);
  return static_cast<double>(frames) * static_cast<double>(system.frame_num) / static_cast<double>(system.frame_den);
}

const char* duration_text(int64_t frames, uint8_t system_code, char* out, size_t size) {
  // Rounded as a whole to hundredths, then cut into hours, minutes and
  // seconds: 59.9997 s is 0:01:00.00, not 0:00:60.00.
  const system_profile& system = system_of(system_code);
  const int64_t hundredths = (frames * system.frame_num * 100 * 2 + system.frame_den) / (2 * system.frame_den);
  const int64_t seconds = hundredths / 100;
  std::snprintf(out, size, "%lld:%02lld:%02lld.%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(hundredths % 100));
  return out;
}

}  // namespace dvlog
