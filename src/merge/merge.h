// Rescuing a damaged tape from several transfers, or from the passes of one
// capture with retakes: every tape frame some transfer read at playback
// speed, once, in tape order, each block from a read that has it right,
// written whole or not at all.
#pragma once

#include <cstdint>

#include "input/source.h"
#include "merge/assemble.h"
#include "output/output_stream.h"
#include "output/progress.h"

namespace dvlog {

// Transfers one merge takes at most.
constexpr int MAX_TRANSFERS = 64;

struct merge_request {
  const char* const* paths;  // the transfers, regular files, in order of preference (one will do)
  int count;
  const char* output;        // where the merged stream goes: a new file, or an empty one
  int err_fd = 2;
  stop_request stop;
  wait_control wait;
  progress_line* progress = nullptr;  // shows how far the indexing and writing are
};

// Writes the merged stream. Returns 0 with the facts in `tally` (whose names
// point into the request's paths); 1 when it was refused or failed, told on
// err_fd, with nothing written; 128 + the signal when stopped.
int merge_transfers(const merge_request& request, merge_tally& tally);

}  // namespace dvlog
