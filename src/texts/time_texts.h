// Texts of the timecode and of the recording date and time. Their words hold
// BCD digits, so printing them in hexadecimal shows the decimal digits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

// "01h 20m 10s 05f"; a missing or blank timecode reads as zero. 16 bytes are
// enough.
const char* timecode_text(uint32_t tc, char* out, size_t size);

// "[weekday ]YYYY-MM-DD " and "HH:MM:SS[.FF][ zone[ DST]]", either part left
// out when its word holds no information. `year_now` gives the century of the
// two-digit year. 80 bytes are enough for any year.
const char* rec_datetime_text(uint32_t date, uint32_t time, int64_t year_now, char* out, size_t size);

// The same, with the weekday the date falls on rather than the one the pack
// gives (which ffmpeg, and some cameras, write wrong); the pack's where the
// digits are no date.
const char* rec_datetime_checked_text(uint32_t date, uint32_t time, int64_t year_now, char* out, size_t size);
// The pack gives a weekday, and not the one its date falls on.
bool weekday_wrong(uint32_t date, int64_t year_now);

// "+09:00" or "-03:30": the UTC offset of a time zone in half hours, into out
// (8 bytes are enough).
const char* utc_offset_text(int half_hours, char* out, size_t size);

// "YYYY-MM-DD" of a date word, with at least four digits of year and a sign
// only before the year 0; nullptr when the word holds no date or a digit
// that is not decimal. 32 bytes are enough.
const char* iso_date_text(uint32_t date, int64_t year_now, char* out, size_t size);
// "HH:MM:SS", or "HH:MM:SS:FF" with the frames (a timecode); nullptr when the
// word holds no time or a digit that is not decimal. 16 bytes are enough.
const char* iso_time_text(uint32_t word, bool with_frames, char* out, size_t size);

// The length of `frames` frames of a system (a system code, NO_INFO8 for
// unknown), in seconds.
double duration_seconds(int64_t frames, uint8_t system_code);
// "1:02:03.45": hours, minutes, seconds and hundredths, rounded as a whole.
// 32 bytes are enough.
const char* duration_text(int64_t frames, uint8_t system_code, char* out, size_t size);

// Where the current year comes from. Tests put a fixed year here.
using year_source = int64_t (*)();
// The local calendar year, from the system clock; any year the clock can give fits.
int64_t clock_local_year();

}  // namespace dvlog
