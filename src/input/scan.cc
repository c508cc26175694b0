#include "input/scan.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "analysis/analysis.h"
#include "input/recognizer.h"

namespace dvlog {

uint8_t scan_buffer[SCAN_WINDOW_SIZE];

namespace {

constexpr size_t READ_SIZE = SEQUENCE_SIZE;

// Reads up to READ_SIZE bytes at scan_buffer[filled]. Returns the count, 0 at
// end of input, or -1 with errno set; an interrupted read is retried.
ssize_t read_chunk(int fd, size_t filled) {
  for (;;) {
    ssize_t got = read(fd, scan_buffer + filled, READ_SIZE);
    if (got >= 0 || errno != EINTR) return got;
  }
}

#if defined(__GNUC__)
typedef uint8_t bytes16 __attribute__((vector_size(16)));

bytes16 load16(const uint8_t* p) {
  bytes16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// True when some position in p .. p+15 could start a sequence, judged by the
// block numbers (ID2) of subcode block 1 and VAUX blocks 1 and 2, which must
// read 1, 1 and 2. Junk rarely has all three, so whole runs of 16 positions
// are skipped at once; the positions that pass still get the full test.
bool may_start_in_16(const uint8_t* p) {
  auto hit = (load16(p + SUBCODE_BLOCK_1 + ID2) == 1) & (load16(p + VAUX_BLOCK_1 + ID2) == 1) &
             (load16(p + VAUX_BLOCK_2 + ID2) == 2);
  uint64_t half[2];
  std::memcpy(half, &hit, sizeof half);
  return (half[0] | half[1]) != 0;
}
#else
bool may_start_in_16(const uint8_t*) { return true; }
#endif

// The first position p in first .. last at which a sequence starts, testing
// exactly as a byte-by-byte walk would; last + 1 when there is none. Every
// position tested has SEQUENCE_SIZE bytes buffered from it.
size_t find_sequence(size_t first, size_t last) {
  size_t p = first;
  for (; p + 15 <= last; p += 16) {
    if (!may_start_in_16(scan_buffer + p)) continue;
    for (size_t k = 0; k < 16; ++k)
      if (is_sequence_start(scan_buffer + p + k)) return p + k;
  }
  for (; p <= last; ++p)
    if (is_sequence_start(scan_buffer + p)) return p;
  return last + 1;
}

}  // namespace

// The window holds `filled` bytes; `pos` is where the search goes on. A search
// starts once more than one sequence's worth lies beyond pos, and walks on
// while more than that lies beyond the position it rejected, so it ends on a
// sequence start or at filled - SEQUENCE_SIZE. The bytes from there on are
// searched again once more input has arrived, so a sequence that straddles
// two reads is still found at its exact offset.
int scan_stream(int fd, sequence_handler on_sequence) {
  size_t filled = 0;
  size_t pos = 0;
  for (;;) {
    while (filled - pos <= SEQUENCE_SIZE) {
      ssize_t got = read_chunk(fd, filled);
      if (got == 0) return 0;
      if (got < 0) return errno;
      filled += static_cast<size_t>(got);
    }

    // In step, the sequence starts right at pos; only out of step does the
    // search walk.
    const size_t last = filled - SEQUENCE_SIZE;
    size_t found = is_sequence_start(scan_buffer + pos) ? pos : find_sequence(pos + 1, last);
    if (found <= last) {
      sequence_count = wrapping_add(sequence_count, 1);
      on_sequence(scan_buffer + found);
      pos = found + SEQUENCE_SIZE;
      if (pos == filled) filled = pos = 0;
    } else {
      pos = last;
    }

    if (filled > SEQUENCE_SIZE) {
      std::memmove(scan_buffer, scan_buffer + pos, filled - pos);
      filled -= pos;
      pos = 0;
    }
  }
}

}  // namespace dvlog
