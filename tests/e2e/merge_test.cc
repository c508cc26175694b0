// dvlog --merge on transfers of one tape made at test time: a tape of two
// recordings spliced from ffmpeg streams (each starting with the same black,
// silent frames with no recording date, the second one's timecode starting
// from zero again), and transfers of it into which the tests write what decks
// and captures do (late start, early end, dropped and repeated frames, junk,
// lost sequences and subcode, concealed and erroneous video blocks, audio
// error samples, and a dropout of the tape itself that every transfer shares).
// The merged stream is compared block for block with the tape.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "support/dif_builder.h"
#include "support/run_tool.h"

namespace dvtest {
namespace {

constexpr size_t BLOCK = 80, FRAME = 10 * SEQ;  // 525/60: ten sequences a frame
constexpr int BLOCKS = 150;
constexpr uint8_t TIMECODE = 0x13, REC_DATE = 0x62, REC_TIME = 0x63, AAUX_DATE = 0x52, AAUX_TIME = 0x53,
                  AUDIO_SOURCE_CONTROL = 0x51;

size_t at(int frame, int seq, int block = 0) { return frame * FRAME + seq * SEQ + block * BLOCK; }
bool audio(int block) { return block >= 6 && (block - 6) % 16 == 0; }
bool video(int block) { return block >= 6 && !audio(block); }

// Every pack of a frame: six in each subcode block (after two sync ID bytes
// and a parity byte each), fifteen in each VAUX block, one in each audio block.
template <typename F>
void for_each_pack(uint8_t* frame, F&& visit) {
  for (int s = 0; s < 10; ++s) {
    uint8_t* seq = frame + at(0, s);
    for (int i = 0; i < 12; ++i) visit(seq + (1 + i / 6) * BLOCK + 6 + 8 * (i % 6));
    for (int i = 0; i < 45; ++i) visit(seq + (3 + i / 15) * BLOCK + 3 + 5 * (i % 15));
    for (int j = 0; j < 9; ++j) visit(seq + (6 + 16 * j) * BLOCK + 3);
  }
}

// `frames` frames of an ffmpeg source (asked for a little more, cut to whole frames).
bytes clip(const temp_dir& dir, const std::string& video, const std::string& sound, int frames, bool pal = false,
           const std::string& more = "") {
  const std::string path = dir.file("clip.dv");
  int status = -1;
  shell_output("ffmpeg -nostdin -v error -y -f lavfi -i " + video + " -f lavfi -i " + sound + " -t " +
                   std::to_string(frames / (pal ? 25.0 : 29.97) + 0.2) + " -c:v dvvideo -pix_fmt " +
                   (pal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -ac 2 " + more + " -f dv " + shell_quote(path),
               &status);
  EXPECT_EQ(status, 0);
  bytes dv = read_file(path);
  dv.resize(std::min(dv.size(), frames * (pal ? 12 : 10) * SEQ));
  return dv;
}

// The tape: black (6 frames) and a test pattern with a recording date (40),
// then black again and another pattern without a date (50), the timecode
// starting from zero in each recording, whose first frame is marked as a
// recording start. Without `timecode`, every timecode is lost.
constexpr int RECORDING_2 = 46, TAPE_FRAMES = 102;
bytes make_tape(const temp_dir& dir, bool timecode, const std::string& first_picture = "testsrc",
                const std::string& second_picture = "testsrc2") {
  const std::string ntsc = "size=720x480:rate=30000/1001";
  const bytes black = clip(dir, "color=c=black:" + ntsc, "anullsrc=r=48000:cl=stereo", 6);
  const bytes one = clip(dir, first_picture + "=" + ntsc, "sine=frequency=440:sample_rate=48000", 40, false,
                         "-metadata creation_time=2010-06-26T14:45:11");
  const bytes two = clip(dir, second_picture + "=" + ntsc, "sine=frequency=1000:sample_rate=48000", 50);
  bytes tape;
  for (const bytes* piece : {&black, &one, &black, &two}) tape.insert(tape.end(), piece->begin(), piece->end());
  EXPECT_EQ(tape.size(), TAPE_FRAMES * FRAME);
  for (int f = 0; f < TAPE_FRAMES; ++f) {
    const int tc = f < RECORDING_2 ? f : f - RECORDING_2;
    const bool dated = f >= 6 && f < RECORDING_2;
    for_each_pack(&tape[at(f, 0)], [&](uint8_t* p) {
      if (p[0] == TIMECODE) p[1] = (p[1] & 0xC0) | bcd(tc % 30), p[2] = (p[2] & 0x80) | bcd(tc / 30), p[3] &= 0x80, p[4] &= 0xC0;
      if (p[0] == TIMECODE && !timecode) std::fill(p + 1, p + 5, 0xFF);
      if (!dated && (p[0] == REC_DATE || p[0] == REC_TIME || p[0] == AAUX_DATE || p[0] == AAUX_TIME)) std::fill(p + 1, p + 5, 0xFF);
      if (p[0] == AUDIO_SOURCE_CONTROL) p[2] = (f == 0 || f == RECORDING_2) ? p[2] & 0x7F : p[2] | 0x80;
    });
  }
  return tape;
}

// What a transfer read and what it lost. A hit's `how` is the status written
// into a video block, or, for an audio block, an error sample written there.
struct hit { int frame, seq, block, how; };
struct transfer {
  std::vector<int> frames{};        // the tape frames in the order read
  std::vector<hit> hits{};
  std::set<std::pair<int, int>> cut{};  // sequences lost: frame, sequence
  int subcode_from = 0, subcode_to = -1;  // frames whose subcode was lost
  std::set<int> junk_before{};      // places in `frames` with junk before them
  // Reads of one pass only: hits whose `frame` is a place in `frames`, and
  // places where the deck shuttled (its AAUX says reverse, not at normal speed).
  std::vector<hit> read_hits{};
  std::set<int> shuttled{};
  bool first_pack_pal = false;      // its first video source pack says 625/50
  // Places in `frames` read without their subcode, and where a deck sent
  // its stand-in (every pack 0xFF, video concealed, audio all error codes).
  std::set<int> bare_at{}, stand_in_at{};
};
std::vector<int> span(int first, int last, std::vector<int> skip = {}, int repeat = -1) {
  std::vector<int> v;
  for (int f = first; f <= last; ++f)
    if (std::find(skip.begin(), skip.end(), f) == skip.end())
      for (int n = f == repeat ? 2 : 1; n > 0; --n) v.push_back(f);
  return v;
}
// Deck 1 stops early and lost frame 60; deck 2 started late (in the black of
// the first recording), its capture dropped frames 30 and 60 and repeated 70,
// and it lost the subcode of the second recording's black. Frame 50 holds a
// dropout of the tape: concealed in deck 1, in error in deck 2 and 3.
const transfer DECKS[] = {
    {span(0, 95, {60}),
     {{10, 3, 20, 2}, {10, 3, 21, 2}, {20, 1, 54, 0}, {50, 2, 30, 2}, {50, 2, 31, 2}, {90, 4, 38, 0}, {75, 0, 8, 7}},
     {{45, 3}, {80, 5}}, 30, 34, {12, 40}},
    {span(3, TAPE_FRAMES - 1, {30, 60}, 70),
     {{25, 0, 6, 0}, {50, 2, 30, 7}, {50, 2, 31, 7}, {90, 4, 38, 0}, {75, 0, 8, 7}, {99, 9, 149, 15}},
     {{33, 7}}, 44, 50, {20}},
    {span(40, 92), {{50, 2, 30, 7}, {75, 0, 8, 15}, {88, 1, 9, 2}}, {}, 0, -1, {}},
};

bytes transfer_bytes(const bytes& tape, const transfer& t) {
  bytes out;
  for (size_t k = 0; k < t.frames.size(); ++k) {
    const int f = t.frames[k];
    if (t.junk_before.count(static_cast<int>(k))) out.insert(out.end(), 5000, 0x5A);
    bytes frame(tape.begin() + at(f, 0), tape.begin() + at(f + 1, 0));
    if ((f >= t.subcode_from && f <= t.subcode_to) || t.bare_at.count(static_cast<int>(k)))
      for (int s = 0; s < 10; ++s)
        for (int i = 0; i < 12; ++i) std::fill_n(&frame[at(0, s, 1 + i / 6) + 6 + 8 * (i % 6)], 5, 0xFF);
    for (const std::vector<hit>* list : {&t.hits, &t.read_hits})
      for (const hit& h : *list) {
        if (h.frame != (list == &t.hits ? f : static_cast<int>(k))) continue;
        uint8_t* b = &frame[at(0, h.seq, h.block)];
        if (video(h.block)) b[3] = static_cast<uint8_t>(h.how << 4 | (b[3] & 0x0F));
        else b[8] = 0x80, b[9] = 0x00;  // the first sample: 0x8000
      }
    if (t.shuttled.count(static_cast<int>(k)))
      for_each_pack(frame.data(), [](uint8_t* p) { if (p[0] == AUDIO_SOURCE_CONTROL) p[3] = 0x0A; });  // DRF 0, SPEED 10
    for (int i = 0; i < 45 && k == 0 && t.first_pack_pal; ++i) {  // the first VAUX source pack says 50/60: 1
      uint8_t* p = &frame[at(0, 0, 3 + i / 15) + 3 + 5 * (i % 15)];
      if (p[0] == 0x60) p[3] |= 0x20, i = 45;
    }
    if (t.stand_in_at.count(static_cast<int>(k))) {
      for_each_pack(frame.data(), [](uint8_t* p) { std::fill_n(p, 5, 0xFF); });
      for (int s = 0; s < 10; ++s)
        for (int b = 6; b < BLOCKS; ++b) {
          uint8_t* block = &frame[at(0, s, b)];
          if (video(b)) block[3] = static_cast<uint8_t>(0x20 | (block[3] & 0x0F));
          else for (size_t i = 8; i < BLOCK; i += 2) block[i] = 0x80, block[i + 1] = 0x00;
        }
    }
    for (int s = 9; s >= 0; --s)
      if (t.cut.count({f, s})) frame.erase(frame.begin() + at(0, s), frame.begin() + at(0, s + 1));
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

// The places in `frames` where the deck read tape frame f at playback speed.
std::vector<size_t> reads_of(const transfer& t, int f) {
  std::vector<size_t> v;
  for (size_t k = 0; k < t.frames.size(); ++k)
    if (t.frames[k] == f && !t.shuttled.count(static_cast<int>(k))) v.push_back(k);
  return v;
}
bool holds(const transfer& t, int f) { return !reads_of(t, f).empty(); }
bool read_right(const transfer& t, int f, int s, int b) {
  if (!holds(t, f) || t.cut.count({f, s})) return false;
  if ((b == 1 || b == 2) && f >= t.subcode_from && f <= t.subcode_to) return false;
  for (const hit& h : t.hits)
    if (h.frame == f && h.seq == s && h.block == b) return false;
  for (const size_t k : reads_of(t, f)) {
    const int place = static_cast<int>(k);
    bool right = !(t.stand_in_at.count(place) && b > 0) && !(t.bare_at.count(place) && (b == 1 || b == 2));
    for (const hit& h : t.read_hits) right &= !(h.frame == place && h.seq == s && h.block == b);
    if (right) return true;
  }
  return false;
}

class Merge : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = -1;
    shell_output("command -v ffmpeg && command -v jq", &status);
    if (status != 0) GTEST_SKIP() << "ffmpeg or jq not found: the merge tests need them";
  }
  temp_dir dir;
};

// Two and three transfers, with the timecode and without it (matched by
// content alone): the merged stream is the tape, block for block,
// wherever some transfer read a block right, and marked where none did; its
// log is that of `dvlog OUT`, followed by the merge's lines, which count what
// the tests wrote; the JSON log tells the same and follows the schema.
TEST_F(Merge, RebuildsTheTape) {
  for (const bool timecode : {true, false})
  for (size_t used : {2, 3}) {
    SCOPED_TRACE(std::to_string(used) + (timecode ? " transfers" : " transfers without timecode"));
    const bytes tape = make_tape(dir, timecode);
    std::vector<std::string> paths;
    for (const char* name : {"t1.dv", "t2.dv", "t3.dv"})
      paths.push_back(dir.write(name, transfer_bytes(tape, DECKS[paths.size()])));
    const std::string out = dir.file("out.dv");
    std::vector<std::string> args{"--damage", "--merge", out};
    args.insert(args.end(), paths.begin(), paths.begin() + used);
    unlink(out.c_str());
    const tool_run run = run_tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const bytes merged = read_file(out);

    // What the merge should have taken from where: a block from the first
    // transfer that read it right; where none did, from the first that has it
    // (the decks lose alike, or the first loses least).
    long long recovered = 0, damaged_blocks = 0, damaged_frames = 0, assembled = 0, held = 0;
    std::vector<long long> frames_taken(used), blocks_taken(used);
    for (int f = 0; f < TAPE_FRAMES; ++f) {
      size_t base = 0;
      while (base < used && !holds(DECKS[base], f)) ++base;
      if (base == used) continue;
      ++frames_taken[base];
      std::set<size_t> from;
      bool damaged = false;
      for (int s = 0; s < 10; ++s)
        for (int b = 0; b < BLOCKS; ++b) {
          size_t right = 0, has = 0;
          while (right < used && !read_right(DECKS[right], f, s, b)) ++right;
          while (has < used && !(holds(DECKS[has], f) && !DECKS[has].cut.count({f, s}))) ++has;
          const size_t o = at(f, s, b), m = at(static_cast<int>(held), s, b);
          ASSERT_LE(m + BLOCK, merged.size());
          const size_t chosen = right < used ? right : has;
          from.insert(chosen), ++blocks_taken[chosen];
          if (right < used) {
            EXPECT_TRUE(std::equal(&tape[o], &tape[o] + BLOCK, &merged[m])) << "frame " << f << " seq " << s << " block " << b;
          } else if (video(b) || audio(b)) {  // a subcode block none read has no packs to lose
            EXPECT_TRUE(video(b) ? merged[m + 3] >> 4 != 0 : merged[m + 8] == 0x80) << "unmarked: frame " << f;
            ++damaged_blocks, damaged = true;
          }
          recovered += chosen != base && (right < used || !(video(b) || audio(b)));
        }
      ++held, damaged_frames += damaged, assembled += from.size() > 1;
    }
    EXPECT_EQ(merged.size(), held * FRAME);
    std::string lines = "============\nMerge: " + std::to_string(used) + " transfers into " + out + "\n";
    for (size_t t = 0; t < used; ++t) {
      long long hits = 0;
      for (const hit& h : DECKS[t].hits) hits += holds(DECKS[t], h.frame);
      lines += "Transfer " + std::to_string(t + 1) + ", " + paths[t] + ": " + std::to_string(DECKS[t].frames.size()) +
               " frames (1 pass, 0 not at playback speed, " + (t == 1 ? "1" : "0") + " repeated); taken: " + std::to_string(frames_taken[t]) + " frames, " + std::to_string(blocks_taken[t]) +
               " blocks; damaged blocks: " + std::to_string(hits) + "\n";
    }
    lines += "Merged frames: " + std::to_string(held) + " (" + std::to_string(assembled) +
             " assembled from more than one transfer)\nBlocks recovered: " + std::to_string(recovered) +
             "\nStill damaged: " + std::to_string(damaged_frames) + " frame" + (damaged_frames == 1 ? "" : "s") + ", " +
             std::to_string(damaged_blocks) + " blocks; sequences missing: 0\n";
    const std::string log = run_tool({"--damage", out}).out;
    EXPECT_EQ(run.out, log + lines);

    // The JSON log tells the same, as the schema says.
    // OUT is refused once it exists: each run makes it anew.
    const std::string json = "rm -f " + shell_quote(out) + " && " + shell_quote(DVLOG_BINARY) + " --json --damage --merge " + shell_quote(out);
    std::string files;
    for (size_t t = 0; t < used; ++t) files.append(" ").append(shell_quote(paths[t]));
    EXPECT_EQ(shell_output(json + files + " | " + shell_quote(source_file("tests/tools/json-to-log"))), run.out);
    int status = -1;
    const std::string bad =
        shell_output(json + files + " | " + shell_quote(source_file("tests/tools/validate-events")) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << bad;

    // The report of the merged stream shows where each stretch came from.
    const std::string page = dir.file("merged.html");
    // And a progress line, asked for, tells each stage, and is erased.
    unlink(out.c_str());
    const tool_run shown = run_tool({"--progress", "--report", page, "--merge", out, paths[0], paths[1]});
    EXPECT_EQ(shown.status, 0);
    const size_t indexing = shown.err.find("\rdvlog: indexing, file 1 of 2, 0 MB of "),
                 writing = shown.err.find("\rdvlog: writing, 0 MB of ");
    EXPECT_TRUE(indexing != std::string::npos && writing != std::string::npos && indexing < writing) << shown.err;
    EXPECT_EQ(shown.err.back(), '\r');
    const bytes html = read_file(page);
    const std::string text(html.begin(), html.end());
    for (const char* shown : {"id=\"lane-merge\"", "from transfer 1</title>", "from transfer 2</title>",
                              "<table id=\"transfers\">", "<td class=\"n\">1 pass</td>"})
      EXPECT_NE(text.find(shown), std::string::npos) << shown;
    EXPECT_EQ(text.find(", still damaged</title>") != std::string::npos, damaged_frames > 0);
  }
}

// Transfers as captures leave them, each merged as given: OUT holds every
// tape frame some transfer read at playback speed, once, in tape order, and
// equals the tape wherever some read of a block was right (marked where none
// was), with and without timecodes. `passes`: the passes told of each.
std::vector<int> concat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> v;
  for (const std::vector<int>& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}
std::set<int> places(int first, int last) {
  std::set<int> v;
  for (int k = first; k <= last; ++k) v.insert(k);
  return v;
}
TEST_F(Merge, TapeOrderRepeatsAndRetakes) {
  const transfer whole{span(0, TAPE_FRAMES - 1)};
  transfer repeat{span(0, TAPE_FRAMES - 1, {35}, 34)}, back{concat({span(0, 79), span(60, TAPE_FRAMES - 1)})},
      swapped{concat({span(51, TAPE_FRAMES - 1), span(0, 50)})},
      dropped{span(0, TAPE_FRAMES - 1, {60, 61, 62, 63})}, no_subcode{span(0, TAPE_FRAMES - 1)}, pal_pack{whole};
  no_subcode.subcode_from = 58, no_subcode.subcode_to = 66;
  pal_pack.first_pack_pal = true;
  // One capture of three passes over two damaged stretches (tape frames 20
  // to 25 and 45 to 50), the deck shuttling back between them. Both passes
  // over the first lost block 40 of sequence 2 (it stays marked), and block
  // 50 of sequence 3 of frame 21 (pass 2 lost it in frame 23 too); the
  // second is read right block by block across the three. Places: pass 1 is
  // 0-60, then 6 shuttled frames, pass 2 (15-55) from 67, 4 shuttled, pass 3
  // (40-101) from 112.
  transfer capture{concat({span(0, 60), {55, 48, 40, 30, 20, 14}, span(15, 55), {50, 45, 40, 39}, span(40, 101)})};
  capture.shuttled = places(61, 66);
  for (const int k : places(108, 111)) capture.shuttled.insert(k);
  for (int f = 20; f <= 25; ++f)
    for (const int place : {f, 67 + f - 15}) capture.read_hits.push_back({place, 2, 40, 7});
  for (const int place : {21, 67 + 6, 67 + 8}) capture.read_hits.push_back({place, 3, 50, 7});  // pass 2 reads 21 right
  for (int f = 45; f <= 50; ++f) {
    capture.read_hits.push_back({f, 4, 70, 2});            // pass 1 lost block 70, pass 2 block 71
    capture.read_hits.push_back({67 + f - 15, 4, 71, 7});  // and pass 3 both
    for (const int b : {70, 71}) capture.read_hits.push_back({112 + f - 40, 4, b, 7});
  }
  struct row {
    const char* name;
    std::vector<const transfer*> given;
    std::vector<int> passes;
    // Refused: the tape's two recordings open with the same black under the
    // same timecodes and the second bears no date, so nothing says which
    // transfer went back to which.
    bool refused = false;
  };
  const row rows[] = {
      {"swapped halves", {&whole, &swapped}, {}, true},
      {"swapped halves, given first", {&swapped, &whole}, {}, true},
      {"a repeat in place of a drop", {&whole, &repeat}, {1, 1}},
      {"the same, three transfers", {&repeat, &whole, &DECKS[2]}, {1, 1, 1}},
      {"a capture that went back 20 frames, alone", {&back}, {2}},
      {"dropped frames against lost subcode", {&dropped, &no_subcode}, {1, 1}},
      {"a damaged first pack", {&whole, &pal_pack}, {1, 1}},
      {"one capture, three passes", {&capture}, {3}},
  };
  for (const bool timecode : {true, false}) {
    const bytes tape = make_tape(dir, timecode);
    for (const row& r : rows) {
      SCOPED_TRACE(std::string(r.name) + (timecode ? "" : ", without timecode"));
      std::vector<std::string> args{"--json", "--report", dir.file("merged.html"), "--merge", dir.file("out.dv")};
      for (const transfer* t : r.given)
        args.push_back(dir.write(std::to_string(args.size()).append(".dv"), transfer_bytes(tape, *t)));
      unlink(dir.file("out.dv").c_str());
      const tool_run run = run_tool(args);
      if (r.refused) {
        EXPECT_EQ(run.status, 1) << run.err;
        continue;
      }
      ASSERT_EQ(run.status, 0) << run.err;
      const bytes merged = read_file(dir.file("out.dv"));
      int held = 0;
      for (int f = 0; f < TAPE_FRAMES; ++f) {
        if (std::none_of(r.given.begin(), r.given.end(), [&](const transfer* t) { return holds(*t, f); })) continue;
        for (int seq = 0; seq < 10; ++seq)
          for (int b = 0; b < BLOCKS; ++b) {
            const size_t o = at(f, seq, b), m = at(held, seq, b);
            ASSERT_LE(m + BLOCK, merged.size());
            if (std::any_of(r.given.begin(), r.given.end(), [&](const transfer* t) { return read_right(*t, f, seq, b); })) {
              EXPECT_TRUE(std::equal(&tape[o], &tape[o] + BLOCK, &merged[m])) << "frame " << f << " seq " << seq << " block " << b;
            } else if (video(b)) {
              EXPECT_NE(merged[m + 3] >> 4, 0) << "unmarked: frame " << f;
            }
          }
        ++held;
      }
      EXPECT_EQ(merged.size(), held * FRAME);
      std::string passes;
      for (const int n : r.passes) passes += std::to_string(n) + " ";
      // The report's table of transfers gives each pass its row.
      const bytes html = read_file(dir.file("merged.html"));
      const std::string page(html.begin(), html.end());
      for (size_t t = 0; t < r.passes.size(); ++t)
        for (int n = 2; n <= r.passes[t]; ++n)
          EXPECT_NE(page.find("<tr><td></td><td class=\"n\">" + std::to_string(n) + "</td>"), std::string::npos);
      if (!r.passes.empty()) {
        EXPECT_EQ(shell_output("printf '%s' " + shell_quote(run.out) +
                               " | jq -j 'select(.event == \"merge\") | .transfers[] | \"\\(.passes) \"'"),
                  passes);
      }
    }
  }
}

// The faults of earlier merges, each a named case on the tape with
// timecodes: OUT is the tape frames some transfer read, byte for byte (what
// one read lost another read right), whichever transfer is given first.
TEST_F(Merge, ListedCases) {
  const bytes tape = make_tape(dir, true);
  transfer repeat_bare{span(0, TAPE_FRAMES - 1, {}, 42)}, b_60{concat({span(0, 60), span(62, TAPE_FRAMES - 1)})},
      stand_in{span(0, TAPE_FRAMES - 1)}, shuttled{concat({span(0, 59), {50, 45, 40}, span(55, TAPE_FRAMES - 1)})};
  repeat_bare.bare_at = {43};  // the repeat of 42
  b_60.bare_at = {60};
  stand_in.stand_in_at = {50};
  shuttled.shuttled = {60, 61, 62};
  struct row {
    const char* name;
    std::vector<transfer> given;
  };
  const row rows[] = {
      {"one lacks 43, the other 44", {{span(0, 101, {43})}, {span(0, 101, {44})}}},
      {"a repeat whose subcode was lost", {repeat_bare, {span(0, 101)}}},
      {"60 read without subcode by one that dropped 61, dropped by the other", {b_60, {span(0, 101, {60})}}},
      {"one began inside frames the other dropped", {{span(0, 101, {20, 21, 22})}, {span(21, 101)}}},
      {"a retake going back 2 frames", {{concat({span(0, 59), span(58, 101)})}}},
      {"a retake going back 7 frames", {{concat({span(0, 59), span(53, 101)})}}},
      {"a retake going back 5 frames over shuttle frames", {shuttled}},
      {"a capture put together out of order, given first", {{concat({span(70, 101), span(50, 69)})}, {span(40, 101)}}},
      {"the same, given second", {{span(40, 101)}, {concat({span(70, 101), span(50, 69)})}}},
      {"a deck's stand-in where another read the frame", {stand_in, {span(0, 101)}}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> args{"--merge", dir.file("out.dv")};
    bytes expected;
    for (int f = 0; f < TAPE_FRAMES; ++f) {
      if (std::none_of(r.given.begin(), r.given.end(), [&](const transfer& t) { return holds(t, f); })) continue;
      expected.insert(expected.end(), tape.begin() + at(f, 0), tape.begin() + at(f + 1, 0));
      // A subcode no read had right stays lost.
      if (std::all_of(r.given.begin(), r.given.end(), [&](const transfer& t) { return !read_right(t, f, 0, 1); }))
        for (int s = 0; s < 10; ++s)
          for (int i = 0; i < 12; ++i) std::fill_n(&expected[expected.size() - FRAME + at(0, s, 1 + i / 6) + 6 + 8 * (i % 6)], 5, 0xFF);
    }
    for (const transfer& t : r.given) args.push_back(dir.write(std::to_string(args.size()) + ".dv", transfer_bytes(tape, t)));
    unlink(dir.file("out.dv").c_str());
    const tool_run run = run_tool(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(read_file(dir.file("out.dv")) == expected);
  }

  // DVCPRO HD 720p: every frame is two pictures, both merged.
  const std::string hd = dir.file("hd.dv");
  int status = -1;
  shell_output("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=960x720:rate=60000/1001 -t 0.5 -c:v dvvideo "
               "-pix_fmt yuv422p -timecode 01:00:00:00 -f dv " + shell_quote(hd), &status);
  ASSERT_EQ(status, 0);
  bytes damaged = read_file(hd);
  for (size_t frame = 0; frame < damaged.size(); frame += 40 * SEQ) damaged[frame + 30 * SEQ + 7 * BLOCK + 3] |= 0x70;
  unlink(dir.file("out.dv").c_str());
  EXPECT_EQ(run_tool({"--merge", dir.file("out.dv"), dir.write("hd-damaged.dv", damaged), hd}).status, 0);
  EXPECT_TRUE(read_file(dir.file("out.dv")) == read_file(hd));
}

// What is refused, with nothing written: transfers of different tapes or
// systems, OUT naming an input, a file that cannot be read; and the command
// lines that are no merge.
TEST_F(Merge, Refusals) {
  const std::string ntsc = "size=720x480:rate=30000/1001";
  const std::string a = dir.write("a.dv", clip(dir, "testsrc=" + ntsc, "sine=sample_rate=48000", 10));
  const std::string b = dir.write("b.dv", clip(dir, "testsrc2=" + ntsc, "sine=sample_rate=48000", 10));
  const std::string later = dir.write("later.dv", clip(dir, "testsrc2=" + ntsc, "sine=sample_rate=48000", 10, false,
                                                       "-timecode 01:00:00:00"));
  const std::string pal = dir.write("pal.dv", clip(dir, "testsrc=size=720x576:rate=25", "sine=sample_rate=48000", 10, true));
  // Two tapes that open with the same black, silent frames under the same
  // timecode and recording date, then pictures of their own.
  const std::string tape_a = dir.write("tape-a.dv", make_tape(dir, true)),
                    tape_b = dir.write("tape-b.dv", make_tape(dir, true, "testsrc2", "rgbtestsrc")),
                    bare_a = dir.write("bare-a.dv", make_tape(dir, false)),
                    bare_b = dir.write("bare-b.dv", make_tape(dir, false, "testsrc2", "testsrc"));
  // The second tape again, with one video block in error in every sequence:
  // what both read right still differs.
  bytes worn = read_file(tape_b);
  for (size_t seq = 0; seq < worn.size(); seq += SEQ) worn[seq + 7 * BLOCK + 3] |= 0x70;
  const std::string worn_b = dir.write("worn-b.dv", worn), kept = dir.write("kept.dv", bytes(1000, 0x42));
  const std::string out = dir.file("out.dv"), missing = dir.file("missing.dv"), fifo = dir.file("fifo"),
                    link = dir.file("link.dv"), TRY = "Try 'dvlog --help'.\n";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::link(a.c_str(), link.c_str()), 0);
  struct row { std::vector<std::string> args; int status; std::string err; };
  const row rows[] = {
      {{a, later}, 1, "dvlog: " + later + " shares no frame with " + a + "\n"},
      {{a, b}, 1, "dvlog: " + b + " differs from " + a + " at 00:00:00:00: not transfers of one tape\n"},
      {{tape_a, tape_b}, 1, "dvlog: " + tape_b + " differs from " + tape_a + " at 00:00:00:06: not transfers of one tape\n"},
      {{tape_a, worn_b}, 1, "dvlog: " + worn_b + " differs from " + tape_a + " at 00:00:00:06: not transfers of one tape\n"},
      {{"--merge", kept, a, b}, 2, "dvlog: --merge " + kept + " exists: a merge writes a new file\n" + TRY},
      {{bare_a, bare_b}, 1, "dvlog: " + bare_b + " shares no frame with " + bare_a + "\n"},
      {{a, pal}, 1, "dvlog: " + a + " is NTSC DV25 and " + pal + " is PAL DV25: no transfers of one tape\n"},
      {{a, missing}, 1, "Could not open file " + missing + ": No such file or directory\n"},
      {{a, b, "--merge", a}, 1, "Could not write merged stream " + a + ": it is the input\n"},
      {{a, "-"}, 2, "dvlog: --merge needs transfers as files, not standard input\n" + TRY},
      // Outputs are checked before anything is read.
      {{"--merge", "/dev/null", a, b}, 2, "dvlog: --merge /dev/null is no regular file (OUT is read back for its log)\n" + TRY},
      {{"--merge", fifo, a, b}, 2, "dvlog: --merge " + fifo + " is no regular file (OUT is read back for its log)\n" + TRY},
      {{"--report", out, a, b}, 2, "dvlog: --report and --merge name one file, " + out + "\n" + TRY},
      {{a, link}, 2, "dvlog: " + a + " and " + link + " are one file, given twice\n" + TRY},
  };
  for (const row& r : rows) {
    std::vector<std::string> args = r.args;
    if (std::find(args.begin(), args.end(), "--merge") == args.end()) args.insert(args.begin(), {"--merge", out});
    const tool_run run = run_tool(args);
    EXPECT_EQ(run.status, r.status) << r.err;
    EXPECT_EQ(run.err, r.err);
    EXPECT_EQ(run.out, "");
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0) << "an output was left for " << r.err;
  }
  EXPECT_EQ(read_file(a).size(), 10 * FRAME);  // the input named as OUT is untouched
  EXPECT_TRUE(read_file(kept) == bytes(1000, 0x42));
  // Standard output, a file: the log is not replaced by the merged stream.
  int status = -1;
  shell_output(shell_quote(DVLOG_BINARY) + " --merge /dev/stdout " + shell_quote(a) + " " + shell_quote(b) + " > " +
                   shell_quote(out) + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(read_file(out).size(), 0u);
}

}  // namespace
}  // namespace dvtest
