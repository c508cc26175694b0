// Writes the hand-built seeds of the fuzz corpus: short streams of a few DIF
// sequences carrying what a camcorder records and ffmpeg does not (camera
// packs, recording starts, unusual audio and zone settings) and the faults the
// analyser must absorb (broken timecodes, misplaced blocks, junk). Each seed
// stays under the fuzzer's length limit of five sequences.
//
// Usage: dvlog_fuzz_seeds DIRECTORY
#include <cstdio>
#include <string>

#include "support/dif_builder.h"

using namespace dvtest;

namespace {

// A scan examines a sequence that starts the input or follows another only
// when at least one byte comes after it, so every seed ends with one more.
constexpr uint8_t TAIL = 0x00;

uint8_t* seq(bytes& stream, size_t index) { return stream.data() + index * SEQ; }

void put_common_vaux(uint8_t* s, bool pal, uint8_t aspect, bool interlaced, uint8_t video_type) {
  put_vaux_pack(s, 0, 0, video_source_pack(pal, video_type));
  put_vaux_pack(s, 0, 1, video_control_pack(aspect, interlaced));
}

bool write_seed(const std::string& dir, const char* name, bytes data) {
  data.push_back(TAIL);
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    return false;
  }
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// Every kind of pack in the first sequence, so the first status line comes
// at once; the next frame changes every camera setting and starts a recording.
bytes camera_stream() {
  bytes st = make_stream(3);
  for (size_t i = 0; i < 3; ++i) {
    uint8_t* s = seq(st, i);
    const bool second_frame = i == 2;
    put_subcode_pack(s, 0, 0, timecode_pack(1, 20, 10, second_frame ? 6 : 5));
    put_subcode_pack(s, 1, 3, rec_date_pack(0xC9, 26, 6, 6, 10));
    put_common_vaux(s, false, 0, true, 0x00);
    put_vaux_pack(s, 0, 2, rec_date_pack(0xC9, 26, 6, 6, 10));
    put_vaux_pack(s, 0, 3, rec_time_pack(14, 45, 11));
    put_vaux_pack(s, 1, 0, second_frame ? camera1_pack(0xDB, 14, 0x1234) : camera1_pack(0xC6, 1));
    put_vaux_pack(s, 1, 1, {0x71, 0x01, 0x02, 0x03, static_cast<uint8_t>(second_frame ? 0x05 : 0x04)});
    put_vaux_pack(s, 1, 2, second_frame ? shutter_pack(18, 0x5678) : shutter_pack(260));
    put_audio_pack(s, 0, audio_source_pack(20, 0, false));
    if (second_frame) put_audio_pack(s, 3, audio_control_pack(true));
  }
  return st;
}

// 625/50 with 44.1 kHz, unlocked 12-bit audio with emphasis, a 16:9
// progressive DV50 picture and a daylight-saving zone east of Greenwich; a
// recording start in the first frame, then a change of aperture and sampling
// rate.
bytes pal_stream() {
  bytes st = make_stream(4, true);
  for (size_t i = 0; i < 4; ++i) {
    uint8_t* s = seq(st, i);
    put_subcode_pack(s, 0, 1, timecode_pack(23, 59, 59, 24));
    put_common_vaux(s, true, 2, false, 0x04);
    put_vaux_pack(s, 2, 0, rec_date_pack(0x41, 31, 5, 12, 99));
    put_vaux_pack(s, 2, 1, rec_time_pack(23, 59, 58, 0x05));
    put_vaux_pack(s, 2, 2, camera1_pack(i < 3 ? 0xFE : 0xDF, 0, 0xFFFF));
    put_vaux_pack(s, 2, 3, shutter_pack(32766));
    put_audio_pack(s, 0, audio_source_pack(i < 2 ? 24 : 30, i < 3 ? 1 : 2, true, false, 1, false));
    put_audio_pack(s, 8, audio_control_pack(true));
  }
  return st;
}

// Junk before the first sequence; every kind of pack, so that status lines
// come at once; timecodes that stop (a sequence without one, then a blank
// one) so that frames are counted from sequences; a zone west of Greenwich
// with a half hour.
bytes broken_timecode_stream() {
  bytes st(7, 0x1F);
  bytes body = make_stream(4);
  for (size_t i = 0; i < 4; ++i) {
    uint8_t* s = seq(body, i);
    if (i == 0) put_subcode_pack(s, 0, 0, timecode_pack(0, 0, 0, 1));
    if (i == 2) put_subcode_pack(s, 1, 5, {0x13, 0xFF, 0xFF, 0xFF, 0xFF});
    put_common_vaux(s, false, 3, true, 0x1F);
    put_vaux_pack(s, 0, 14, rec_date_pack(0xA0, 1, 7, 1, 5));
    put_vaux_pack(s, 0, 13, rec_time_pack(0, 0, 0, 0x3F));
    put_vaux_pack(s, 1, 14, camera1_pack(0x80, 7));
    put_vaux_pack(s, 2, 0, shutter_pack(0));
    put_audio_pack(s, 0, audio_source_pack(static_cast<uint8_t>(i * 9), 2, false, true, 2));
  }
  st.insert(st.end(), body.begin(), body.end());
  return st;
}

// A new timecode in every sequence, so the warm-up ends on the third frame
// without camera or audio packs; the shutter changes in every sequence.
bytes frames_stream() {
  bytes st = make_stream(4);
  for (size_t i = 0; i < 4; ++i) {
    uint8_t* s = seq(st, i);
    put_subcode_pack(s, 0, 2, timecode_pack(0, 59, 59, static_cast<int>(25 + i)));
    put_vaux_pack(s, 1, 0, video_source_pack(false, 0x14));
    put_vaux_pack(s, 1, 4, rec_time_pack(9, 30, 0, 0x3F));
    put_vaux_pack(s, 2, 7, shutter_pack(static_cast<uint16_t>(1 + 40 * i)));
  }
  return st;
}

// Blocks out of place: audio blocks that are video blocks (a warning each),
// a recording-start pack in a misplaced block (not seen), then one with its
// flag set (no line, but the search ends); the alternative ID0 forms of the
// first audio and video blocks, and a header ID1 of its own.
bytes odd_blocks_stream() {
  bytes st = make_stream(3);
  for (size_t i = 0; i < 3; ++i) {
    uint8_t* s = seq(st, i);
    s[1] = 0x55;                        // header ID1, not compared
    s[6 * 80] = 0x07;                   // audio by the low nibble
    s[7 * 80] = 0x09;                   // video by the low nibble
    s[(6 + 16 * 2) * 80] = 0x90;        // audio block 2 is a video block
    s[(6 + 16 * 4) * 80] = 0x41;        // audio block 4 is a VAUX block
    put_audio_pack(s, 2, audio_control_pack(true));
    put_audio_pack(s, 5, audio_control_pack(false));
    put_subcode_pack(s, 0, 0, timecode_pack(2, 0, 0, static_cast<int>(i)));
    put_vaux_pack(s, 2, 14, video_source_pack(false, 0x18));
    put_audio_pack(s, 0, audio_source_pack(63, 3, false, true, 3, true));
  }
  return st;
}

// A sequence cut short after its first half, its IDs intact, followed by
// whole ones: the scan takes its missing half from the next sequence.
bytes cut_sequence_stream() {
  bytes first = make_sequence(0);
  put_subcode_pack(first.data(), 0, 0, timecode_pack(5, 5, 5, 5));
  put_vaux_pack(first.data(), 0, 0, {0x70, 0xE0, 0x0F, 0x00, 0x00});
  first.resize(SEQ / 2);
  bytes rest = make_stream(3);
  for (size_t i = 0; i < 3; ++i) {
    put_subcode_pack(seq(rest, i), 0, 0, timecode_pack(5, 5, 5, static_cast<int>(6 + i)));
    put_vaux_pack(seq(rest, i), 0, 0, camera1_pack(static_cast<uint8_t>(0xC0 + 20 * i), 3));
    put_vaux_pack(seq(rest, i), 0, 1, {0x61, 0xFF, 0xFF, 0xFF, 0xFF});
  }
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = write_seed(dir, "built-camera.dv", camera_stream());
  ok = write_seed(dir, "built-pal-audio.dv", pal_stream()) && ok;
  ok = write_seed(dir, "built-broken-timecode.dv", broken_timecode_stream()) && ok;
  ok = write_seed(dir, "built-frames.dv", frames_stream()) && ok;
  ok = write_seed(dir, "built-odd-blocks.dv", odd_blocks_stream()) && ok;
  ok = write_seed(dir, "built-cut-sequence.dv", cut_sequence_stream()) && ok;
  return ok ? 0 : 1;
}
