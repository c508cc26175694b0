#include "report/part_facts.h"

#include <cstring>

#include "report/time_texts.h"

namespace dvlog {

void write_part_line(output_stream& out, const part_facts& p) {
  char first[16], last[16];
  out.printf("Part %d: ", p.number);
  out.write(p.path, std::strlen(p.path));
  out.printf(", %s to %s, %lld frame%s, %llu bytes\n", timecode_text(p.first.timecode, first, sizeof first),
             timecode_text(p.last.timecode, last, sizeof last), static_cast<long long>(p.frames),
             p.frames == 1 ? "" : "s", static_cast<unsigned long long>(p.bytes));
}

}  // namespace dvlog
