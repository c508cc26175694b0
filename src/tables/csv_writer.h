// Rows of CSV as RFC 4180 writes them: fields separated by commas, quoted
// only where they hold a comma, a quote or a line break, rows ended by CRLF.
// A row is made in memory and written in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/output_stream.h"

namespace dvlog {

class csv_writer {
 public:
  explicit csv_writer(output_stream& out) : out_(out) {}

  void field(const char* text) {
    if (!first_) put(",", 1);
    first_ = false;
    const size_t length = std::strlen(text);
    if (std::strpbrk(text, ",\"\r\n") == nullptr) {
      put(text, length);
      return;
    }
    put("\"", 1);
    for (const char* p = text; *p; ++p) {
      if (*p == '"') put("\"", 1);
      put(p, 1);
    }
    put("\"", 1);
  }
  void number(int64_t n) {
    char digits[24];
    char* p = digits + sizeof digits;
    *--p = '\0';
    uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude > 0);
    if (n < 0) *--p = '-';
    field(p);
  }
  void empty() { field(""); }
  void end_row() {
    put("\r\n", 2);
    out_.write(row_, used_);
    used_ = 0;
    first_ = true;
  }
  // A header row of these names.
  template <size_t N>
  void header(const char* const (&names)[N]) {
    for (const char* name : names) field(name);
    end_row();
  }

 private:
  void put(const char* data, size_t size) {
    if (used_ + size > sizeof row_) {  // a row longer than the buffer goes out in pieces
      out_.write(row_, used_);
      used_ = 0;
      if (size > sizeof row_) return out_.write(data, size);
    }
    std::memcpy(row_ + used_, data, size);
    used_ += size;
  }

  output_stream& out_;
  char row_[1024];
  size_t used_ = 0;
  bool first_ = true;
};

}  // namespace dvlog
