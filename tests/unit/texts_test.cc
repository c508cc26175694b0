// The texts of the status line: timecode, recording date and time, camera,
// picture and system settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>

#include "support/capture.h"
#include "texts/camera_texts.h"
#include "texts/picture_texts.h"
#include "texts/time_texts.h"

using namespace dvlog;

namespace {

// A word of dv_meta from its bytes, byte 0 first.
constexpr uint32_t word(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
  return b0 | b1 << 8 | b2 << 16 | b3 << 24;
}

// One row of a code-to-text table.
struct code_text {
  int code;
  const char* text;
};

// The text functions write into a buffer of the caller's.
template <typename Code>
std::string text_of(const char* (*text)(Code, char*, size_t), Code code) {
  char buffer[96];
  std::memset(buffer, '#', sizeof buffer);
  return text(code, buffer, sizeof buffer);
}

// Checks text(code) for every row.
template <typename Code, size_t N>
void expect_texts(const char* (*text)(Code, char*, size_t), const code_text (&rows)[N]) {
  for (const code_text& r : rows) EXPECT_EQ(text_of(text, static_cast<Code>(r.code)), r.text) << std::hex << r.code;
}
template <size_t N>
void expect_texts(const char* (*text)(uint8_t), const code_text (&rows)[N]) {
  for (const code_text& r : rows) EXPECT_STREQ(text(static_cast<uint8_t>(r.code)), r.text) << std::hex << r.code;
}

TEST(TimecodeText, Table) {
  const struct {
    uint32_t tc;
    const char* text;
  } rows[] = {
      {word(0x05, 0x10, 0x20, 0x01), "01h 20m 10s 05f"},
      {word(0x29, 0x59, 0x59, 0x23), "23h 59m 59s 29f"},
      {0xFFFFFFFF, "00h 00m 00s 00f"},  // never decoded
      {0x3F7F7F3F, "00h 00m 00s 00f"},  // blank pack
      {0x3F7F7F3E, "3Fh 7Fm 7Fs 3Ef"},  // only the exact blank word reads as zero
  };
  for (const auto& r : rows) EXPECT_EQ(text_of(timecode_text, r.tc), r.text) << std::hex << r.tc;
}

TEST(RecDatetimeText, Table) {
  // Zone byte C9: +9 hours, no half hour, no daylight saving. Month byte C6:
  // weekday 6 (Saturday) in the top three bits, month 06.
  const uint32_t date = word(0xC9, 0x26, 0xC6, 0x10);
  const uint32_t time = word(0x3F, 0x11, 0x45, 0x14);  // frames 3F: none given
  const struct {
    int64_t year;
    uint32_t date, time;
    const char* text;
  } rows[] = {
      {2026, date, time, "Sat 2010-06-26 14:45:11 +09:00"},
      {2026, word(0x41, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 +02:00 DST"},
      {2026, word(0xD9, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 -05:00"},  // 19 h: west
      {2026, word(0xA0, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 -03:30"},  // 20 h and a half
      {2026, word(0x00, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 +01:30 DST"},
      {2026, word(0xD2, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 +12:00"},  // 12 h: still east
      {2026, word(0x13, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11 -09:30 DST"},  // 13.5 h: -10:30, DST
      {2026, word(0xFF, 0x26, 0xC6, 0x10), time, "Sat 2010-06-26 14:45:11"},  // no zone given
      {2026, date, word(0x05, 0x11, 0x45, 0x14), "Sat 2010-06-26 14:45:11.05 +09:00"},
      {2026, 0xFFFFFFFF, time, "14:45:11"},
      {2026, 0xFFFF3FFF, time, "14:45:11"},  // blank date pack
      {2026, 0xFFFF3FFF, word(0x05, 0x11, 0x45, 0x14), "14:45:11.05"},
      {2026, date, 0xFFFFFFFF, "Sat 2010-06-26 "},
      {2026, date, 0x3F7F7F3F, "Sat 2010-06-26 "},  // blank time pack
      {2026, 0xFFFFFFFF, 0xFFFFFFFF, ""},
      {2026, word(0xC9, 0x31, 0x12, 0x99), time, "Sun 1999-12-31 14:45:11 +09:00"},
      {2026, word(0xC9, 0x01, 0xE1, 0x26), time, "2026-01-01 14:45:11 +09:00"},  // weekday 7: none
      {2026, word(0xC9, 0x01, 0x21, 0x27), time, "Mon 1927-01-01 14:45:11 +09:00"},
      // The century is the one of the year of reading, or the one before for
      // two-digit years still to come.
      {2098, word(0xC9, 0x01, 0x21, 0x99), 0xFFFFFFFF, "Mon 1999-01-01 "},
      {2098, word(0xC9, 0x01, 0x21, 0x98), 0xFFFFFFFF, "Mon 2098-01-01 "},
      {2010, word(0xC9, 0x01, 0x21, 0x05), 0xFFFFFFFF, "Mon 2005-01-01 "},
      {2010, word(0xC9, 0x01, 0x21, 0x10), 0xFFFFFFFF, "Mon 2010-01-01 "},
      {2010, word(0xC9, 0x01, 0x21, 0x11), 0xFFFFFFFF, "Mon 1911-01-01 "},
      {2010, word(0xC9, 0x01, 0x21, 0x99), 0xFFFFFFFF, "Mon 1999-01-01 "},
      // The years of a clock at the ends of its range (tm_year INT_MAX and
      // INT_MIN) are no trouble.
      {int64_t{INT32_MAX} + 1900, word(0xC9, 0x01, 0x21, 0x99), 0xFFFFFFFF, "Mon 2147485499-01-01 "},
      {int64_t{INT32_MIN} + 1900, word(0xC9, 0x01, 0x21, 0x05), 0xFFFFFFFF, "Mon -2147481795-01-01 "},
  };
  for (const auto& r : rows) {
    char text[80];
    EXPECT_STREQ(rec_datetime_text(r.date, r.time, r.year, text, sizeof text), r.text)
        << std::hex << r.date << " " << r.time;
  }
}

// The JSON log's date: null for digits that are not decimal (the text log
// prints them as they are), at least four digits of year, a sign only when
// negative.
TEST(IsoDateText, Table) {
  const struct {
    int64_t year;
    uint32_t date;
    const char* text;  // nullptr: no date
  } rows[] = {
      {2026, word(0xC9, 0x26, 0xC6, 0x10), "2010-06-26"},
      {905, word(0xC9, 0x15, 0x06, 0x05), "0905-06-15"},
      {-50, word(0xC9, 0x15, 0x06, 0x99), "-0001-06-15"},
      {2026, word(0xC9, 0x15, 0x06, 0x1A), nullptr},  // year
      {2026, word(0xC9, 0x15, 0x0A, 0x10), nullptr},  // month
      {2026, word(0xC9, 0x3F, 0x06, 0x10), nullptr},  // day
      {2026, 0xFFFF3FFF, nullptr},
  };
  for (const auto& r : rows) {
    char text[32];
    const char* got = iso_date_text(r.date, r.year, text, sizeof text);
    EXPECT_STREQ(got, r.text) << std::hex << r.date;
  }
}

// Such dates in the JSON log, in a year whose clock puts a two-digit year
// before the year 0, validate against the schema of the events.
TEST(IsoDateText, ValidInTheJsonLog) {
  dvtest::bytes s = dvtest::make_stream(30);
  for (size_t i = 0; i < 30; ++i) {
    uint8_t* seq = &s[i * dvtest::SEQ];
    dvtest::put_subcode_pack(seq, 0, 0, dvtest::timecode_pack(0, 0, 0, static_cast<int>(i / 10)));
    dvtest::put_vaux_pack(seq, 0, 0, dvtest::video_source_pack(false));
    // Frame 2 is dated in year 99, frame 3 in a year of digits 1A.
    dvtest::put_vaux_pack(seq, 0, 1, {0x62, 0xC9, 0x15, 0x06, static_cast<uint8_t>(i < 20 ? 0x99 : 0x1A)});
    dvtest::put_audio_pack(seq, 0, dvtest::audio_control_pack(i % 10 == 0));
  }
  const dvlog::year_source before = dvtest::year_for_runs;
  dvtest::year_for_runs = [] { return int64_t{-50}; };
  const std::string json = dvtest::run_in_process(s, {"--json"}).out;
  dvtest::year_for_runs = before;
  EXPECT_NE(json.find("\"date\":\"-0001-06-15\",\"year\":-1,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"date\":null,\"year\":null,"), std::string::npos) << json;
  char path[] = "/tmp/dvlog-json-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, json.data(), json.size()), static_cast<ssize_t>(json.size()));
  close(fd);
  const std::string validate = std::string(DVLOG_SOURCE_DIR) + "/tests/tools/validate-events < " + path;
  EXPECT_EQ(std::system(validate.c_str()), 0);
  unlink(path);
}

TEST(ApertureText, Table) {
  const code_text rows[] = {
      {0x00, "inv"}, {0x80, "inv"},  {0xBF, "inv"},  {0xFF, "?? "},  {0xC0, "1.0"},  {0xC1, "1.1"},
      {0xC2, "1.2"}, {0xC3, "1.3"},  {0xC4, "1.4"},  {0xC5, "1.5"},  {0xC6, "1.6"},  {0xC7, "1.8"},
      {0xC8, "2.0"}, {0xD4, "5.7"},  {0xDA, "9.5"},  {0xDB, "10 "},  {0xDF, "14 "},  {0xE0, "15 "},
      {0xE1, "17 "}, {0xF6, "108 "}, {0xFE, "215 "},
  };
  expect_texts(aperture_text, rows);
}

// The iris code counts eighths of a stop from f/1.0 at 0xC0. Three codes
// carry the usual markings instead of the exact power.
TEST(ApertureText, FollowsEighthStops) {
  for (int code = 0xC0; code <= 0xFE; ++code) {
    if (code == 0xC6 || code == 0xDF || code == 0xE0) continue;
    const float x = static_cast<float>(std::exp2((code - 0xC0) / 8.0));
    char expected[16];
    if (x > 10.0f)
      std::snprintf(expected, sizeof expected, "%d ", static_cast<int>(x + 0.5));
    else
      std::snprintf(expected, sizeof expected, "%1.1f", x);
    EXPECT_EQ(text_of(aperture_text, static_cast<uint8_t>(code)), expected) << std::hex << code;
  }
}

TEST(GainText, Table) {
  const code_text rows[] = {
      {0, "??"}, {1, " 0 db"}, {2, " 3 db"}, {4, " 9 db"}, {5, "12 db"}, {14, "39 db"}, {15, "??"}, {255, "??"},
  };
  expect_texts(gain_text, rows);
}

// The usual shutter speeds, which carry rounded denominators.
constexpr struct {
  uint16_t code;
  int denominator;
} named_speeds[] = {
    {1, 16000}, {2, 8000},  {3, 6000},  {4, 4000},  {5, 3000},  {6, 2500},  {7, 2200},  {8, 2000},
    {9, 1750},  {10, 1500}, {11, 1400}, {12, 1300}, {13, 1200}, {14, 1100}, {15, 1050}, {16, 1000},
    {17, 900},  {20, 800},  {22, 700},  {31, 500},  {62, 250},  {74, 210},  {87, 180},  {174, 90},
};

TEST(ShutterText, Table) {
  const code_text rows[] = {
      {0, "invalid"},       {1, "1/16000"},    {16, "1/1000"},  {18, "1/867 "},   {19, "1/821 "},
      {32, "1/488 "},  // 487.5 rounds up
      {174, "1/90  "},      {260, "1/60  "},   {156, "1/100 "}, {32766, "1/0   "}, {10400, "1/2   "},
      {0x7FFF, "??????"},   {0xFFFF, "??????"}, {0x8000, "??????"},
  };
  expect_texts(shutter_text, rows);
  for (const auto& s : named_speeds) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "1/%-4d", s.denominator);
    EXPECT_EQ(text_of(shutter_text, s.code), expected) << s.code;
  }
}

// Every other code counts units of 1/15600 s: 1/(15600/code), rounded.
TEST(ShutterText, SweepsAllCodes) {
  std::set<int> named;
  for (const auto& s : named_speeds) named.insert(s.code);
  for (int code = 1; code <= 32766; ++code) {
    const std::string shown = text_of(shutter_text, static_cast<uint16_t>(code));
    const char* text = shown.c_str();
    ASSERT_EQ(std::strncmp(text, "1/", 2), 0) << code;
    char* end;
    const long d = std::strtol(text + 2, &end, 10);
    ASSERT_GT(end, text + 2) << code;
    ASSERT_EQ(std::strspn(end, " "), std::strlen(end)) << code;  // only padding follows
    ASSERT_EQ(std::strlen(text), std::max<size_t>(6, static_cast<size_t>(end - text))) << code;
    if (!named.count(code)) {
      ASSERT_EQ(d, static_cast<long>(std::floor(15600.0 / code + 0.5))) << code;
    }
  }
}

TEST(VideoTypeText, Table) {
  const code_text rows[] = {
      {0x00, "DV25"}, {0x04, "DV50"}, {0x14, "DVCPROHD_1080i"}, {0x18, "DVCPROHD_720p"},
      {0x01, "01"},   {0x1F, "1F"},   {0xFF, "FF"},
  };
  expect_texts(video_type_text, rows);
}

TEST(AspectText, Table) {
  const code_text rows[] = {
      {0, "4:3"}, {1, "4:3"}, {2, "16:9"}, {3, "Letterbox"}, {4, "4:3"},
      {5, "4:3"}, {6, "4:3"}, {7, "16:9"}, {0xFF, "4:3"},
  };
  expect_texts(aspect_text, rows);
}

// Rounded as a whole, so that a length just under a minute or an hour never
// reads as 60 seconds or 60 minutes.
TEST(DurationText, Table) {
  const struct {
    int64_t frames;
    uint8_t system;
    const char* text;
  } rows[] = {
      {0, 0, "0:00:00.00"},          {1798, 0, "0:00:59.99"},  {1799, 0, "0:01:00.03"},
      {8991, 0, "0:05:00.00"},       // 299.9997 s
      {107891, 0, "0:59:59.96"},     {107892, 0, "1:00:00.00"},  // 3599.9964 s
      {1499, 1, "0:00:59.96"},       {1500, 1, "0:01:00.00"},  {89999, 1, "0:59:59.96"},
      {90000, 1, "1:00:00.00"},      {0x7FFFFFFF, 1, "23860:55:45.88"},
  };
  char text[32];
  for (const auto& r : rows) EXPECT_STREQ(duration_text(r.frames, r.system, text, sizeof text), r.text) << r.frames;
}

TEST(SystemText, Table) {
  const code_text rows[] = {{0, "NTSC"}, {1, "PAL"}, {0xFF, "PAL"}};
  expect_texts(system_text, rows);
}

}  // namespace
