#include "input/scanner.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dv/recognizer.h"

namespace dvlog {

namespace {

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

}  // namespace

scanner::scanner(uint8_t* window, sequence_consumer& consumer, uint8_t* spare)
    : window_(window), spare_(spare), consumer_(consumer) {}

// The first position p in first .. last at which a sequence starts, testing
// exactly as a byte-by-byte walk would; last + 1 when there is none. Every
// position tested has SEQUENCE_SIZE bytes buffered from it.
size_t scanner::find_sequence(size_t first, size_t last) const {
  size_t p = first;
  for (; p + 15 <= last; p += 16) {
    if (!may_start_in_16(window_ + p)) continue;
    for (size_t k = 0; k < 16; ++k)
      if (is_sequence_start(window_ + p + k)) return p + k;
  }
  for (; p <= last; ++p)
    if (is_sequence_start(window_ + p)) return p;
  return last + 1;
}

uint8_t* scanner::space(size_t* room) {
  // What is left from earlier searches is at most one sequence's worth; it
  // moves to the front, of the spare window when there is one.
  if (pos_ > 0) {
    std::memmove(spare_ ? spare_ : window_, window_ + pos_, filled_ - pos_);
    if (spare_) std::swap(window_, spare_);
    window_offset_ += pos_;
    filled_ -= pos_;
    pos_ = 0;
  }
  *room = SCAN_WINDOW_SIZE - filled_;
  return window_ + filled_;
}

// A search tests pos once more than a sequence's worth lies beyond it, then
// walks on while a whole sequence lies beyond the next position, so it ends on
// a sequence start or at filled - SEQUENCE_SIZE. The bytes from there on are
// searched again once more input has arrived (testing that last position
// again changes nothing), so a sequence that straddles two pieces is still
// found at its exact offset.
void scanner::append(size_t count) {
  filled_ += count;
  while (filled_ - pos_ > SEQUENCE_SIZE) {
    size_t found = pos_;
    if (!is_sequence_start(window_ + pos_)) {  // out of step: search
      const size_t last = filled_ - SEQUENCE_SIZE;
      found = find_sequence(pos_ + 1, last);
      if (found > last) {
        pos_ = last;
        return;
      }
    }
    consumer_.on_sequence(window_ + found, window_offset_ + found);
    pos_ = found + SEQUENCE_SIZE;
  }
}

const uint8_t* scanner::unexamined_sequence() const {
  // Only a sequence right after the last one found, or the first of the
  // input, waits for a byte after it; one reached by searching was tested.
  if (filled_ - pos_ != SEQUENCE_SIZE || !is_sequence_start(window_ + pos_)) return nullptr;
  return window_ + pos_;
}

void scanner::feed(const uint8_t* data, size_t size) {
  while (size > 0) {
    size_t room;
    uint8_t* into = space(&room);
    const size_t n = std::min(room, size);
    std::memcpy(into, data, n);
    append(n);
    data += n;
    size -= n;
  }
}

}  // namespace dvlog
