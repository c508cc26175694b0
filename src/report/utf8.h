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


}  // namespace dvlog
