// The names of the parts of a split input: NAME-NNN-YYYY-MM-DD_HH-MM-SS.dv,
// which sort in tape order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "events/events.h"

namespace dvlog {

// NAME: the input's file name without its directory and its extension;
// "stdin" for standard input (nullptr).
void input_base_name(const char* path, char* out, size_t size);

// DIR/NAME-NNN-YYYY-MM-DD_HH-MM-SS.dv: NNN the part's number from 001 (more
// digits past 999), then the recording date and time of its first frame,
// left out when that frame has none (`first` nullptr, or no date or time
// that reads). The input's name is shortened so that the part's fits a
// directory entry. False when the path does not fit in `size`.
bool part_path(const char* directory, const char* base, int number, const frame_stamp* first, int64_t year_now,
               char* out, size_t size);

}  // namespace dvlog
