// The scan finds DIF sequences at any byte offset, skips each one found whole,
// and searches a position only once enough input lies beyond it. Every built
// sequence carries its own stream offset in its header block's payload (bytes
// 3 to 10, which the recognizer ignores), so the handler can tell which one
// the scan handed it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include <sys/stat.h>

#include "dv/recognizer.h"
#include "input/scanner.h"
#include "input/source.h"
#include "support/dif_builder.h"

using namespace dvtest;

namespace {

using offsets = std::vector<uint64_t>;

uint64_t stamp_of(const uint8_t* sequence) {
  uint64_t stamp;
  std::memcpy(&stamp, sequence + 3, sizeof stamp);
  return stamp;
}

// Keeps the stamps of the sequences handed over; each must come with its
// offset in the stream. When `keeping`, keeps where each lies too, and finds
// it unchanged there until its window is about to be filled again.
struct stamp_recorder final : dvlog::sequence_consumer {
  offsets handed;
  bool keeping = false;
  std::vector<const uint8_t*> kept;
  void on_sequence(const uint8_t* sequence, uint64_t offset) override {
    handed.push_back(stamp_of(sequence));
    EXPECT_EQ(offset, handed.back());
    if (keeping) kept.push_back(sequence);
  }
  void before_refill(const dvlog::scanner& scan) {
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(stamp_of(kept[i]), handed[handed.size() - kept.size() + i]);
    const uintptr_t next = reinterpret_cast<uintptr_t>(scan.next_filled());
    std::erase_if(kept, [&](const uint8_t* s) { return reinterpret_cast<uintptr_t>(s) - next < dvlog::SCAN_WINDOW_SIZE; });
  }
};

// Streams of junk and stamped sequences.
struct stream_maker {
  bytes data;
  std::mt19937 rng{1};

  stream_maker& junk(size_t n) {
    for (size_t i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(rng()));
    return *this;
  }
  // The first `length` bytes of a sequence; `broken` makes the recognizer
  // reject it (subcode 0 numbered 1).
  stream_maker& seq(size_t length = SEQ, bool broken = false) {
    bytes s = make_sequence(static_cast<uint8_t>(rng() % 10));
    const uint64_t at = data.size();
    std::memcpy(&s[3], &at, sizeof at);
    if (broken) s[82] = 1;
    data.insert(data.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(length));
    return *this;
  }
  stream_maker& seqs(int n) {
    for (int i = 0; i < n; ++i) seq();
    return *this;
  }
};

// Reads fd to its end into the scanner, as the tool does; with a spare
// window, what the scanner handed on stays where it lay for a refill more.
offsets scan_fd(int fd, bool spare = false) {
  stamp_recorder recorder;
  recorder.keeping = spare;
  std::vector<uint8_t> window(dvlog::SCAN_WINDOW_SIZE), second(dvlog::SCAN_WINDOW_SIZE);
  dvlog::scanner scan(window.data(), recorder, spare ? second.data() : nullptr);
  dvlog::input_source in;
  in.fd = fd;
  struct stat st;
  in.is_regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  for (;;) {
    recorder.before_refill(scan);
    size_t room;
    uint8_t* into = scan.space(&room);
    EXPECT_GE(room, dvlog::READ_SIZE);
    const ssize_t got = dvlog::read_input(in, into, room, {});
    EXPECT_GE(got, 0);
    if (got <= 0) break;
    scan.append(static_cast<size_t>(got));
  }
  return recorder.handed;
}

offsets scan_file(const bytes& data, bool spare = false) {
  int fd = memfd_create("scan-test", 0);
  EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  lseek(fd, 0, SEEK_SET);
  offsets found = scan_fd(fd, spare);
  close(fd);
  return found;
}

// The same bytes through a pipe, written in pieces of `piece` bytes.
offsets scan_pipe(const bytes& data, size_t piece, bool spare = false) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    for (size_t at = 0; at < data.size(); at += piece)
      EXPECT_EQ(write(ends[1], data.data() + at, std::min(piece, data.size() - at)),
                static_cast<ssize_t>(std::min(piece, data.size() - at)));
    close(ends[1]);
  });
  offsets found = scan_fd(ends[0], spare);
  writer.join();
  close(ends[0]);
  return found;
}

