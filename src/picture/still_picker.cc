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
// The header, subcode and VAUX blocks that begin a sequence: no picture in them.
constexpr size_t BLOCKS_BEFORE_AUDIO = audio_block(0);

constexpr const char* NO_ROOM = "no room left for more pictures";
constexpr const char* NOT_KEPT = "its bytes were not kept";

// Where a sequence goes in the frame given to the decoder, which reads each
// channel's sequences back to back, channel after channel: channel times the
// sequences a channel holds in the frame's system, plus its number. -1 for a
// number the system has not. (The second picture of a DVCPRO HD 720p frame
// finds its places taken by the first, which is the one pictured.)
int place_of(const uint8_t* s, uint8_t system) {
  const uint8_t id1 = s[HEADER_BLOCK + ID1];
  const int per_channel = system_of(system).sequences_per_frame;
  const int number = static_cast<int>(sequence_number(id1));
  return number < per_channel ? static_cast<int>(channel_number(id1)) * per_channel + number : -1;
}

}  // namespace

void still_picker::frame_bytes::clear() {
  for (const uint8_t*& a : at) a = nullptr;
  pending = 0;
  count = 0;
}

still_picker::still_picker(picture_worker& worker)
    : worker_(worker), arena_(new uint8_t[STILL_ARENA_BYTES]), outlines_(new damage_outline[MAX_DAMAGE_RUNS + 1]) {
  // Left uninitialised: pages are touched only as frames and pictures fill them.
  for (frame_bytes& b : buffers_) b.data.reset(new uint8_t[MAX_FRAME_BYTES]);
}

still_picker::~still_picker() = default;

// The first of a frame's sequences gives its system; a sequence repeated
// within the frame keeps the place of its first copy.
void still_picker::sequence(const uint8_t* s, int32_t frame) {
  frame_bytes& b = *reading_;
  if (frame != reading_frame_) {
    reading_frame_ = frame;
    b.clear();
    b.system = s[HEADER_DSF] >> 7;
  }
  const int place = place_of(s, b.system);
  if (place < 0 || b.at[place]) return;
  b.at[place] = s;
  b.pending |= uint64_t{1} << place;
  ++b.count;
}

// Copying every frame would cost as much as reading the stream: a frame's
// sequences are copied only when it is to be outlined, or when the window
// they lie in is about to be filled again while the frame may still be
// wanted (the frame before a damaged run is known as such only once the run
// begins). With two windows read in turn, that is rare: the frame before the
// one being read is seldom still wanted a whole window later.
void still_picker::copy_in(frame_bytes& b, const uint8_t* from, size_t size) {
  for (int place = 0; place < MAX_PLACES; ++place) {
    if (!(b.pending >> place & 1)) continue;
    const uint8_t* at = b.at[place];
    // Addresses compared as numbers: the bytes may lie in another array.
    const uintptr_t offset = reinterpret_cast<uintptr_t>(at) - reinterpret_cast<uintptr_t>(from);
    if (from && offset >= size) continue;
    uint8_t* to = b.data.get() + static_cast<size_t>(place) * SEQUENCE_SIZE;
    std::memcpy(to, at, SEQUENCE_SIZE);
    b.at[place] = to;
    b.pending &= ~(uint64_t{1} << place);
  }
}

void still_picker::window_moves(const uint8_t* window, size_t size) {
  for (frame_bytes& b : buffers_) copy_in(b, window, size);
}

void still_picker::frame(const tape_frame& f, int32_t recording) {
  if (f.number != reading_frame_) reading_->clear();
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
  reading_->clear();
}

void still_picker::finish() {
  if (run_open_) close_run();
  worker_.drain();
  for (int i = 0; i < picture_worker::SLOTS; ++i) take(worker_.slot(i));
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
  int i = 0;
  while (i < MAX_STILLS && used_[i]) ++i;
  if (i == MAX_STILLS) return -1;  // not reached: the stills are counted
  used_[i] = true;
  still& s = stills_[i];
  const tape_frame& f = b.facts;
  s = still{kind, f.number, f.first_sequence, f.offset, f.stamp, recording, 0, 0, 0, 0, is_wide(f.format),
            0, 0, 0, 0, nullptr, -1, 0};
  if (b.count == 0) {
    s.failure = NOT_KEPT;
    return i;
  }
  hand_over(s, b);
  return i;
}

