#include "input/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "analysis/analysis.h"
#include "input/recognizer.h"

namespace dvlog {

alignas(64) uint8_t scan_buffer[SCAN_WINDOW_SIZE];

namespace {

constexpr size_t READ_SIZE = SEQUENCE_SIZE;

// Reads up to READ_SIZE bytes into the window. Returns the count, 0 at
// end of input, or -1 with errno set; an interrupted read is retried.
ssize_t read_chunk(int fd, uint8_t* into) {
  for (;;) {
    ssize_t got = read(fd, into, READ_SIZE);
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

// The window is read as a ring of its two halves: byte i of the window lies at
// scan_buffer[(base + i) % SCAN_WINDOW_SIZE], base being 0 or SEQUENCE_SIZE.
// Stepping past a whole half, as a stream in step does after every sequence,
// then swaps the roles of the halves instead of moving 12000 bytes. Whatever
// needs a run of bytes that would wrap around the buffer straightens the ring
// first; that happens only while the stream is out of step.
size_t base;

uint8_t* window_at(size_t i) { return scan_buffer + (base + i) % SCAN_WINDOW_SIZE; }

bool is_contiguous(size_t begin, size_t end) {
  return base == 0 || end <= SEQUENCE_SIZE || begin >= SEQUENCE_SIZE;
}

void straighten() {
  if (base == 0) return;
  std::swap_ranges(scan_buffer, scan_buffer + SEQUENCE_SIZE, scan_buffer + SEQUENCE_SIZE);
  base = 0;
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
  base = 0;
  for (;;) {
    while (filled - pos <= SEQUENCE_SIZE) {
      if (!is_contiguous(filled, filled + READ_SIZE)) straighten();
      ssize_t got = read_chunk(fd, window_at(filled));
      if (got == 0) return 0;
      if (got < 0) return errno;
      filled += static_cast<size_t>(got);
    }

    // In step, the sequence starts right at pos; only out of step does the
    // search walk, over a straight window.
    const size_t last = filled - SEQUENCE_SIZE;
    size_t found = pos;
    if (!is_contiguous(pos, pos + SEQUENCE_SIZE) || !is_sequence_start(window_at(pos))) {
      straighten();
      found = find_sequence(pos + 1, last);
    }
    if (found <= last) {
      sequence_count = wrapping_add(sequence_count, 1);
      on_sequence(window_at(found));
      pos = found + SEQUENCE_SIZE;
      if (pos == filled) filled = pos = 0;
    } else {
      pos = last;
    }

    if (filled > SEQUENCE_SIZE) {
      if (pos == SEQUENCE_SIZE && found <= last) {
        base = (base + SEQUENCE_SIZE) % SCAN_WINDOW_SIZE;
      } else {
        straighten();
        std::memmove(scan_buffer, scan_buffer + pos, filled - pos);
      }
      filled -= pos;
      pos = 0;
    }
  }
}

}  // namespace dvlog
