#include "merge/frame_index.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dv/dv_meta.h"
#include "dv/errors.h"
#include "dv/recognizer.h"
#include "dv/system.h"
#include "frames/frame_reader.h"
#include "input/scanner.h"

namespace dvlog {

namespace {

// The index grows by this many frames at a time (three and a half MiB, half
// an hour of 525/60): a long transfer reallocates it a few times, never once
// a frame.
constexpr size_t FRAMES_PER_CHUNK = 65536;

// The subcode and VAUX blocks of a sequence.
constexpr size_t PACK_BLOCKS[] = {SUBCODE_BLOCK_0, SUBCODE_BLOCK_1, VAUX_BLOCK_0, VAUX_BLOCK_1, VAUX_BLOCK_2};

uint16_t fold16(uint64_t h) { return static_cast<uint16_t>(h >> 48 ^ h >> 32 ^ h >> 16 ^ h); }

// Keeps an entry for each frame of a transfer, as the frame model delimits
// them: where it lies, its keys, the content of each sequence number over
// its channels, and how well it was read.
class frame_indexer final : public frame_listener {
 public:
  explicit frame_indexer(transfer_index& out) : out_(out) {}

  void frame_sequence(const uint8_t* s, uint64_t, int32_t) override {
    for (size_t b : PACK_BLOCKS) packs_read_ += static_cast<uint16_t>(__builtin_popcount(packs_held(s + b)));
    quantisation_ = sequence_quantisation(s, quantisation_);
    for (int j = 0; j < AUDIO_BLOCKS && !audible_ && quantisation_ != NO_INFO8; ++j) {
      const uint8_t* block = s + audio_block(j);
      if (audio_block_errors(block, quantisation_) != 0) continue;
      for (size_t k = AUDIO_DATA; k < BLOCK_SIZE && !audible_; ++k) audible_ = block[k] != 0;
    }
  }
  void frame(const tape_frame& f) override;
  void finish();

