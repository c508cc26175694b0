// Well-formed UTF-8, for the names that the logs and the report show.
#pragma once

#include <cstddef>

namespace dvlog {

// U+FFFD, which stands for each byte that is not part of well-formed UTF-8.
constexpr char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when the
// byte at p does not start one.
inline size_t utf8_length(const unsigned char* p) {
  const unsigned char b = p[0];
  if (b < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;  // no overlong forms
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < n; ++i)
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  return n;
}

// The code point of a well-formed sequence of `length` bytes at p.
inline unsigned utf8_code_point(const unsigned char* p, size_t length) {
  if (length == 1) return p[0];
  unsigned c = p[0] & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) c = c << 6 | (p[i] & 0x3F);
  return c;
}

// The length of the longest start of `text` (of `length` bytes) that is at
// most `room` bytes and does not end inside a UTF-8 character: a name
// shortened to fit a directory entry stays a name.
inline size_t utf8_prefix_length(const char* text, size_t length, size_t room) {
  if (length <= room) return length;
  size_t n = room;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

// Characters that change how the text around them reads without showing
// themselves: the controls of bidirectional text (which can make one name
// display as another) and the C0 and C1 controls.
inline bool is_invisible_control(unsigned c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace dvlog
