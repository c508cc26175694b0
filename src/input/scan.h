// Reads a DV stream through a fixed window and finds its DIF sequences.
#pragma once

#include <cstdint>

#include "input/dif_format.h"

namespace dvlog {

// The only input buffer: room for two sequences, so that a sequence that
// straddles two reads still lies whole in it.
constexpr size_t SCAN_WINDOW_SIZE = 2 * SEQUENCE_SIZE;
extern uint8_t scan_buffer[SCAN_WINDOW_SIZE];

// Called for each DIF sequence found, in stream order, with its first byte in
// scan_buffer; all SEQUENCE_SIZE bytes of it are there until the call returns.
using sequence_handler = void (*)(const uint8_t* sequence);

// Reads fd to its end, adds 1 to sequence_count and calls on_sequence for
// every sequence found. Returns 0 at end of input, or the errno of the read
// that failed (the scan then ends as at end of input).
int scan_stream(int fd, sequence_handler on_sequence);

}  // namespace dvlog
