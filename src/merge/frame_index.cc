#include "merge/frame_index.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dv/dv_meta.h"
#include "dv/errors.h"
#include "dv/recognizer.h"
#include "dv/system.h"
#include "input/scanner.h"

namespace dvlog {

namespace {

// The index grows by this many frames at a time (three and a half MiB, half
// an hour of 525/60): a long transfer reallocates it a few times, never once
// a frame.
constexpr size_t FRAMES_PER_CHUNK = 65536;

// The subcode and VAUX blocks of a sequence.
constexpr size_t PACK_BLOCKS[] = {SUBCODE_BLOCK_0, SUBCODE_BLOCK_1, VAUX_BLOCK_0, VAUX_BLOCK_1, VAUX_BLOCK_2};

// The content of a sequence, for telling frames apart: the first 16 bytes of
// each audio and video block (IDs, the audio pack and first samples, the
// video block's status and DC coefficients), mixed into 64 bits. Blocks with
// the same bytes there are, in practice, the same block.
uint64_t content_hash(const uint8_t* s, unsigned channel) {
  constexpr uint64_t K1 = 0x9E3779B97F4A7C15u, K2 = 0xC2B2AE3D27D4EB4Fu;
  uint64_t h = K1 * (channel + 1);
  for (size_t b = audio_block(0); b < SEQUENCE_SIZE; b += BLOCK_SIZE) {
    uint64_t w0, w1;
    std::memcpy(&w0, s + b, sizeof w0);
    std::memcpy(&w1, s + b + 8, sizeof w1);
    h = (h ^ w0) * K1;
    h = (h ^ w1 ^ (h >> 29)) * K2;
  }
  return h;
}

uint16_t fold16(uint64_t h) { return static_cast<uint16_t>(h >> 48 ^ h >> 32 ^ h >> 16 ^ h); }

// Groups the sequences of a transfer into frames and keeps an entry for each.
// A frame begins where a sequence's place (channel, then number) does not
// follow the last one's, or where a timecode read differs from the frame's:
// so a frame that lost sequences, and a capture's repeated frame, are still
// told apart.
class frame_indexer final : public sequence_consumer {
 public:
  explicit frame_indexer(transfer_index& out) : out_(out) {}

  void on_sequence(const uint8_t* s, uint64_t offset) override;
  void finish();

 private:
  void open_frame(uint64_t offset);
  void close_frame();

