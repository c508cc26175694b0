// Which frames of a tape are shown as pictures, chosen as the stream passes:
//
// - the first frame of every recording, up to MAX_RECORDING_STILLS;
// - along a long recording, a frame every ALONG_MINUTES minutes of it, then
//   every 2, 4, 8... times that as the tape grows, so that at most
//   MAX_ALONG_STILLS are kept in all, spread evenly;
// - for each of the MAX_DAMAGE_RUNS worst runs of damaged frames (by damaged
//   blocks), its worst frame, with where its damaged video blocks lie when it
//   is DV25, and the frame just before the run.
//
// A frame is handed to the picture worker as soon as it is known to be
// wanted; only the frames a damaged run may still want are kept as bytes:
// the frame being read, the one before it, and the current run's frame
// before it and worst frame (four buffers of the largest frame). Each
// sequence is kept at its place in the frame, by its channel and number,
// whatever order it came in, and a sequence the frame lacks leaves its place
// blank: the decoder finds each part of the picture where the format puts it,
// and the outlines mark the blocks of the sequence that is missing. The
// JPEGs live in one arena of STILL_ARENA_BYTES. Memory is bounded by those,
// whatever the tape's length, and nothing is allocated once the stream is
// being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dv/dif.h"
#include "frames/tape_frame.h"
#include "picture/picture_worker.h"

namespace dvlog {

constexpr int MAX_RECORDING_STILLS = 200;
constexpr int MAX_ALONG_STILLS = 60;
constexpr int ALONG_MINUTES = 2;
constexpr int MAX_DAMAGE_RUNS = 24;
constexpr int MAX_STILLS = MAX_RECORDING_STILLS + MAX_ALONG_STILLS + 2 * MAX_DAMAGE_RUNS + 2;
constexpr size_t STILL_ARENA_BYTES = size_t{8} << 20;

enum class still_kind : uint8_t {
  recording,     // the first frame of a recording
  along,         // a frame some minutes into a recording
  before_damage, // the frame just before a damaged run
  worst_damage,  // the worst frame of a damaged run
};

// What the deck said of each video block of a DV25 frame, by DIF sequence
// number and video block (transmission order).
enum class outline_mark : uint8_t { none, concealed, error };
struct damage_outline {
  uint8_t system;  // 0: 525/60, 1: 625/50
  bool any;        // some block is marked
  outline_mark mark[MAX_SEQUENCE_NUMBERS][VIDEO_BLOCKS];
};

struct still {
  still_kind kind;
  int32_t frame;       // its number, from 1
  int32_t sequence;    // its first sequence's number in the stream, from 1
  uint64_t offset;     // of its first sequence in the input
  frame_stamp stamp;
  int32_t recording;   // the recording it belongs to, from 1
  int64_t along;       // along a recording: how many base intervals into it
  // For both pictures of a damaged run: the run's frames and damaged blocks.
  int32_t run_first, run_last;
  int64_t run_blocks;
  bool wide;           // 16:9
  // The JPEG, in the picker's arena; or why there is none. Until finish(),
  // neither while the worker makes it.
  size_t jpeg_at, jpeg_size;
  int width, height;
  const char* failure;
  int outline;         // of a worst frame of DV25: its index in the outlines, else -1
  uint64_t job;        // the worker's serial of its picture; 0 for none
};

// Fed by the frame model: the sequences of the frame being read, then the
// frame, with the recording the analysis found it in.
class still_picker {
 public:
  // The pictures are made by `worker`, which may serve the pickers of
  // several inputs in turn.
  explicit still_picker(picture_worker& worker);
  ~still_picker();
  still_picker(const still_picker&) = delete;
  still_picker& operator=(const still_picker&) = delete;

  // A sequence of frame number `frame`: its bytes, which stay valid until
  // window_moves() says that the bytes they lie in are about to be filled
  // again. Only the sequences of frames that may be pictured are copied, and
  // only then.
  void sequence(const uint8_t* s, int32_t frame);
  void window_moves(const uint8_t* window, size_t size);
  // The frame is complete; `recording` counts the recordings from 1.
  void frame(const tape_frame& f, int32_t recording);
  // At the end of the input: closes the damaged run still open, waits for
  // the worker's last pictures, and puts the stills in tape order.
  void finish();

  // After finish(): the stills kept, in tape order (a run's frame before it,
  // then its worst frame).
  int count() const { return order_count_; }
  const still& at(int i) const { return stills_[order_[i]]; }
  const uint8_t* jpeg(const still& s) const { return arena_.get() + s.jpeg_at; }
  const damage_outline* outline(const still& s) const { return s.outline >= 0 ? &outlines_[s.outline] : nullptr; }
  // Recordings past MAX_RECORDING_STILLS, which have no picture.
  int32_t recordings_unshown() const { return recordings_unshown_; }
  // After finish(): why no picture could be made at all, or nullptr.
  const char* failure() const { return worker_.failure(); }

 private:
  // A frame's sequences, each at its place (see place_of): where it lies,
  // in the reader's window until copied into `data`, or nullptr when it did
  // not come. `pending`: the places still in the window.
  struct frame_bytes {
    std::unique_ptr<uint8_t[]> data;
    const uint8_t* at[MAX_PLACES] = {};
    uint64_t pending = 0;
    int count = 0;        // sequences kept
    uint8_t system = 0;   // of its first sequence: 0 for 525/60, 1 for 625/50
    tape_frame facts{};
    int32_t recording = 0;
    void clear();
  };
  struct run_pictures {
    int before = -1, worst = -1;  // indices of its stills
    int64_t blocks = 0;
  };

  // Copies the sequences still in the reader's window, or only those within
  // `size` bytes from `from`.
  static void copy_in(frame_bytes& b, const uint8_t* from = nullptr, size_t size = 0);
  int keep(still_kind kind, frame_bytes& b, int32_t recording);
  void hand_over(still& s, frame_bytes& b);
  void take(picture_job& job);
  void drop(int index);
  void store(still& s, const picture_job& job);
  void compact();
  void consider_along(const tape_frame& f);
  void close_run();
  int make_outline(frame_bytes& b);

  picture_worker& worker_;
  frame_bytes buffers_[4];
  frame_bytes* reading_ = &buffers_[0];
  frame_bytes* previous_ = &buffers_[1];  // the last frame complete, when clean
  frame_bytes* before_ = &buffers_[2];    // the frame before the open run
  frame_bytes* worst_ = &buffers_[3];     // the open run's worst frame so far
  int32_t reading_frame_ = 0;
  bool have_previous_ = false, have_before_ = false;

  // The damaged run being read.
  bool run_open_ = false;
  int32_t run_first_ = 0, run_last_ = 0;
  int64_t run_blocks_ = 0, worst_blocks_ = -1;

  // Recordings.
  int32_t recording_ = 0;
  int64_t into_recording_ = 0;  // frames since the recording's first
  int32_t recordings_shown_ = 0, recordings_unshown_ = 0;
  // Along recordings: a picture at every multiple of stride_ intervals.
  int64_t stride_ = 1;
  int along_count_ = 0;

  run_pictures runs_[MAX_DAMAGE_RUNS];
  int run_count_ = 0;

  still stills_[MAX_STILLS];
  bool used_[MAX_STILLS] = {};
  int order_[MAX_STILLS] = {};
  int order_count_ = 0;
  std::unique_ptr<uint8_t[]> arena_;
  size_t arena_used_ = 0;
  std::unique_ptr<damage_outline[]> outlines_;  // one a run, and one spare
  bool outline_used_[MAX_DAMAGE_RUNS + 1] = {};
};

}  // namespace dvlog
