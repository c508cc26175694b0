#include "picture/still_picker.h"

#include <cstring>
#include <utility>

#include "dv/errors.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// A frame's damage as blocks: a missing sequence lost all of its blocks.
int64_t damaged_blocks(const damage_counts& d) {
  return d.video_damaged() + d.audio_error_blocks + d.sequences_missing * (VIDEO_BLOCKS + AUDIO_BLOCKS);
}

// A thumbnail is 16:9 when the frame's VAUX says so; DVCPRO HD always is.
bool is_wide(const frame_format& f) {
  const signal_type* t = find_signal_type(f.video_type);
  return (t && (t->channels == 4 || t->pictures == 2)) || std::strcmp(aspect_name(f.aspect), "16:9") == 0;
}

// The header block's DSF bit (byte 3, top bit): 0 for 525/60, 1 for 625/50.
constexpr size_t HEADER_DSF = HEADER_BLOCK + BLOCK_ID_SIZE;

constexpr const char* NO_ROOM = "no room left for more pictures";
constexpr const char* NOT_KEPT = "its bytes were not kept";

}  // namespace

still_picker::still_picker()
    : arena_(new uint8_t[STILL_ARENA_BYTES]),
      outlines_(new damage_outline[MAX_DAMAGE_RUNS + 1]) {
  // Left uninitialised: pages are touched only as frames and pictures fill them.
  for (frame_bytes& b : buffers_) b.data.reset(new uint8_t[MAX_FRAME_BYTES]);
}

still_picker::~still_picker() = default;

void still_picker::sequence(const uint8_t* s, int32_t frame) {
  if (frame != reading_frame_) {
    reading_frame_ = frame;
    reading_->size = reading_->pending = 0;
  }
  if (reading_->size + (reading_->pending + 1) * SEQUENCE_SIZE > MAX_FRAME_BYTES) return;
  reading_->window[reading_->pending++] = s;
}

// Copying every frame would cost as much as reading the stream: a frame's
// sequences are copied only when it is to be pictured, or when the window
// they lie in is about to be filled again while the frame may still be
// wanted (the frame before a damaged run is known as such only once the run
// begins).
void still_picker::copy_in(frame_bytes& b) {
  for (size_t i = 0; i < b.pending; ++i) {
    std::memcpy(b.data.get() + b.size, b.window[i], SEQUENCE_SIZE);
    b.size += SEQUENCE_SIZE;
  }
  b.pending = 0;
}

void still_picker::window_moves() {
  for (frame_bytes& b : buffers_) copy_in(b);
}

void still_picker::frame(const tape_frame& f, int32_t recording) {
  if (f.number != reading_frame_) reading_->size = reading_->pending = 0;
  reading_frame_ = 0;
  reading_->facts = f;

  if (recording != recording_) {
    recording_ = recording;
    into_recording_ = 0;
    if (recordings_shown_ < MAX_RECORDING_STILLS) {
      ++recordings_shown_;
      keep(still_kind::recording, *reading_, recording_);
    } else {
      ++recordings_unshown_;
    }
  } else {
    ++into_recording_;
    consider_along(f);
  }
  reading_->recording = recording_;

  if (f.damage.any()) {
    if (!run_open_) {
      run_open_ = true;
      run_first_ = f.number;
      run_blocks_ = 0;
      worst_blocks_ = -1;
      have_before_ = have_previous_;
      std::swap(previous_, before_);
    }
    have_previous_ = false;
    run_last_ = f.number;
    const int64_t blocks = damaged_blocks(f.damage);
    run_blocks_ += blocks;
    if (blocks > worst_blocks_) {
      worst_blocks_ = blocks;
      std::swap(reading_, worst_);
    }
  } else {
    if (run_open_) close_run();
    std::swap(reading_, previous_);
    have_previous_ = true;
  }
  reading_->size = reading_->pending = 0;
}

void still_picker::finish() {
  if (run_open_) close_run();
  // Tape order: by frame, and a frame's kinds in their order.
  order_count_ = 0;
  for (int i = 0; i < MAX_STILLS; i++) {
    if (!used_[i]) continue;
    int at = order_count_++;
    const still& s = stills_[i];
    for (; at > 0; --at) {
      const still& o = stills_[order_[at - 1]];
      if (o.frame < s.frame || (o.frame == s.frame && o.kind <= s.kind)) break;
      order_[at] = order_[at - 1];
    }
    order_[at] = i;
  }
}

// Along a recording, a picture every ALONG_MINUTES minutes of its frames (at
// the timecode's frame rate), or every so many times that: when the pictures
// along would be too many, every other one is dropped and the interval doubles.
void still_picker::consider_along(const tape_frame& f) {
  const int64_t interval = int64_t{ALONG_MINUTES} * 60 * system_of(f.format.system).frames_per_second;
  if (into_recording_ % interval != 0) return;
  const int64_t along = into_recording_ / interval;
  if (along % stride_ != 0) return;
  if (along_count_ >= MAX_ALONG_STILLS) {
    stride_ *= 2;
    for (int i = 0; i < MAX_STILLS; i++)
      if (used_[i] && stills_[i].kind == still_kind::along && stills_[i].along % stride_ != 0) {
        drop(i);
        --along_count_;
      }
    if (along % stride_ != 0) return;
  }
  const int kept = keep(still_kind::along, *reading_, recording_);
  if (kept >= 0) {
    stills_[kept].along = along;
    ++along_count_;
  }
}