 private:
  transfer_index& out_;
  uint16_t packs_read_ = 0;  // of the frame being read
  bool audible_ = false;     //   and whether its sound was heard
  uint8_t quantisation_ = NO_INFO8;  // of the sound, as last told
  int32_t channels_seen_ = 0;
  uint32_t formats_[2][256] = {};  // frames by system and signal type
};

void frame_indexer::frame(const tape_frame& f) {
  // A transfer is of the format most of its frames say: one damaged pack
  // makes no transfer PAL.
  if (f.format.system <= 1) ++formats_[f.format.system][f.format.video_type];
  if (out_.system == NO_INFO8 && f.format.system != NO_INFO8) {
    out_.system = f.format.system;
    out_.video_type = f.format.video_type;
  }
  for (int c = MAX_CHANNELS - 1; c >= 0; --c)
    if (f.slots_seen >> (c * SLOT_STRIDE) & 0xFFFF) {
      channels_seen_ = std::max(channels_seen_, c + 1);
      break;
    }
  frame_entry e{};
  e.offset = f.offset;
  e.timecode = f.stamp.timecode;
  e.rec_date = f.stamp.rec_date;
  e.rec_time = f.stamp.rec_time;
  // (Copied byte for byte only where its bytes are the frame: no gap in it,
  // no sequence the capture sent twice.)
  e.flags = f.contiguous && f.sequences_repeated == 0 ? FRAME_CONTIGUOUS : 0;
  e.packs_read = packs_read_;
  packs_read_ = 0;
  if (audible_) e.flags |= FRAME_AUDIBLE;
  audible_ = false;
  e.sequences = static_cast<uint8_t>(std::min<int32_t>(f.sequences, 255));
  const int64_t damaged = f.damage.video_damaged() + f.damage.audio_error_blocks;
  e.damaged_blocks = static_cast<uint16_t>(std::min<int64_t>(damaged, 0xFFFF));
  const int64_t right = f.video_blocks + f.audio_blocks - damaged;
  e.right_blocks = static_cast<uint16_t>(std::clamp<int64_t>(right, 0, 0xFFFF));

  if (!at_playback_speed(f)) e.flags |= FRAME_OFF_SPEED, ++out_.off_speed;
  if (f.stamp.drop_frame == 1) e.flags |= FRAME_DROP_FRAME;
  if (f.recording_start) e.flags |= FRAME_RECORDING_START;
  if (f.speed != NO_INFO8) e.flags |= FRAME_CONTROL_READ;
  constexpr uint8_t FRAME_SIZE_1600 = 20;  // 525/60 at 48 kHz: AF_SIZE counts from 1,580
  if (f.format.system == 0 && f.format.audio_rate_code == 0 && f.audio_unlocked == 0 &&
      f.audio_frame_size == FRAME_SIZE_1600)
    e.flags |= FRAME_SOUND_CYCLE;
  if (f.whole() && f.slots_intact == f.slots_seen) {
    uint64_t h = 0x9E3779B97F4A7C15u;
    for (int slot = 0; slot < FRAME_SLOTS; ++slot)
      if (f.slots_seen >> slot & 1) h = (h ^ f.content[slot]) * 0xC2B2AE3D27D4EB4Fu + static_cast<uint64_t>(slot);
    e.signature = h | 1;  // never 0
  }

  // A sequence number is read when every lane (channel, and picture of
  // DVCPRO HD 720p) has it, read right.
  const uint8_t system = f.format.system != NO_INFO8 ? f.format.system : out_.system;
  const uint8_t video_type = f.format.system != NO_INFO8 ? f.format.video_type : out_.video_type;
  const int32_t lanes = channels_of(video_type, channels_seen_) * pictures_of(video_type);
  const int32_t per_lane = system == NO_INFO8 ? 0 : system_of(system).sequences_per_frame;
  int found = 0;
  for (int32_t n = 0; n < per_lane && n < MAX_SEQUENCE_NUMBERS; ++n) {
    bool all_lanes = true, all_right = true;
    uint64_t content = 0;
    for (int32_t lane = 0; lane < lanes && lane < MAX_CHANNELS; ++lane) {
      const int slot = lane * SLOT_STRIDE + n;
      all_lanes &= (f.slots_seen >> slot) & 1;
      all_right &= (f.slots_intact >> slot) & 1;
      content ^= f.content[slot] * static_cast<uint64_t>(2 * lane + 1);
    }
    found += all_lanes ? lanes : 0;
    e.content[n] = fold16(content);
    if (all_lanes && all_right) e.content_read |= static_cast<uint16_t>(1u << n);
  }
  if (per_lane > 0 && found == per_lane * lanes && f.sequences == found) e.flags |= FRAME_WHOLE;
  out_.damaged_blocks += e.damaged_blocks;

  std::vector<frame_entry>& frames = out_.frames;
  if (frames.size() == frames.capacity()) frames.reserve(frames.capacity() + FRAMES_PER_CHUNK);
  frames.push_back(e);
}

void frame_indexer::finish() {
  uint32_t most = 0;
  for (uint8_t system = 0; system <= 1; ++system)
    for (int type = 0; type < 256; ++type)
      if (formats_[system][type] > most) {
        most = formats_[system][type];
        out_.system = system;
        out_.video_type = static_cast<uint8_t>(type);
      }
  out_.channels = channels_of(out_.video_type, channels_seen_);
  out_.lanes = out_.channels * pictures_of(out_.video_type);
  out_.sequences_per_frame = out_.system == NO_INFO8 ? 0 : system_of(out_.system).sequences_per_frame * out_.lanes;
}

}  // namespace

uint32_t packs_held(const uint8_t* block) {
  const bool subcode = (block[ID0] & SECTION_MASK) == SECTION_SUBCODE;
  const size_t first = subcode ? SUBCODE_PACK_FIRST : VAUX_PACK_FIRST;
  const size_t stride = subcode ? SUBCODE_PACK_STRIDE : VAUX_PACK_STRIDE;
  const int count = subcode ? SUBCODE_PACKS : VAUX_PACKS;
  uint32_t held = 0;
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = block + first + stride * static_cast<size_t>(i);
    if (p[0] == PACK_NONE) continue;
    held |= 1u << i;
    if ((p[PC1] & p[PC2] & p[PC3] & p[PC4]) != 0xFF) held |= 1u << (16 + i);
  }
  return held;
}

bool video_block_right(const uint8_t* block) {
  return is_video_block_id(block[ID0]) && STA_MEANING[block[VIDEO_STA] >> 4] == block_status::intact;
}

int audio_block_errors(const uint8_t* block, uint8_t quantisation) {
  if (!is_audio_block_id(block[ID0])) return -1;
  return audio_error_samples(block + AUDIO_DATA, quantisation);
}

uint8_t sequence_quantisation(const uint8_t* s, uint8_t before) {
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (is_audio_block_id(block[ID0]) && block[AUDIO_PACK] == PACK_AUDIO_SOURCE)
      return block[AUDIO_PACK + PC4] & 0x07;  // QU
  }
  return before;
}

bool index_transfer(const input_source& in, uint8_t* window, const stop_request& stop, transfer_index& out,
                    const index_progress& progress) {
  frame_indexer indexer(out);
  frame_reader reader(indexer);
  scanner scan(window, reader);
  for (;;) {
    size_t room;
    uint8_t* into = scan.space(&room);
    const ssize_t got = read_input(in, into, room, stop);
    if (got < 0) return false;
    if (got == 0) break;
    scan.append(static_cast<size_t>(got));
    if (progress.line)
      progress.line->update(progress.bytes_before + scan.bytes(), static_cast<int32_t>(out.frames.size()),
                            progress.file);
  }
  // The sequence that ends the input is part of its last frame.
  reader.finish(scan.bytes(), scan.unexamined_sequence());
  indexer.finish();
  if (stop_requested(stop)) {
    errno = EINTR;
    return false;
  }
  return true;
}

}  // namespace dvlog