// Copies the frame into a slot of the worker's ring, each sequence at its
// place and a missing one's place blank, for the whole length of the frame
// (the decoder knows a frame by its length).
void still_picker::hand_over(still& s, frame_bytes& b) {
  picture_job& job = worker_.acquire();
  take(job);
  int places = 0;
  for (int p = 0; p < MAX_PLACES; ++p)
    if (b.at[p]) places = p + 1;
  const tape_frame& f = b.facts;
  if (f.sequences_expected > places) places = f.sequences_expected < MAX_PLACES ? f.sequences_expected : MAX_PLACES;
  for (int p = 0; p < places; ++p) {
    uint8_t* to = job.bytes + static_cast<size_t>(p) * SEQUENCE_SIZE;
    if (b.at[p]) std::memcpy(to, b.at[p], SEQUENCE_SIZE);
    else std::memset(to, 0, SEQUENCE_SIZE);
  }
  // The decoder reads the frame's system and signal type in the header and
  // VAUX of its first sequence: a frame that lost that sequence lends it
  // those blocks of another, so that it is read as what it is. Its picture
  // stays blank.
  if (!b.at[0]) {
    int other = 1;
    while (other < places && !b.at[other]) ++other;
    if (other < places) std::memcpy(job.bytes, b.at[other], BLOCKS_BEFORE_AUDIO);
  }
  job.frame_size = static_cast<size_t>(places) * SEQUENCE_SIZE;
  job.wide = s.wide;
  s.job = worker_.submit(job);
}

// A result of the worker's, to its still when that is still wanted.
void still_picker::take(picture_job& job) {
  if (!job.done) return;
  job.done = false;
  for (int i = 0; i < MAX_STILLS; i++)
    if (used_[i] && stills_[i].job == job.serial) store(stills_[i], job);
}

void still_picker::drop(int index) {
  if (index < 0 || !used_[index]) return;
  used_[index] = false;
  if (stills_[index].job != 0) worker_.cancel(stills_[index].job);
  if (stills_[index].outline >= 0) outline_used_[stills_[index].outline] = false;
}

void still_picker::store(still& s, const picture_job& job) {
  s.job = 0;
  if (job.jpeg_size == 0) {
    s.failure = job.failure;
    return;
  }
  if (arena_used_ + job.jpeg_size > STILL_ARENA_BYTES) compact();
  if (arena_used_ + job.jpeg_size > STILL_ARENA_BYTES) {
    s.failure = NO_ROOM;
    return;
  }
  std::memcpy(arena_.get() + arena_used_, job.bytes, job.jpeg_size);
  s.jpeg_at = arena_used_;
  s.jpeg_size = job.jpeg_size;
  s.width = job.width;
  s.height = job.height;
  arena_used_ += job.jpeg_size;
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
  if (b.count == 0) return -1;
  const tape_frame& f = b.facts;
  const int sequences = system_of(b.system).sequences_per_frame;
  bool beyond_one_channel = false;
  for (int p = sequences; p < MAX_PLACES; ++p) beyond_one_channel |= b.at[p] != nullptr;
  const bool dv25 = f.format.video_type == 0 || (f.format.video_type == NO_INFO8 && !beyond_one_channel);
  if (!dv25) return -1;
  int index = 0;
  while (index <= MAX_DAMAGE_RUNS && outline_used_[index]) ++index;
  if (index > MAX_DAMAGE_RUNS) return -1;  // not reached: one a run kept, and the new one
  outline_used_[index] = true;
  damage_outline& o = outlines_[index];
  o.system = b.system;
  o.any = false;
  for (int n = 0; n < MAX_SEQUENCE_NUMBERS; n++) {
    const uint8_t* s = n < sequences ? b.at[n] : nullptr;
    for (int k = 0; k < VIDEO_BLOCKS; k++) {
      outline_mark& m = o.mark[n][k];
      if (n >= sequences) {
        m = outline_mark::none;
        continue;
      }
      const block_status st = s ? STA_MEANING[s[video_block(k) + VIDEO_STA] >> 4] : block_status::error;
      m = st == block_status::intact ? outline_mark::none
          : st == block_status::concealed ? outline_mark::concealed
                                          : outline_mark::error;
      o.any |= m != outline_mark::none;
    }
  }
  return index;
}

}  // namespace dvlog