// A run has ended: it takes the place of the least damaged run kept when it
// is worse (or while fewer are kept), and its pictures are made now.
void still_picker::close_run() {
  run_open_ = false;
  int slot = run_count_;
  if (run_count_ == MAX_DAMAGE_RUNS) {
    slot = 0;
    for (int i = 1; i < MAX_DAMAGE_RUNS; i++)
      if (runs_[i].blocks < runs_[slot].blocks) slot = i;
    if (run_blocks_ <= runs_[slot].blocks) return;
    drop(runs_[slot].before);
    drop(runs_[slot].worst);
  } else {
    ++run_count_;
  }
  run_pictures& r = runs_[slot];
  r.blocks = run_blocks_;
  r.before = have_before_ ? keep(still_kind::before_damage, *before_, before_->recording) : -1;
  r.worst = keep(still_kind::worst_damage, *worst_, worst_->recording);
  for (int i : {r.before, r.worst}) {
    if (i < 0) continue;
    stills_[i].run_first = run_first_;
    stills_[i].run_last = run_last_;
    stills_[i].run_blocks = run_blocks_;
  }
  if (r.worst >= 0) stills_[r.worst].outline = make_outline(*worst_);
}

int still_picker::keep(still_kind kind, frame_bytes& b, int32_t recording) {
  copy_in(b);
  int i = 0;
  while (i < MAX_STILLS && used_[i]) ++i;
  if (i == MAX_STILLS) return -1;  // not reached: the stills are counted
  used_[i] = true;
  still& s = stills_[i];
  const tape_frame& f = b.facts;
  s = still{kind, f.number, f.first_sequence, f.offset, f.stamp, recording, 0, 0, 0, 0, is_wide(f.format), 0, 0, 0, 0, nullptr, -1};
  if (b.size == 0) {
    s.failure = NOT_KEPT;
    return i;
  }
  // A frame that lacks sequences is given its whole length, the rest zero:
  // the decoder knows a frame by its length.
  size_t size = b.size;
  const size_t expected = f.sequences_expected > 0 ? static_cast<size_t>(f.sequences_expected) * SEQUENCE_SIZE : 0;
  if (expected > size && expected <= MAX_FRAME_BYTES) {
    std::memset(b.data.get() + size, 0, expected - size);
    size = expected;
  }
  store(s, encoder_.encode(b.data.get(), size, s.wide));
  return i;
}

void still_picker::drop(int index) {
  if (index < 0 || !used_[index]) return;
  used_[index] = false;
  if (stills_[index].outline >= 0) outline_used_[stills_[index].outline] = false;
}

bool still_picker::store(still& s, const still_picture& p) {
  if (!p.jpeg) {
    s.failure = p.failure;
    return false;
  }
  if (arena_used_ + p.size > STILL_ARENA_BYTES) compact();
  if (arena_used_ + p.size > STILL_ARENA_BYTES) {
    s.failure = NO_ROOM;
    return false;
  }
  std::memcpy(arena_.get() + arena_used_, p.jpeg, p.size);
  s.jpeg_at = arena_used_;
  s.jpeg_size = p.size;
  s.width = p.width;
  s.height = p.height;
  arena_used_ += p.size;
  return true;
}

// Moves the JPEGs of the stills kept to the front of the arena, in the order
// they lie in it.
void still_picker::compact() {
  size_t at = 0;
  for (;;) {
    int next = -1;
    for (int i = 0; i < MAX_STILLS; i++)
      if (used_[i] && stills_[i].jpeg_size > 0 && stills_[i].jpeg_at >= at &&
          (next < 0 || stills_[i].jpeg_at < stills_[next].jpeg_at))
        next = i;
    if (next < 0) break;
    still& s = stills_[next];
    std::memmove(arena_.get() + at, arena_.get() + s.jpeg_at, s.jpeg_size);
    s.jpeg_at = at;
    at += s.jpeg_size;
  }
  arena_used_ = at;
}

// The marks of a DV25 frame's video blocks, by sequence number: a sequence
// the frame lacks lost all of its blocks. -1 for other frames.
int still_picker::make_outline(frame_bytes& b) {
  copy_in(b);
  if (b.size == 0) return -1;
  const tape_frame& f = b.facts;
  const uint8_t* data = b.data.get();
  const uint8_t system = data[HEADER_DSF] >> 7;
  const int sequences = system_of(system).sequences_per_frame;
  const bool dv25 = f.format.video_type == 0 || (f.format.video_type == NO_INFO8 && b.size <= size_t{12} * SEQUENCE_SIZE);
  if (!dv25) return -1;
  int index = 0;
  while (index <= MAX_DAMAGE_RUNS && outline_used_[index]) ++index;
  if (index > MAX_DAMAGE_RUNS) return -1;  // not reached: one a run kept, and the new one
  outline_used_[index] = true;
  damage_outline& o = outlines_[index];
  o.system = system;
  for (int n = 0; n < MAX_SEQUENCE_NUMBERS; n++)
    for (outline_mark& m : o.mark[n]) m = n < sequences ? outline_mark::error : outline_mark::none;
  for (size_t at = 0; at + SEQUENCE_SIZE <= b.size; at += SEQUENCE_SIZE) {
    const uint8_t* s = data + at;
    const unsigned number = sequence_number(s[HEADER_BLOCK + ID1]);
    if (channel_number(s[HEADER_BLOCK + ID1]) != 0 || number >= static_cast<unsigned>(sequences)) continue;
    for (int k = 0; k < VIDEO_BLOCKS; k++) {
      const block_status st = STA_MEANING[s[video_block(k) + VIDEO_STA] >> 4];
      o.mark[number][k] = st == block_status::intact      ? outline_mark::none
                          : st == block_status::concealed ? outline_mark::concealed
                                                          : outline_mark::error;
    }
  }
  o.any = false;
  for (int n = 0; n < sequences; n++)
    for (outline_mark m : o.mark[n]) o.any |= m != outline_mark::none;
  return index;
}

}  // namespace dvlog
