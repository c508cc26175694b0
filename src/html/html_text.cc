#include "html/html_text.h"

#include "texts/utf8.h"

namespace dvlog {

void html_text(output_stream& out, const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    switch (*p) {
      case '&':
        out.write("&amp;", 5);
        break;
      case '<':
        out.write("&lt;", 4);
        break;
      case '>':
        out.write("&gt;", 4);
        break;
      case '"':
        out.write("&quot;", 6);
        break;
      default:
        if (const size_t n = utf8_length(p)) {
          // Controls are shown by their codes, so that the page parses clean
          // and a name cannot display as another.
          const unsigned c = utf8_code_point(p, n);
          if (is_invisible_control(c))
            c < 0x80 ? out.printf("\\x%02X", c) : out.printf("\\u%04X", c);
          else
            out.write(reinterpret_cast<const char*>(p), n);
          p += n;
          continue;
        }
        out.write(REPLACEMENT_CHARACTER, sizeof REPLACEMENT_CHARACTER - 1);
    }
    ++p;
  }
}

}  // namespace dvlog
