#include "log/file_lines.h"

#include <cstring>

#include "texts/time_texts.h"
#include "texts/utf8.h"

namespace dvlog {

void write_name(output_stream& out, const char* name) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
  while (*p) {
    const size_t n = utf8_length(p);
    const unsigned c = n ? utf8_code_point(p, n) : *p;
    const char* named = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
    if (named)
      out.write(named, 2);
    else if (n == 0 || (c < 0x80 && is_invisible_control(c)))
      out.printf("\\x%02X", *p);
    else if (is_invisible_control(c))
      out.printf("\\u%04X", c);
    else
      out.write(reinterpret_cast<const char*>(p), n);
    p += n ? n : 1;
  }
}

void write_part_line(output_stream& out, const part_facts& p) {
  char first[16], last[16];
  out.printf("Part %d: ", p.number);
  write_name(out, p.path);
  out.printf(", %s to %s, %lld frame%s, %llu bytes\n", timecode_text(p.first.timecode, first, sizeof first),
             timecode_text(p.last.timecode, last, sizeof last), static_cast<long long>(p.frames),
             p.frames == 1 ? "" : "s", static_cast<unsigned long long>(p.bytes));
}

void write_still_line(output_stream& out, const still_facts& s) {
  char tc[16];
  out.printf("Still: ");
  if (s.path) {
    write_name(out, s.path);
    out.printf(", ");
  }
  out.printf("frame %d, %s", s.at.frame, timecode_text(s.stamp.timecode, tc, sizeof tc));
  if (s.reasons & STILL_RECORDING) out.printf(", first of recording %d", s.recording);
  if (s.reasons & STILL_ALONG) out.printf(", in recording %d", s.recording);
  if (s.reasons & STILL_BEFORE_DAMAGE) out.printf(", before the damage of frames %d to %d", s.run_first, s.run_last);
  if (s.reasons & STILL_WORST_DAMAGE) out.printf(", worst of the damage of frames %d to %d", s.run_first, s.run_last);
  if (!s.path) {
    out.printf(": no picture: ");
    write_name(out, s.failure);
  }
  out.printf("\n");
}

}  // namespace dvlog
