// Rows of CSV as RFC 4180 writes them: fields separated by commas, quoted
// only where they hold a comma, a quote or a line break, rows ended by CRLF.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output/output_stream.h"

namespace dvlog {

class csv_writer {
 public:
  explicit csv_writer(output_stream& out) : out_(out) {}

  void field(const char* text) {
    if (!first_) out_.write(",", 1);
    first_ = false;
    if (std::strpbrk(text, ",\"\r\n") == nullptr) {
      out_.write(text, std::strlen(text));
      return;
    }
    out_.write("\"", 1);
    for (const char* p = text; *p; ++p) {
      if (*p == '"') out_.write("\"", 1);
      out_.write(p, 1);
    }
    out_.write("\"", 1);
  }
  void number(int64_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n));
    field(text);
  }
  void empty() { field(""); }
  void end_row() {
    out_.write("\r\n", 2);
    first_ = true;
  }
  // A header row of these names.
  template <size_t N>
  void header(const char* const (&names)[N]) {
    for (const char* name : names) field(name);
    end_row();
  }

 private:
  output_stream& out_;
  bool first_ = true;
};

}  // namespace dvlog
