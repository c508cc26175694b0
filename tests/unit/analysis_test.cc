// Pack decoding into the metadata record, and frame counting: frames are not
// marked in a DV stream, so a new timecode opens a frame, and when the
// timecode fails the frame is reckoned from the number of sequences (10 per
// frame in 525/60, 12 in 625/50).
#include <gtest/gtest.h>

#include <cstdio>

#include "analysis/analyser.h"
#include "analysis/frame_analysis.h"
#include "frames/frame_reader.h"
#include "input/scanner.h"
#include "support/capture.h"

using namespace dvtest;

namespace {

// The log's analysis with the frame model beside it, as a run beyond the log
// makes them: each sequence to the frames first, then to the log.
struct with_frames final : dvlog::sequence_consumer {
  explicit with_frames(dvlog::event_sink& sink) : log(sink), frames(sink, 2000, &log.audio()), reader(frames) {}
  void on_sequence(const uint8_t* s, uint64_t offset) override {
    reader.on_sequence(s, offset);
    log.on_sequence(s, offset);
  }
  void finish(uint64_t bytes, const uint8_t* unexamined) {
    reader.finish(bytes, unexamined);
    frames.finish();
    log.finish(&frames.totals());
  }
  dvlog::analyser log;
  dvlog::frame_analysis frames;
  dvlog::frame_reader reader;
};

std::string dump(const dvlog::dv_meta& m) {
  char text[256];
  std::snprintf(text, sizeof text,
                "iris=%02X gain=%02X ap2=%04X shutter=%04X sh2=%04X camera2=%08X system=%02X src=%02X type=%02X "
                "aspect=%02X interlaced=%02X unlocked=%02X size=%02X rate=%02X bits=%02X emph_off=%02X "
                "tc=%08X df=%02X date=%08X time=%08X",
                m.iris, m.gain, m.ap2, m.shutter, m.sh2, m.camera2, m.system, m.src_flag, m.video_type, m.aspect,
                m.interlaced, m.audio_unlocked, m.audio_frame_size, m.audio_rate_code, m.audio_bits_code,
                m.emphasis_off, m.timecode, m.timecode_drop_frame, m.rec_date, m.rec_time);
  return text;
}

struct decode_row {
  bytes packs;
  size_t stride;
  int count;
  void (*expect)(dvlog::dv_meta&);  // the fields set, on a record of NO_INFO
  uint32_t seen;
};

const decode_row decode_rows[] = {
    // Timecode: frames, seconds, minutes, hours; the flag bits above the BCD
    // digits are masked, and PC1's bit 6 is the drop-frame flag.
    {{0x13, 0x05, 0x10, 0x20, 0x01}, 5, 1, [](dvlog::dv_meta& m) { m.timecode = 0x01201005; m.timecode_drop_frame = 0; }, 0x001},
    {{0x13, 0xC5, 0x90, 0xA0, 0xC1}, 5, 1, [](dvlog::dv_meta& m) { m.timecode = 0x01201005; m.timecode_drop_frame = 1; }, 0x001},
    {{0x13, 0x85, 0x10, 0x20, 0x01}, 5, 1, [](dvlog::dv_meta& m) { m.timecode = 0x01201005; m.timecode_drop_frame = 0; }, 0x001},
    {{0x13, 0xFF, 0xFF, 0xFF, 0xFF}, 5, 1, [](dvlog::dv_meta& m) { m.timecode = 0x3F7F7F3F; m.timecode_drop_frame = 1; }, 0x001},
    // Video source: PC2 top bit the source flag, PC3 bit 5 the 50-field system, low five bits the signal type.
    {{0x60, 0xFF, 0x80, 0x24, 0xFF}, 5, 1,
     [](dvlog::dv_meta& m) { m.src_flag = 1; m.system = 1; m.video_type = 4; }, 0x002},
    {{0x60, 0xFF, 0x7F, 0xD4, 0xFF}, 5, 1,
     [](dvlog::dv_meta& m) { m.src_flag = 0; m.system = 0; m.video_type = 0x14; }, 0x002},
    // Video source control: aspect in PC2's low three bits, interlace in PC3 bit 3.
    {{0x61, 0xFF, 0xFA, 0xFC, 0xFF}, 5, 1, [](dvlog::dv_meta& m) { m.aspect = 2; m.interlaced = 1; }, 0x004},
    {{0x61, 0xFF, 0xF3, 0xF4, 0xFF}, 5, 1, [](dvlog::dv_meta& m) { m.aspect = 3; m.interlaced = 0; }, 0x004},
    // Date: zone byte whole, day (six bits), weekday and month whole, year.
    {{0x62, 0xC9, 0xE6, 0xC6, 0x10}, 5, 1, [](dvlog::dv_meta& m) { m.rec_date = 0x10C626C9; }, 0x008},
    {{0x62, 0xFF, 0xFF, 0xFF, 0xFF}, 5, 1, [](dvlog::dv_meta& m) { m.rec_date = 0xFFFF3FFF; }, 0x008},
    {{0x63, 0x3F, 0x91, 0xC5, 0xD4}, 5, 1, [](dvlog::dv_meta& m) { m.rec_time = 0x1445113F; }, 0x010},
    // Camera 1: iris whole, gain in PC2's low nibble, PC3 and PC4 raw.
    {{0x70, 0xC6, 0xF1, 0x34, 0x12}, 5, 1, [](dvlog::dv_meta& m) { m.iris = 0xC6; m.gain = 1; m.ap2 = 0x1234; }, 0x020},
    {{0x71, 0x01, 0x02, 0x03, 0x04}, 5, 1, [](dvlog::dv_meta& m) { m.camera2 = 0x04030201; }, 0},
    // Shutter: 15-bit speed from PC3 and PC4, raw word from PC1 and PC2.
    {{0x7F, 0x12, 0x34, 0x56, 0xF8}, 5, 1, [](dvlog::dv_meta& m) { m.shutter = 0x7856; m.sh2 = 0x3412; }, 0x040},
    // Audio packs are read from the audio blocks only; unknown and empty packs change nothing.
    {{0x50, 0x14, 0x00, 0xC0, 0x00}, 5, 1, [](dvlog::dv_meta&) {}, 0},
    {{0x51, 0x1C, 0x4F, 0xF8, 0xFF}, 5, 1, [](dvlog::dv_meta&) {}, 0},
    {{0x14, 0x05, 0x10, 0x20, 0x01}, 5, 1, [](dvlog::dv_meta&) {}, 0},
    {{0xFF, 0x05, 0x10, 0x20, 0x01}, 5, 1, [](dvlog::dv_meta&) {}, 0},
    // The last copy wins; only `count` packs are read, `stride` bytes apart.
    {{0x13, 0x01, 0, 0, 0, 0x13, 0x02, 0, 0, 0}, 5, 2, [](dvlog::dv_meta& m) { m.timecode = 2; m.timecode_drop_frame = 0; }, 0x001},
    {{0x13, 0x01, 0, 0, 0, 0x13, 0x02, 0, 0, 0}, 5, 1, [](dvlog::dv_meta& m) { m.timecode = 1; m.timecode_drop_frame = 0; }, 0x001},
    {{0x13, 0x01, 0, 0, 0, 0x62, 0x62, 0x62, 0x63, 0x02, 0, 0, 0}, 8, 2,
     [](dvlog::dv_meta& m) { m.timecode = 1; m.timecode_drop_frame = 0; m.rec_time = 2; }, 0x011},
};

TEST(DecodePacks, FieldsAndBits) {
  for (const decode_row& row : decode_rows) {
    dvlog::dv_meta got, want;
    dvlog::meta_reset(got);
    dvlog::meta_reset(want);
    row.expect(want);
    const uint32_t seen = dvlog::decode_packs(row.packs.data(), row.stride, row.count, got);
    EXPECT_EQ(dump(got), dump(want)) << "pack " << std::hex << int{row.packs[0]};
    EXPECT_EQ(seen, row.seen) << "pack " << std::hex << int{row.packs[0]};
  }
}

// n sequences, each given its packs by put(sequence, i).
bytes build(size_t n, void (*put)(uint8_t*, size_t)) {
  bytes stream = make_stream(n);
  for (size_t i = 0; i < n; ++i) put(&stream[i * SEQ], i);
  return stream;
}

// A new timecode at every sequence, for checks of single sequences.
pack running_tc(size_t i) { return timecode_pack(0, 0, static_cast<int>(i / 25), static_cast<int>(i % 25)); }

void ntsc(uint8_t* s) { put_vaux_pack(s, 0, 0, video_source_pack(false)); }
void pal(uint8_t* s) { put_vaux_pack(s, 0, 0, video_source_pack(true)); }

void no_timecode_in_14(uint8_t* s, size_t i) {
  ntsc(s);
  if (i != 14) put_subcode_pack(s, 0, 2, running_tc(i));
}
void blank_first_timecode(uint8_t* s, size_t i) {
  ntsc(s);
  put_subcode_pack(s, 0, 0, i == 0 ? pack{0x13, 0xFF, 0xFF, 0xFF, 0xFF} : running_tc(i));
}

struct frame_row {
  const char* what;
  size_t sequences;
  void (*put)(uint8_t*, size_t);
  std::vector<std::pair<size_t, int32_t>> frames_after;  // (sequence index, frame_count)
};

const frame_row frame_rows[] = {
    {"timecode, NTSC: ten sequences per frame", 30,
     [](uint8_t* s, size_t i) { ntsc(s); put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, int(i / 10))); },
     {{0, 1}, {9, 1}, {10, 2}, {19, 2}, {20, 3}, {29, 3}}},
    {"frozen timecode", 30, [](uint8_t* s, size_t) { ntsc(s); put_subcode_pack(s, 1, 5, timecode_pack(1, 2, 3, 4)); },
     {{0, 1}, {29, 1}}},
    // The sequence without a timecode keeps the count; from the next one it is
    // (sequences - 1) / 10 + 1, even where that is lower.
    {"no timecode in sequence 14", 30, no_timecode_in_14,
     {{0, 1}, {13, 14}, {14, 14}, {15, 2}, {19, 2}, {20, 3}, {29, 3}}},
    // The blank timecode is met before any frame: the count stays 0 there.
    {"blank first timecode", 12, blank_first_timecode,
     {{0, 0}, {1, 1}, {9, 1}, {10, 2}, {11, 2}}},
    {"sequences, PAL: twelve per frame", 25, [](uint8_t* s, size_t) { pal(s); },
     {{0, 1}, {11, 1}, {12, 2}, {23, 2}, {24, 3}}},
    {"sequences, NTSC: ten per frame", 21, [](uint8_t* s, size_t) { ntsc(s); }, {{0, 1}, {9, 1}, {10, 2}, {20, 3}}},
    // At sequence 51 the whole count is divided by 12: 51 / 12 + 1 = 5, down from 50 / 10 + 1 = 6.
    {"system changes to PAL at sequence 51", 62, [](uint8_t* s, size_t i) { i <= 50 ? ntsc(s) : pal(s); },
     {{49, 5}, {50, 6}, {51, 5}, {59, 5}, {60, 6}, {61, 6}}},
    {"no timecode and no video source", 30, [](uint8_t*, size_t) {}, {{0, 0}, {29, 0}}},
    // Without a video source pack the count stops where the timecode failed.
    {"timecode fails, no video source", 30,
     [](uint8_t* s, size_t i) { if (i < 5) put_subcode_pack(s, 1, 0, running_tc(i)); },
     {{0, 1}, {4, 5}, {5, 5}, {29, 5}}},
};

