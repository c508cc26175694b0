// Copies of byte ranges between files, for the split and the merge.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dvlog {

// Copies `length` bytes from offset `from` of one file to the end of another.
// Copying between files is the kernel's work (copy_file_range), which file
// systems that share extents do without copying; where it will not (another
// file system, an old kernel), the bytes go through `buffer`. Returns 0 or
// errno, with *reading set when reading failed (EIO: the file is shorter than
// it was).
int copy_range(int from_fd, uint64_t from, int to_fd, uint64_t length, uint8_t* buffer, size_t buffer_size,
               bool* reading);

}  // namespace dvlog