  transfer_index& out_;
  frame_entry frame_{};
  bool open_ = false;
  int last_slot_ = -1;
  uint64_t end_ = 0;       // just after the frame's last sequence
  uint64_t slots_seen_ = 0;  // bit merge_slot(): a sequence met
  uint64_t content_[MAX_SEQUENCE_NUMBERS] = {};
  uint16_t damaged_numbers_ = 0;  // bit n: some sequence of number n has damage
  int32_t channels_seen_ = 0;
  uint8_t quantisation_ = 0xFF;
};

void frame_indexer::open_frame(uint64_t offset) {
  frame_ = frame_entry{};
  frame_.offset = offset;
  frame_.timecode = frame_.rec_date = frame_.rec_time = NO_INFO;
  frame_.flags = FRAME_CONTIGUOUS;
  open_ = true;
  last_slot_ = -1;
  end_ = offset;
  slots_seen_ = 0;
  std::fill(std::begin(content_), std::end(content_), 0);
  damaged_numbers_ = 0;
}

void frame_indexer::close_frame() {
  const int32_t channels = channels_of(out_.video_type, channels_seen_);
  const int32_t per_channel = out_.system == NO_INFO8 ? 0 : system_of(out_.system).sequences_per_frame;
  int found = 0;
  for (int32_t n = 0; n < per_channel; ++n) {
    bool all_channels = true;
    for (int32_t c = 0; c < channels; ++c) all_channels &= (slots_seen_ >> (c * MAX_SEQUENCE_NUMBERS + n)) & 1;
    found += all_channels ? channels : 0;
    frame_.content[n] = fold16(content_[n]);
    if (all_channels && !(damaged_numbers_ >> n & 1)) frame_.content_read |= static_cast<uint16_t>(1u << n);
  }
  if (per_channel > 0 && found == per_channel * channels && frame_.sequences == found) frame_.flags |= FRAME_WHOLE;
  out_.damaged_blocks += frame_.damaged_blocks;

  std::vector<frame_entry>& frames = out_.frames;
  if (frames.size() == frames.capacity()) frames.reserve(frames.capacity() + FRAMES_PER_CHUNK);
  frames.push_back(frame_);
  open_ = false;
}

void frame_indexer::on_sequence(const uint8_t* s, uint64_t offset) {
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  const int slot = merge_slot(id1);
  if (slot < 0) return;  // no sequence number of any system: no part of a frame

  dv_meta m;
  meta_reset(m);
  decode_packs(s + SUBCODE_BLOCK_0 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
  decode_packs(s + SUBCODE_BLOCK_1 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
  for (size_t b : {VAUX_BLOCK_0, VAUX_BLOCK_1, VAUX_BLOCK_2}) decode_packs(s + b + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, m);
  if (out_.system == NO_INFO8 && m.system != NO_INFO8) {
    out_.system = m.system;
    out_.video_type = m.video_type;
  }
  channels_seen_ = std::max(channels_seen_, static_cast<int32_t>(channel_number(id1)) + 1);

  const bool new_timecode = has_time(m.timecode) && has_time(frame_.timecode) && m.timecode != frame_.timecode;
  if (!open_ || slot <= last_slot_ || new_timecode) {
    if (open_) close_frame();
    open_frame(offset);
  }
  if (offset != end_) frame_.flags &= static_cast<uint8_t>(~FRAME_CONTIGUOUS);
  end_ = offset + SEQUENCE_SIZE;
  last_slot_ = slot;
  slots_seen_ |= uint64_t{1} << slot;
  ++frame_.sequences;
  if (!has_time(frame_.timecode)) frame_.timecode = m.timecode;
  if (!has_date(frame_.rec_date)) frame_.rec_date = m.rec_date;
  if (!has_time(frame_.rec_time)) frame_.rec_time = m.rec_time;
  for (size_t b : PACK_BLOCKS) frame_.packs_read = static_cast<uint16_t>(frame_.packs_read + __builtin_popcount(packs_held(s + b)));

  quantisation_ = sequence_quantisation(s, quantisation_);
  int damaged = 0;
  for (int k = 0; k < VIDEO_BLOCKS; ++k) damaged += !video_block_right(s + video_block(k));
  for (int j = 0; j < AUDIO_BLOCKS; ++j) damaged += audio_block_errors(s + audio_block(j), quantisation_) != 0;
  frame_.damaged_blocks = static_cast<uint16_t>(frame_.damaged_blocks + damaged);
  const unsigned n = sequence_number(id1);
  if (damaged > 0)
    damaged_numbers_ |= static_cast<uint16_t>(1u << n);
  else
    content_[n] ^= content_hash(s, channel_number(id1));
}

void frame_indexer::finish() {
  if (open_) close_frame();
  out_.channels = channels_of(out_.video_type, channels_seen_);
  out_.sequences_per_frame = out_.system == NO_INFO8 ? 0 : system_of(out_.system).sequences_per_frame * out_.channels;
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

bool index_transfer(const input_source& in, uint8_t* window, const stop_request& stop, transfer_index& out) {
  frame_indexer indexer(out);
  scanner scan(window, indexer);
  for (;;) {
    size_t room;
    uint8_t* into = scan.space(&room);
    const ssize_t got = read_input(in, into, room, stop);
    if (got < 0) return false;
    if (got == 0) break;
    scan.append(static_cast<size_t>(got));
  }
  // The sequence that ends the input is part of its last frame.
  if (const uint8_t* last = scan.unexamined_sequence()) indexer.on_sequence(last, scan.bytes() - SEQUENCE_SIZE);
  indexer.finish();
  if (stop.signal && *stop.signal) {
    errno = EINTR;
    return false;
  }
  return true;
}

}  // namespace dvlog
