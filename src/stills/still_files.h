// --stills DIR: the pictures of the tape as JPEG files, written once the
// input has been read, one a frame pictured.
#pragma once

#include <cstddef>

#include "events/still_facts.h"
#include "output/output_stream.h"
#include "output/safe_file.h"
#include "picture/still_picker.h"

namespace dvlog {

struct still_files_setup {
  const char* dir;
  const char* base_name;  // the input's name, without directory and extension
  const file_id* inputs;  // never written over
  size_t input_count;
  const wait_control* wait;
  int err_fd;
};

// Writes each frame the picker pictured into DIR as
// NAME-FFFFFF-HHhMMmSSsFFf.jpg (its frame number and timecode), through the
// safe-file writer and never over an existing file, and tells each, written
// or without a picture, to `listener` when given. Returns false when a file
// could not be written (told on err_fd as "Could not write still PATH: ERROR").
bool write_still_files(const still_picker& picker, const still_files_setup& setup, still_listener* listener);

// The facts of the i-th still of the picker and of those after it that
// picture the same frame; returns the index after them.
int still_facts_at(const still_picker& picker, int i, const char* path, still_facts& out);

}  // namespace dvlog