TEST(FrameCounting, Modes) {
  for (const frame_row& row : frame_rows) {
    std::vector<int32_t> frames;
    drive(build(row.sequences, row.put), [&](size_t, const dvlog::analyser& a) { frames.push_back(a.frames()); });
    ASSERT_EQ(frames.size(), row.sequences) << row.what;
    for (const auto& [i, want] : row.frames_after) EXPECT_EQ(frames[i], want) << row.what << ", sequence " << i;
  }
}

constexpr char NOTICE[] = "Timecode is broken, switch to diff blocks for audio/frame count\n";

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(FrameCounting, MissingTimecodeSwitchesOnceAndKeepsTheLastTimecode) {
  const bytes stream = build(30, no_timecode_in_14);
  std::vector<bool> broken;
  std::vector<uint32_t> shown;
  drive(stream, [&](size_t, const dvlog::analyser& a) {
    broken.push_back(a.timecode_broken());
    shown.push_back(a.current().timecode);
  });
  EXPECT_FALSE(broken[13]);
  EXPECT_TRUE(broken[14]);
  EXPECT_TRUE(broken[29]);
  EXPECT_EQ(shown[14], 0x00000013u);  // 00:00:00 frame 13, from sequence 13
  EXPECT_EQ(shown[20], 0x00000020u);  // later timecodes are still decoded
  EXPECT_EQ(occurrences(run_in_process(stream).out, NOTICE), 1u);
}

