// Recognises the start of a DIF sequence from the ID bytes of its first blocks.
#pragma once

#include <cstdint>

#include "dv/dif.h"

namespace dvlog {

// Some recorders mark audio and video blocks in the low nibble of ID0 rather
// than the section bits, so both forms count: 0x6 (or 0x7) there means audio,
// 0x8 (or 0x9) means video.
constexpr bool is_audio_block_id(uint8_t id0) {
  return (id0 & SECTION_MASK) == SECTION_AUDIO || (id0 & 0x0E) == 0x06;
}
constexpr bool is_video_block_id(uint8_t id0) {
  return (id0 & SECTION_MASK) == SECTION_VIDEO || (id0 & 0x0E) == 0x08;
}

// True when a DIF sequence starts at s. Reads s[0] to s[562] and nothing else:
// the header's ID0 and the IDs of blocks 1 to 7.
bool is_sequence_start(const uint8_t* s);

}  // namespace dvlog
