// How a DV deck marks what it could not read: the error status (STA) of each
// video block, and the error code in place of an audio sample.
#pragma once

#include <cstdint>

namespace dvlog {

// STA, the high nibble of byte 3 of a video block.
enum class block_status : uint8_t {
  intact,     // 0
  concealed,  // replaced by a block of the previous or next frame, or hidden otherwise
  error,      // 7: error code inserted; 15: position of the error unknown
  unknown,    // reserved values
};

constexpr block_status STA_MEANING[16] = {
    block_status::intact,    block_status::unknown,   block_status::concealed, block_status::unknown,
    block_status::concealed, block_status::unknown,   block_status::concealed, block_status::error,
    block_status::unknown,   block_status::unknown,   block_status::concealed, block_status::unknown,
    block_status::concealed, block_status::unknown,   block_status::concealed, block_status::error,
};

// Audio samples that could not be read hold the error code: 0x8000 in 16-bit
// audio, 0x800 in 12-bit audio. The quantisation code (QU, the low three bits
// of the audio source pack's PC4) tells which.
constexpr uint8_t QUANTISATION_16_BITS = 0;
constexpr uint8_t QUANTISATION_12_BITS = 1;
constexpr uint16_t AUDIO_ERROR_16 = 0x8000;
constexpr uint16_t AUDIO_ERROR_12 = 0x800;

// Error samples in the 72 data bytes of an audio block. 16 bits: 36 samples,
// most significant byte first. 12 bits: 48 samples, two in every three bytes
// (the top eight bits of each, then their low four bits in one byte).
// Other quantisations are not checked: 0.
int audio_error_samples(const uint8_t* data, uint8_t quantisation);

}  // namespace dvlog
