// A transfer as the stretches it read going forward.
//
// A deck reads the tape forward; a transfer goes back where the deck was
// rewound to read a bad spot again, or where a capture was put together out of
// order. Cutting it there, and where the deck left playback speed, leaves
// stretches that each go forward and can be matched to the tape as a whole.
#pragma once

#include <cstdint>
#include <vector>

#include "merge/frame_index.h"

namespace dvlog {

// A stretch of a transfer that goes forward: its reads, indexes into the
// transfer's frames, are reads[begin .. end - 1]; the transfer goes on
// reading at playback speed up to reads[reach - 1].
struct stretch_reads {
  const int32_t* reads;
  int64_t begin, end, reach;
};

// Cuts a transfer's reads at playback speed (listed in `reads`) into
// stretches that go forward: a new one begins after frames not at playback
// speed (the deck shuttled), where the timecode goes back, and where a frame's
// whole content comes again after others (the capture went back over frames
// without a timecode). A read with the timecode and content of the one before
// is a repeat of it, left out and counted in `repeats`. A cut where the
// transfer did not go back (a later recording whose timecode starts again)
// costs nothing: its stretch goes on where the one before ended.
void cut_stretches(const transfer_index& t, std::vector<int32_t>& reads, std::vector<stretch_reads>& stretches,
                   int64_t& repeats);

}  // namespace dvlog
