// Detection of the frames that start a recording.
#pragma once

#include <cstdint>

namespace dvlog {

// Walks the audio blocks of the sequence at s for the audio source control
// pack; prints a "New recording" line when its recording-start flag is set.
void check_recording_start(const uint8_t* s);

}  // namespace dvlog
