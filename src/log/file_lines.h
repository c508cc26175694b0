// The lines of the text log that tell, after the summary, the files a run
// wrote: the parts of a split and the stills.
#pragma once

#include "events/part_facts.h"
#include "events/still_facts.h"
#include "output/output_stream.h"

namespace dvlog {

// A file's name in a line of the text log, escaped as C writes strings, so
// that a line is one line and shows what the name holds: a backslash as
// "\\", a newline, tab or carriage return as "\n", "\t", "\r", other
// controls and bytes that are not UTF-8 as "\xHH", the invisible controls
// of bidirectional text as "\uHHHH". Any other name is written as it is.
void write_name(output_stream& out, const char* name);

// "Part N: PATH, TIMECODE to TIMECODE, F frames, B bytes".
void write_part_line(output_stream& out, const part_facts& p);

// "Still: PATH, frame F, TIMECODE, first of recording R" (or ": no picture:
// REASON").
void write_still_line(output_stream& out, const still_facts& s);

// Tells the stills as lines of the text log.
class still_lines final : public still_listener {
 public:
  explicit still_lines(output_stream& out) : out_(out) {}
  void still(const still_facts& s) override { write_still_line(out_, s); }

 private:
  output_stream& out_;
};

}  // namespace dvlog
