// Texts of the timecode and of the recording date and time. Their words hold
// BCD digits, so printing them in hexadecimal shows the decimal digits.
#pragma once

#include <cstdint>

namespace dvlog {

// "01h 20m 10s 05f"; a missing or blank timecode reads as zero.
const char* timecode_text(uint32_t tc);

// "[weekday ]YYYY-MM-DD " and "HH:MM:SS[.FF][ zone[ DST]]", either part left
// out when its word holds no information.
const char* rec_datetime_text(uint32_t date, uint32_t time);

// Where the century of a recording date comes from: the local calendar year
// at the time of the call. Tests put a fixed year here.
using year_source = int (*)();
extern year_source local_year;
int clock_local_year();

}  // namespace dvlog