// The scan rules walked one byte at a time over the whole input: a search
// starts at a position only with more than SEQ bytes from it, steps on while
// more than SEQ bytes lie beyond the rejected position, and a sequence found
// is skipped whole.
offsets reference_walk(const bytes& d) {
  offsets found;
  size_t p = 0;
  while (d.size() > p + SEQ) {
    while (!dvlog::is_sequence_start(&d[p]) && d.size() - p > SEQ) ++p;
    if (!dvlog::is_sequence_start(&d[p])) break;
    found.push_back(p);
    p += SEQ;
  }
  return found;
}

struct scan_row {
  const char* what;
  std::function<stream_maker()> build;
  offsets expected;
};

const scan_row scan_rows[] = {
    {"one whole sequence: 12000 bytes are never searched", [] { return stream_maker().seq(); }, {}},
    {"one sequence and one byte", [] { return stream_maker().seq().junk(1); }, {0}},
    {"three back to back give two", [] { return stream_maker().seqs(3); }, {0, 12000}},
    {"five back to back give four", [] { return stream_maker().seqs(5); }, {0, 12000, 24000, 36000}},
    {"three and one byte give three", [] { return stream_maker().seqs(3).junk(1); }, {0, 12000, 24000}},
    {"junk then one sequence", [] { return stream_maker().junk(7).seq(); }, {7}},
    {"junk then aligned sequences", [] { return stream_maker().junk(7).seqs(4); }, {7, 12007, 24007}},
    // Reached by stepping over a rejected sequence, the third is searched
    // although the input ends with it.
    {"rejected middle sequence", [] { return stream_maker().seq().seq(SEQ, true).seq(); }, {0, 24000}},
    // The cut sequence takes its second half from the next one; the skip lands
    // 6000 bytes into that one, and the search finds the one after it.
    {"sequence cut after 6000 bytes",
     [] { return stream_maker().seq(6000).seqs(3).junk(1); },
     {0, 18000, 30000}},
    {"junk of odd lengths between sequences",
     [] { return stream_maker().seq().junk(1).seq().junk(13).seq().junk(4097).seq(); },
     {0, 12001, 24014, 40111}},
    {"11999 bytes of a sequence", [] { return stream_maker().seq(11999); }, {}},
    {"random junk, 1 byte", [] { return stream_maker().junk(1); }, {}},
    {"random junk, 12001 bytes", [] { return stream_maker().junk(12001); }, {}},
    {"random junk, 24001 bytes", [] { return stream_maker().junk(24001); }, {}},
    {"random junk, 100003 bytes", [] { return stream_maker().junk(100003); }, {}},
    {"empty input", [] { return stream_maker(); }, {}},
};

TEST(Scan, FindsSequencesAtTheirOffsets) {
  for (const scan_row& row : scan_rows) EXPECT_EQ(scan_file(row.build().data), row.expected) << row.what;
}

// Sequences back to back from offset `first`.
offsets every_sequence(size_t n, uint64_t first = 0) {
  offsets o;
  for (size_t i = 0; i < n; ++i) o.push_back(first + i * SEQ);
  return o;
}

// Reads are READ_SIZE (R sequences) at a time into a window of one sequence
// more. Inputs just below, on and just above multiples of both sizes end the
// reads at every kind of place; the rule above alone decides what is found.
TEST(Scan, LengthsAroundTheReadAndWindowSizes) {
  static const int R = static_cast<int>(dvlog::READ_SIZE / SEQ);
  ASSERT_EQ(dvlog::READ_SIZE, R * SEQ);
  ASSERT_EQ(dvlog::SCAN_WINDOW_SIZE, (R + 1) * SEQ);
  const size_t r = static_cast<size_t>(R);
  const scan_row rows[] = {
      {"one read less one byte", [] { return stream_maker().seqs(R - 1).seq(SEQ - 1); }, every_sequence(r - 1)},
      {"one read", [] { return stream_maker().seqs(R); }, every_sequence(r - 1)},
      {"one read and one byte", [] { return stream_maker().seqs(R).junk(1); }, every_sequence(r)},
      {"one window less one byte", [] { return stream_maker().seqs(R).seq(SEQ - 1); }, every_sequence(r)},
      {"one window", [] { return stream_maker().seqs(R + 1); }, every_sequence(r)},
      {"one window and one byte", [] { return stream_maker().seqs(R + 1).junk(1); }, every_sequence(r + 1)},
      {"two reads less one byte", [] { return stream_maker().seqs(2 * R - 1).seq(SEQ - 1); },
       every_sequence(2 * r - 1)},
      {"two reads", [] { return stream_maker().seqs(2 * R); }, every_sequence(2 * r - 1)},
      {"two reads and one byte", [] { return stream_maker().seqs(2 * R).junk(1); }, every_sequence(2 * r)},
      {"two windows", [] { return stream_maker().seqs(2 * R + 2); }, every_sequence(2 * r + 1)},
      {"two windows and one byte", [] { return stream_maker().seqs(2 * R + 2).junk(1); }, every_sequence(2 * r + 2)},
      // Out of step by 7 bytes, every read ends inside a sequence.
      {"junk, then one read", [] { return stream_maker().junk(7).seqs(R); }, every_sequence(r - 1, 7)},
      {"junk, then two reads and one byte", [] { return stream_maker().junk(7).seqs(2 * R).junk(1); },
       every_sequence(2 * r, 7)},
      // The search steps over a rejected sequence that ends one read in: the
      // next one is found at the end of the input.
      {"rejected sequence ending at the read size",
       [] { return stream_maker().seqs(R - 2).seq(SEQ, true).seqs(2); },
       [&] {
         offsets o = every_sequence(r - 2);
         o.push_back((r - 1) * SEQ);
         return o;
       }()},
  };
  for (const scan_row& row : rows) {
    const bytes data = row.build().data;
    EXPECT_EQ(scan_file(data), row.expected) << row.what;
    EXPECT_EQ(reference_walk(data), row.expected) << row.what;
    EXPECT_EQ(scan_pipe(data, 65536), row.expected) << row.what;
    EXPECT_EQ(scan_file(data, true), row.expected) << row.what;
    EXPECT_EQ(scan_pipe(data, 65536, true), row.expected) << row.what;
  }
}

