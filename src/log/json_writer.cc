#include "log/json_writer.h"

#include "texts/utf8.h"

#include <cinttypes>
#include <cstdio>

namespace dvlog {

void write_json_string_body(output_stream& out, const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    const unsigned char c = *p;
    if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      out.write(escaped, 2);
      ++p;
    } else if (c < 0x20) {
      char escaped[8];
      const int n = c == '\n' ? std::snprintf(escaped, sizeof escaped, "\\n")
                    : c == '\t' ? std::snprintf(escaped, sizeof escaped, "\\t")
                    : c == '\r' ? std::snprintf(escaped, sizeof escaped, "\\r")
                                : std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out.write(escaped, static_cast<size_t>(n));
      ++p;
    } else if (const size_t n = utf8_length(p)) {  // stops at the terminating zero
      out.write(reinterpret_cast<const char*>(p), n);
      p += n;
    } else {
      out.write(REPLACEMENT_CHARACTER, sizeof REPLACEMENT_CHARACTER - 1);
      ++p;
    }
  }
}

void json_writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ <= 0 || depth_ > MAX_DEPTH) return;  // nested deeper than any event
  if (!first_[depth_ - 1]) out_.write(",", 1);
  first_[depth_ - 1] = false;
}

void json_writer::open(char bracket) {
  before_value();
  out_.write(&bracket, 1);
  if (depth_ < MAX_DEPTH) first_[depth_] = true;
  ++depth_;
}

void json_writer::close(char bracket) {
  out_.write(&bracket, 1);
  --depth_;
}

void json_writer::begin_object() { open('{'); }
void json_writer::end_object() { close('}'); }
void json_writer::begin_array() { open('['); }
void json_writer::end_array() { close(']'); }

void json_writer::end_line() { out_.write("\n", 1); }

void json_writer::key(const char* name) {
  before_value();
  out_.write("\"", 1);
  write_json_string_body(out_, name);
  out_.write("\":", 2);
  after_key_ = true;
}

void json_writer::string(const char* text) {
  before_value();
  out_.write("\"", 1);
  write_json_string_body(out_, text);
  out_.write("\"", 1);
}

void json_writer::number(int64_t value) {
  before_value();
  out_.printf("%" PRId64, value);
}

void json_writer::number_1dp(double value) {
  before_value();
  out_.printf("%.1f", value);
}

void json_writer::boolean(bool value) {
  before_value();
  value ? out_.write("true", 4) : out_.write("false", 5);
}

void json_writer::null() {
  before_value();
  out_.write("null", 4);
}

}  // namespace dvlog