TEST(FrameCounting, BlankFirstTimecodeGivesTheNoticeFirst) {
  const bytes stream = build(12, blank_first_timecode);
  std::vector<bool> broken;
  drive(stream, [&](size_t, const dvlog::analyser& a) { broken.push_back(a.timecode_broken()); });
  EXPECT_TRUE(broken[0]);
  const std::string out = run_in_process(stream).out;
  EXPECT_EQ(out.rfind(NOTICE, 0), 0u) << out;
  EXPECT_EQ(occurrences(out, NOTICE), 1u);
}

}  // namespace

// Damaged frames never outnumber the frames. A timecode that changes at every
// sequence counts a frame a sequence; when it then fails, frames are counted
// from sequences and the count goes back: the frames counted again are
// counted once. Every video block of every sequence is in error.
TEST(FrameCounting, DamagedFramesNeverOutnumberTheFrames) {
  struct row {
    const char* name;
    bool pal;
    size_t timed;  // sequences with a timecode of their own, from the first
    size_t sequences;
    int32_t frames;  // as the log counts them: from sequences at the end
    int64_t stream_frames;  // as the sequences' numbers delimit them
  };
  const row rows[] = {
      {"ntsc", false, 40, 60, 6, 6},
      {"pal", true, 30, 50, 5, 5},
      {"timed throughout", false, 25, 25, 25, 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes s = make_stream(r.sequences, r.pal);
    for (size_t i = 0; i < r.sequences; ++i) {
      uint8_t* seq = &s[i * SEQ];
      put_vaux_pack(seq, 0, 0, video_source_pack(r.pal));
      const int n = static_cast<int>(i);
      put_subcode_pack(seq, 0, 0, i < r.timed ? timecode_pack(0, 0, n / 25, n % 25) : pack{0x13, 0xFF, 0xFF, 0xFF, 0xFF});
      for (size_t k = 0; k < 135; ++k) seq[(6 + 16 * (k / 15) + 1 + k % 15) * 80 + 3] = 0x70;  // STA 7: error
    }
    struct : dvlog::event_sink {
      void status(const dvlog::status_event&) override {}
      void recording_start(const dvlog::recording_start_event&) override {}
      void timecode_broken(const dvlog::timecode_broken_event&) override {}
      void audio_block_warning(const dvlog::audio_block_warning_event&) override {}
      void summary(const dvlog::summary_event& e) override { told = e; }
      dvlog::summary_event told{};
    } sink;
    with_frames analysis(sink);
    for (size_t i = 0; i < r.sequences; ++i) analysis.on_sequence(&s[i * SEQ], i * SEQ);
    analysis.finish(s.size(), nullptr);
    EXPECT_EQ(sink.told.frames, r.frames);
    EXPECT_EQ(sink.told.damage.frames, r.stream_frames);
    EXPECT_EQ(sink.told.damage.damaged_frames, r.stream_frames);  // all of them, each once
  }
}

// Bytes in no DIF sequence are skipped bytes; a last frame that the input
// cuts short is a frame that lacks sequences. Skipped bytes before the first
// frame have no timecode to tell.
TEST(FrameCounting, SkippedBytes) {
  struct row {
    const char* name;
    size_t junk_before, sequences, cut_bytes;  // cut_bytes: of one more sequence, at the end
    uint64_t skipped;
    int64_t missing;  // sequences the last frame lacks
  };
  const row rows[] = {
      {"junk before", 100, 20, 0, 100, 0},
      {"a frame cut after its first sequence", 0, 21, 0, 0, 9},
      {"one sequence", 0, 1, 0, 0, 9},
      {"a frame cut inside its sixth sequence", 0, 25, 5000, 5000, 5},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes s = make_stream(r.sequences);
    for (size_t i = 0; i < r.sequences; ++i) {
      put_subcode_pack(&s[i * SEQ], 0, 0, timecode_pack(0, 0, 0, static_cast<int>(i / 10)));
      put_vaux_pack(&s[i * SEQ], 0, 0, video_source_pack(false));
    }
    s.insert(s.begin(), r.junk_before, 0x55);
    const bytes extra = make_sequence(static_cast<uint8_t>(r.sequences % 10));
    s.insert(s.end(), extra.begin(), extra.begin() + static_cast<long>(r.cut_bytes));
    struct : dvlog::event_sink {
      void status(const dvlog::status_event&) override {}
      void recording_start(const dvlog::recording_start_event&) override {}
      void timecode_broken(const dvlog::timecode_broken_event&) override {}
      void audio_block_warning(const dvlog::audio_block_warning_event&) override {}
      void skipped_bytes(const dvlog::skipped_bytes_event& e) override { first_timecode.push_back(e.stamp.timecode); }
      void summary(const dvlog::summary_event& e) override { told = e; }
      std::vector<uint32_t> first_timecode;
      dvlog::summary_event told{};
    } sink;
    with_frames analysis(sink);
    std::vector<uint8_t> window(dvlog::SCAN_WINDOW_SIZE);
    dvlog::scanner scan(window.data(), analysis);
    scan.feed(s.data(), s.size());
    analysis.finish(scan.bytes(), scan.unexamined_sequence());
    EXPECT_EQ(sink.told.damage.bytes_skipped, r.skipped);
    EXPECT_EQ(sink.told.damage.sum.sequences_missing, r.missing);
    ASSERT_EQ(sink.first_timecode.size(), r.skipped ? 1u : 0u);
    if (r.junk_before) {
      EXPECT_EQ(sink.first_timecode[0], dvlog::NO_INFO);
    }
  }
}

// Without timecodes, a sequence that fills a place the frame open lacks is
// one sent late, or the first of a frame that lost those before it: the
// sequence after it tells which.
TEST(FrameReader, SequenceFillingAPlaceWithoutTimecode) {
  struct row {
    const char* name;
    std::vector<int> numbers;
    std::vector<int> sequences;  // of each frame
    int64_t missing;
  };
  const row rows[] = {
      {"one sent late", {0, 1, 3, 4, 5, 6, 7, 8, 9, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 10}, 0},
      {"the next frame's first, each lost one", {0, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 9}, 2},
      {"the last of the input", {0, 2, 3, 4, 5, 6, 7, 8, 9, 1}, {10}, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    struct : dvlog::frame_listener {
      void frame(const dvlog::tape_frame& f) override { sequences.push_back(f.sequences), missing += f.damage.sequences_missing; }
      std::vector<int> sequences;
      int64_t missing = 0;
    } frames;
    dvlog::frame_reader reader(frames);
    uint64_t offset = 0;
    for (const int n : r.numbers) {
      bytes s = make_sequence(static_cast<uint8_t>(n));
      put_vaux_pack(s.data(), 0, 0, video_source_pack(false));
      reader.on_sequence(s.data(), offset);
      offset += SEQ;
    }
    reader.finish(offset, nullptr);
    EXPECT_EQ(frames.sequences, r.sequences);
    EXPECT_EQ(frames.missing, r.missing);
  }
}