TEST(Scan, PipePiecesGiveTheSameOffsetsAsAFile) {
  const bytes data =
      stream_maker().junk(7).seqs(3).junk(5).seq(6000).seqs(2).seq(SEQ, true).junk(4097).seqs(2).junk(3).data;
  const offsets from_file = scan_file(data);
  EXPECT_EQ(from_file, reference_walk(data));
  EXPECT_EQ(from_file.size(), 7u);
  for (size_t piece : {1, 1000, 4097, 12000}) EXPECT_EQ(scan_pipe(data, piece), from_file) << piece;
}

// The search tests runs of 16 positions at once before it tests each of them
// in full; it must find exactly what a byte-by-byte walk finds. Sequences
// follow found ones after gaps of 0 to 40 bytes, so that they start at every
// place in and around the first runs of a search; decoys pass the run test
// (subcode 1, VAUX 1 and VAUX 2 numbered 1, 1, 2) but break another rule.
TEST(Scan, RunsOfSixteenFindWhatAByteWalkFinds) {
  // Bytes that break one rule each while leaving the run test passing.
  const std::pair<size_t, uint8_t> decoys[] = {{0, 0x3F},  {81, 0x55},  {80, 0x5F},  {240, 0x36}, {242, 1},
                                               {480, 0x41}, {482, 1},   {560, 0x76}, {562, 1}};
  std::set<uint64_t> gaps;  // junk bytes between a found sequence and the next
  for (unsigned seed = 1; seed <= 12; ++seed) {
    stream_maker m;
    m.rng.seed(seed);
    while (m.data.size() < 400000) {
      switch (m.rng() % 4) {
        case 0:
        case 1:
          m.seq().junk(m.rng() % 41);
          break;
        case 2:
          m.seq(563 + m.rng() % (SEQ - 563));
          break;
        default:
          m.junk(m.rng() % 3000);
      }
      if (m.rng() % 3 == 0) {
        const size_t at = m.data.size();
        m.seq(600);
        const auto& [offset, value] = decoys[m.rng() % std::size(decoys)];
        m.data[at + offset] = value;
      }
    }
    m.junk(1 + m.rng() % 40).seq();  // searched although the input ends with it
    const offsets expected = reference_walk(m.data);
    EXPECT_GT(expected.size(), 20u) << seed;
    EXPECT_EQ(scan_file(m.data), expected) << "seed " << seed;
    // Pieces of odd sizes end the window's searches at many different places.
    EXPECT_EQ(scan_pipe(m.data, 997 + 1013 * seed), expected) << "seed " << seed;
    for (size_t i = 1; i < expected.size(); ++i) gaps.insert(expected[i] - expected[i - 1] - SEQ);
  }
  // Found sequences started at every place of the first two runs of a search.
  for (uint64_t gap = 0; gap <= 32; ++gap) EXPECT_TRUE(gaps.count(gap)) << gap;
}

}  // namespace
