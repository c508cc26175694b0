// Finds the DIF sequences in a stream of bytes, wherever they start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dv/dif.h"

namespace dvlog {

// Bytes are read this many at a time: fifty sequences, 600,000 bytes. Reads
// this large cost little more than the copy of the bytes; larger ones are no
// faster and only take more memory.
constexpr size_t READ_SIZE = 50 * SEQUENCE_SIZE;

// The window the scanner works in: a read and one sequence left over from the
// read before.
constexpr size_t SCAN_WINDOW_SIZE = READ_SIZE + SEQUENCE_SIZE;

// The stream is fed to the scanner in pieces of any size; it hands every DIF
// sequence it finds to its consumer, in stream order, with its offset in the
// stream. A position is tested only once more than one sequence's worth of
// bytes lies beyond it, unless the search stepped onto it over bytes that are
// no sequence: then one sequence's worth is enough. A sequence found is
// skipped whole. What the scanner finds is thus fixed by the bytes alone, not
// by how they were cut into pieces.
class scanner {
 public:
  // `window` holds SCAN_WINDOW_SIZE bytes and is the scanner's until it ends.
  // `spare`, when given, is a second window of that size: each refill then
  // goes into the other window, so that the sequences handed on from one stay
  // where they are while the next is read (a consumer that keeps a few of
  // them need not copy them at once).
  scanner(uint8_t* window, sequence_consumer& consumer, uint8_t* spare = nullptr);

  // Where the next bytes of the stream go, and how many fit (at least
  // READ_SIZE). Whoever reads the stream can read straight into it.
  uint8_t* space(size_t* room);
  // `count` bytes have been put at space(): search them.
  void append(size_t count);
  // Copies bytes in and searches them.
  void feed(const uint8_t* data, size_t size);
  // The window the next space() writes into: the sequences handed on from
  // it are about to be overwritten.
  const uint8_t* next_filled() const { return spare_ && pos_ > 0 ? spare_ : window_; }

  // Bytes fed so far.
  uint64_t bytes() const { return window_offset_ + filled_; }

  // At the end of the input: the sequence that ends it, when one does and no
  // byte follows it, so that it was never examined; nullptr otherwise. Valid
  // until more is fed.
  const uint8_t* unexamined_sequence() const;

 private:
  size_t find_sequence(size_t first, size_t last) const;

  uint8_t* window_;
  uint8_t* spare_;
  sequence_consumer& consumer_;
  size_t filled_ = 0;           // valid bytes in the window
  size_t pos_ = 0;              // where the search goes on
  uint64_t window_offset_ = 0;  // stream offset of window_[0]
};

}  // namespace dvlog
