// A small JSON writer: objects, strings, numbers, booleans and null, straight
// into an output stream, nothing allocated. One JSON text a line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/output_stream.h"

namespace dvlog {

class json_writer {
 public:
  explicit json_writer(output_stream& out) : out_(out) {}

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  // Ends the JSON text with a newline.
  void end_line();

  // A key of the object being written; its value follows.
  void key(const char* name);
  void string(const char* text);  // escaped; each byte of invalid UTF-8 becomes U+FFFD
  void number(int64_t value);
  void number_1dp(double value);  // with one decimal
  void boolean(bool value);
  void null();

  // key and value at once.
  void field(const char* name, const char* text) { key(name), string(text); }
  void field(const char* name, int64_t value) { key(name), number(value); }
  void field_bool(const char* name, bool value) { key(name), boolean(value); }
  void field_null(const char* name) { key(name), null(); }
  // A string, or null when text is nullptr.
  void field_or_null(const char* name, const char* text) { text ? field(name, text) : field_null(name); }

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);

  static constexpr int MAX_DEPTH = 8;
  output_stream& out_;
  int depth_ = 0;
  bool first_[MAX_DEPTH] = {};  // nothing written yet in the object at this depth
  bool after_key_ = false;
};

// Writes text as the contents of a JSON string (without the quotes).
void write_json_string_body(output_stream& out, const char* text);

}  // namespace dvlog
