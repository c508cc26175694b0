#include "frames/frame_reader.h"

#include <cstring>
#include <initializer_list>

#include "dv/datetime.h"
#include "dv/errors.h"
#include "dv/recognizer.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// The content of a sequence, for telling two frames apart: the first 16 bytes
// of each audio and video block (its ID, the audio pack and first samples,
// the video block's status and DC coefficients), mixed into 64 bits. Blocks
// alike there are, in practice, the same block; a picture that changed
// changes the DC coefficients of most of them.
uint64_t content_hash(const uint8_t* s) {
  constexpr uint64_t K[4] = {0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu, 0x165667B19E3779F9u, 0xD6E8FEB86659FD93u};
  uint64_t lane[4] = {K[0], K[1], K[2], K[3]};  // four independent chains, so that the multiplications overlap
  for (int b = 0; b < AUDIO_BLOCKS * 16; b += 2) {
    uint64_t w[4];
    std::memcpy(&w[0], s + audio_block(0) + BLOCK_SIZE * static_cast<size_t>(b), 16);
    std::memcpy(&w[2], s + audio_block(0) + BLOCK_SIZE * static_cast<size_t>(b + 1), 16);
    for (int k = 0; k < 4; ++k) lane[k] = (lane[k] ^ w[k]) * K[k];
  }
  uint64_t h = 0;
  for (int k = 0; k < 4; ++k) h = (h ^ lane[k] ^ lane[k] >> 31) * K[k];
  return h;
}

// Counts the damage of one sequence into the frame: video blocks by their
// error status, audio samples holding the error code, in the quantisation of
// the last audio source pack met. Returns the damaged blocks.
int64_t count_damage(const uint8_t* s, unsigned number, tape_frame& f, uint8_t& quantisation) {
  int64_t damaged_video = 0;
  damage_counts& d = f.damage;
  for (int k = 0; k < VIDEO_BLOCKS; ++k) {
    const uint8_t* block = s + video_block(k);
    if (!is_video_block_id(block[ID0])) continue;
    ++f.video_blocks;
    switch (STA_MEANING[block[VIDEO_STA] >> 4]) {
      case block_status::intact:
        continue;
      case block_status::concealed:
        ++d.video_concealed;
        break;
      case block_status::error:
        ++d.video_errors;
        break;
      case block_status::unknown:
        ++d.video_unknown;
        break;
    }
    ++damaged_video;
  }
  (number % 2 == 0 ? d.video_even : d.video_odd) += damaged_video;

  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (is_audio_block_id(block[ID0]) && block[AUDIO_PACK] == PACK_AUDIO_SOURCE)
      quantisation = block[AUDIO_PACK + PC4] & 0x07;  // QU
  }
  int64_t damaged_audio = 0;
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (!is_audio_block_id(block[ID0])) continue;
    ++f.audio_blocks;
    const int errors = audio_error_samples(block + AUDIO_DATA, quantisation);
    d.audio_error_samples += errors;
    damaged_audio += errors > 0;
  }
  d.audio_error_blocks += damaged_audio;
  return damaged_video + damaged_audio;
}

// The sequence numbers 0 .. per_channel - 1 of each of `channels` that the
// frame lacks.
int64_t missing_of(uint64_t seen, int32_t per_channel, int32_t channels) {
  int64_t missing = 0;
  for (int32_t c = 0; c < channels && c < MAX_CHANNELS; ++c)
    for (int32_t n = 0; n < per_channel && n < SLOT_STRIDE; ++n)
      missing += !(seen & (uint64_t{1} << (SLOT_STRIDE * c + n)));
  return missing;
}

// The lowest sequence number seen in one lane of a frame's slots; 16 when none.
int lowest_number(uint64_t seen, int lane) {
  const unsigned numbers = static_cast<unsigned>(seen >> (SLOT_STRIDE * lane) & 0xFFFF);
  for (int n = 0; n < SLOT_STRIDE; ++n)
    if (numbers >> n & 1) return n;
  return SLOT_STRIDE;
}

}  // namespace

void damage_counts::add(const damage_counts& o) {
  video_concealed += o.video_concealed;
  video_errors += o.video_errors;
  video_unknown += o.video_unknown;
  video_even += o.video_even;
  video_odd += o.video_odd;
  audio_error_samples += o.audio_error_samples;
  audio_error_blocks += o.audio_error_blocks;
  sequences_missing += o.sequences_missing;
}

frame_reader::frame_reader(frame_listener& listener) : listener_(listener) {}

// A sequence begins a new picture when its number is no higher than the last
// one of its channel in the picture being read: the numbering started again,
// whichever sequences were lost. Not so for a sequence the capture sent out
// of place (below). DVCPRO HD 720p records two pictures under one timecode
// frame; a frame is both.
frame_reader::place frame_reader::place_of(const uint8_t* s, unsigned channel, unsigned number) {
  if (static_cast<int>(number) > last_number_[channel]) return place::in_frame;
  const place p = out_of_place(s, channel, number);
  if (p != place::new_frame) return p;
  for (int& n : last_number_) n = -1;
  if (picture_ + 1 < pictures_of(video_type())) {
    ++picture_;
    return place::in_frame;
  }
  return place::new_frame;
}

// A capture glitch may send a sequence twice, or two of a frame in each
// other's place; the numbering then goes back inside one frame. A sequence
// whose place the picture already holds stays in it when it is a copy of the
// one sent just before (a repeated frame, or the next of black or a still
// after a frame that lost a sequence, comes with its own numbering from the
// start, each sequence a copy of one held further back). One whose place the
// picture lacks stays when its timecode is the picture's. Without timecodes
// to tell, one below all the picture holds begins a picture (the frame
// before lost its first sequences); one between them is undecided: it is a
// sequence sent late, or the first of a frame that lost the ones before it,
// where the frame open lost this one.
frame_reader::place frame_reader::out_of_place(const uint8_t* s, unsigned channel, unsigned number) {
  const int channels = channels_of(video_type(), channels_seen_);
  const int lane = picture_ * channels + static_cast<int>(channel);
  if (lane >= MAX_CHANNELS) return place::new_frame;
  const int slot = lane * SLOT_STRIDE + static_cast<int>(number);
  if (frame_.slots_seen >> slot & 1)
    return slot == last_slot_ && content_hash(s) == frame_.content[slot] ? place::in_frame : place::new_frame;
  // (Both pictures of DVCPRO HD 720p carry one timecode: it tells no picture
  // from the next. And below all the picture holds, after the last number of
  // its channel, the numbering ran through: the next frame, whose timecode
  // a repeat or a frame the deck sent while shuttling shares.)
  const bool below_all = static_cast<int>(number) < lowest_number(frame_.slots_seen, lane);
  const int32_t expected = expected_sequences();
  if (below_all && expected > 0 && last_number_[channel] == expected / lanes() - 1) return place::new_frame;
  if (pictures_of(video_type()) > 1) return below_all ? place::new_frame : place::in_frame;
  dv_meta m;
  meta_reset(m);
  decode_packs(s + SUBCODE_BLOCK_0 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
  decode_packs(s + SUBCODE_BLOCK_1 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
  if (possible_timecode(m.timecode) && has_time(frame_.stamp.timecode))
    return m.timecode == frame_.stamp.timecode ? place::in_frame : place::new_frame;
  return static_cast<int>(number) > lowest_number(frame_.slots_seen, lane) ? place::undecided : place::new_frame;
}

// The sequence after one held back carries on its numbering in its channel
// to a place the frame open holds: the one held back began the next frame.
bool frame_reader::continues_held(const uint8_t* next) const {
  const uint8_t held = held_[SUBCODE_BLOCK_0 + ID1], id1 = next[SUBCODE_BLOCK_0 + ID1];
  if (channel_number(id1) != channel_number(held) || sequence_number(id1) <= sequence_number(held)) return false;
  const int lane = picture_ * channels_of(video_type(), channels_seen_) + static_cast<int>(channel_number(id1));
  return lane < MAX_CHANNELS && (frame_.slots_seen >> (lane * SLOT_STRIDE + static_cast<int>(sequence_number(id1))) & 1);
}

void frame_reader::on_sequence(const uint8_t* s, uint64_t offset) {
  if (holding_) {
    holding_ = false;
    take(held_, held_offset_, continues_held(s) ? place::new_frame : place::in_frame);
  }
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  const unsigned channel = channel_number(id1), number = sequence_number(id1);
  if (static_cast<int32_t>(channel) + 1 > channels_seen_) channels_seen_ = static_cast<int32_t>(channel) + 1;
  const place where = open_ ? place_of(s, channel, number) : place::new_frame;
  if (where == place::undecided) {
    std::memcpy(held_, s, SEQUENCE_SIZE);
    held_offset_ = offset;
    holding_ = true;
    return;
  }
  take(s, offset, where);
}

void frame_reader::take(const uint8_t* s, uint64_t offset, place where) {
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  const unsigned channel = channel_number(id1), number = sequence_number(id1);
  const bool first_of_frame = channel == 0 && number == 0;
  const uint64_t gap_bytes = offset > next_offset_ ? offset - next_offset_ : 0;
  if (!open_) {
    if (gap_bytes > 0) listener_.gap(next_offset_, gap_bytes, first_of_frame, false);
    open_frame(s, offset);
  } else if (where == place::new_frame) {
    const bool whole_before = frame_whole_so_far();
    close_frame();
    if (gap_bytes > 0) listener_.gap(next_offset_, gap_bytes, whole_before && first_of_frame, false);
    open_frame(s, offset);
  } else if (gap_bytes > 0) {
    listener_.gap(next_offset_, gap_bytes, false, false);  // it cuts into a frame
    frame_.contiguous = false;
  }
  add_sequence(s, offset, channel, number);
}

void frame_reader::open_frame(const uint8_t* s, uint64_t offset) {
  const uint8_t id1 = s[SUBCODE_BLOCK_0 + ID1];
  const bool first = number_ == 0;
  number_ = static_cast<int32_t>(static_cast<uint32_t>(number_) + 1);
  frame_ = tape_frame{};
  frame_.number = number_;
  frame_.offset = offset;
  frame_.first_sequence = sequences_ + 1;
  frame_.contiguous = true;
  // The input's first frame may begin before the input does: unless it
  // begins with sequence 0 of the first channel, what it lacks is not known.
  frame_.judged = !first || (sequence_number(id1) == 0 && channel_number(id1) == 0);
  frame_.stamp = {NO_INFO, NO_INFO, NO_INFO, NO_INFO8};
  frame_.format = {NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, 0};
  frame_.speed = frame_.forward = NO_INFO8;
  frame_.audio_frame_size = frame_.audio_unlocked = NO_INFO8;
  for (int i = 0; i < 3; ++i) dates_[i] = times_[i] = NO_INFO;
  for (int& n : last_number_) n = -1;
  picture_ = 0;
  last_slot_ = -1;
  open_ = true;
}

void frame_reader::add_sequence(const uint8_t* s, uint64_t offset, unsigned channel, unsigned number) {
  sequences_ = static_cast<int32_t>(static_cast<uint32_t>(sequences_) + 1);
  last_number_[channel] = static_cast<int>(number);
  ++frame_.sequences;
  frame_.end = offset + SEQUENCE_SIZE;
  next_offset_ = offset + SEQUENCE_SIZE;

  // Channels of the second picture come after the first's; a slot past the
  // last is no sequence of this signal and is not kept.
  const int lane = picture_ * channels_of(video_type(), channels_seen_) + static_cast<int>(channel);
  const int slot = lane < MAX_CHANNELS ? lane * SLOT_STRIDE + static_cast<int>(number) : -1;
  const uint64_t bit = slot >= 0 ? uint64_t{1} << slot : 0;
  // A place the frame holds already: the capture sent the sequence again.
  // The frame keeps the first; the copy adds no damage and no picture.
  if (frame_.slots_seen & bit) {
    ++frame_.sequences_repeated;
    return;
  }
  read_packs(s);
  const int64_t damaged = count_damage(s, number, frame_, quantisation_);
  if (bit) {
    frame_.slots_seen |= bit;
    frame_.content[slot] = content_hash(s);
    if (damaged == 0) frame_.slots_intact |= bit;
    last_slot_ = slot;
  }
  listener_.frame_sequence(s, offset, frame_.number);
}

// The frames a second of the frame open: of its system, or the stream's so
// far; 30 while neither is known.
int frame_reader::frames_per_second() const {
  const uint8_t system = frame_.format.system != NO_INFO8 ? frame_.format.system
                         : known_system_ != NO_INFO8      ? known_system_
                                                          : audio_system_;
  return system == NO_INFO8 ? SYSTEMS[0].frames_per_second : system_of(system).frames_per_second;
}

bool frame_reader::possible_timecode(uint32_t tc) const { return is_possible_time(tc, frames_per_second(), false); }

// The first date and time read from an area of the frame's packs. Digits
// that are no date or time are no more read than a lost pack.
void frame_reader::keep_date(date_source from, const dv_meta& m) {
  const int i = static_cast<int>(from);
  if (!has_date(dates_[i]) && is_possible_date(m.rec_date)) dates_[i] = m.rec_date;
  if (!has_time(times_[i]) && is_possible_time(m.rec_time, frames_per_second(), true)) times_[i] = m.rec_time;
}

// The packs of every kind the frame model keeps, from the sequence's VAUX,
// subcode and audio blocks. The first that reads wins: a deck that loses a
// pack in one sequence has it in another, and a timecode, date or time whose
// digits are impossible (damaged subcode) is not read at all. What the
// subcode and VAUX give is the same in every sequence of a frame: once all of
// it has been read, only the audio packs are looked at. VAUX comes first: its
// system tells how many frames a second a timecode may count.
void frame_reader::read_packs(const uint8_t* s) {
  frame_format& f = frame_.format;
  const bool keys_known = has_time(frame_.stamp.timecode) && f.system != NO_INFO8 && f.aspect != NO_INFO8 &&
                          has_date(dates_[static_cast<int>(date_source::vaux)]) &&
                          has_time(times_[static_cast<int>(date_source::vaux)]);
  dv_meta m;
  if (!keys_known) {
    meta_reset(m);
    for (const size_t block : {VAUX_BLOCK_0, VAUX_BLOCK_1, VAUX_BLOCK_2})
      decode_packs(s + block + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, m);
    if (f.system == NO_INFO8 && m.system != NO_INFO8) {
      f.system = m.system;
      f.video_type = m.video_type;
    }
    if (f.aspect == NO_INFO8) f.aspect = m.aspect;
    keep_date(date_source::vaux, m);

    meta_reset(m);
    decode_packs(s + SUBCODE_BLOCK_0 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
    decode_packs(s + SUBCODE_BLOCK_1 + SUBCODE_PACK_FIRST, SUBCODE_PACK_STRIDE, SUBCODE_PACKS, m);
    if (!has_time(frame_.stamp.timecode) && possible_timecode(m.timecode)) {
      frame_.stamp.timecode = m.timecode;
      frame_.stamp.drop_frame = m.timecode_drop_frame;
    }
    keep_date(date_source::subcode, m);
  }

  // The AAUX date and time and the audio format are read until known; the
  // source control pack in every sequence, since any may mark the start.
  const int aaux = static_cast<int>(date_source::aaux);
  const bool audio_known = f.audio_rate_code != NO_INFO8 && has_date(dates_[aaux]) && has_time(times_[aaux]);
  meta_reset(m);
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (!is_audio_block_id(block[ID0])) continue;
    const uint8_t* pack = block + AUDIO_PACK;
    if (pack[0] == PACK_AUDIO_SOURCE_CONTROL) {
      if (!(pack[PC2] & 0x80)) frame_.recording_start = true;  // REC ST clear
      if (frame_.speed == NO_INFO8) {
        frame_.forward = pack[PC3] >> 7;  // DRF: 1 forward
        frame_.speed = pack[PC3] & 0x7F;  // SPEED
      }
    } else if (audio_known) {
      continue;
    } else if (pack[0] == PACK_AUDIO_SOURCE) {
      decode_pack(pack, pack_area::audio, m);
    } else if (pack[0] == PACK_AAUX_REC_DATE || pack[0] == PACK_AAUX_REC_TIME) {
      // Laid out as the VAUX packs of the same name.
      uint8_t as_vaux[PACK_SIZE];
      std::memcpy(as_vaux, pack, PACK_SIZE);
      as_vaux[0] = pack[0] == PACK_AAUX_REC_DATE ? PACK_REC_DATE : PACK_REC_TIME;
      decode_pack(as_vaux, pack_area::subcode_or_vaux, m);
    }
  }
  keep_date(date_source::aaux, m);
  if (m.audio_rate_code != NO_INFO8 && f.audio_rate_code == NO_INFO8) {
    f.audio_rate_code = m.audio_rate_code;
    f.audio_bits_code = m.audio_bits_code;
    f.audio_channels = audio_channels_of(m.audio_type, m.audio_rate_code, m.audio_bits_code);
    frame_.audio_frame_size = m.audio_frame_size;
    frame_.audio_unlocked = m.audio_unlocked;
    // Without a video source pack, the audio pack's 50/60 bit tells the system.
    if (f.system == NO_INFO8) audio_system_ = m.audio_pack_system;
  }
}

// The signal type of the frame open: its own, or the stream's so far.
uint8_t frame_reader::video_type() const {
  return frame_.format.video_type != NO_INFO8 ? frame_.format.video_type : known_type_;
}

// The sequences the frame open lacks, as far as it has been read, of those
// `expected` of its format.
int64_t frame_reader::missing(int32_t expected) const {
  return missing_of(frame_.slots_seen, expected / lanes(), lanes());
}

// Whether the frame open has every sequence its format calls for, as far as
// it has been read.
bool frame_reader::frame_whole_so_far() const {
  const int32_t expected = expected_sequences();
  return expected > 0 && missing(expected) == 0;
}

int32_t frame_reader::lanes() const { return channels_of(video_type(), channels_seen_) * pictures_of(video_type()); }

int32_t frame_reader::expected_sequences() const {
  const uint8_t system = frame_.format.system != NO_INFO8 ? frame_.format.system
                         : known_system_ != NO_INFO8      ? known_system_
                                                          : audio_system_;
  if (system == NO_INFO8) return 0;
  return system_of(system).sequences_per_frame * lanes();
}

void frame_reader::close_frame() {
  open_ = false;
  // A frame whose packs were lost keeps the stream's format.
  frame_format& f = frame_.format;
  if (f.system == NO_INFO8 && audio_system_ != NO_INFO8 && known_system_ == NO_INFO8) known_system_ = audio_system_;
  if (f.system == NO_INFO8) f.system = known_system_, f.video_type = known_type_;
  if (f.aspect == NO_INFO8) f.aspect = known_format_.aspect;
  if (f.audio_rate_code == NO_INFO8) {
    f.audio_rate_code = known_format_.audio_rate_code;
    f.audio_bits_code = known_format_.audio_bits_code;
    f.audio_channels = known_format_.audio_channels;
  }
  frame_.sequences_expected = expected_sequences();
  if (frame_.judged && frame_.sequences_expected > 0) frame_.damage.sequences_missing = missing(frame_.sequences_expected);
  known_system_ = f.system;
  known_type_ = f.video_type;
  known_format_ = f;

  // The frame's date and time: from VAUX first, then subcode, then AAUX.
  for (const date_source from : {date_source::vaux, date_source::subcode, date_source::aaux}) {
    const int i = static_cast<int>(from);
    if (!has_date(frame_.stamp.rec_date)) frame_.stamp.rec_date = dates_[i];
    if (!has_time(frame_.stamp.rec_time)) frame_.stamp.rec_time = times_[i];
  }

  // The same as the frame before: no sequence both hold differs where both
  // were read right, and some sequence is the same.
  if (had_previous_) {
    bool same = false, differs = false;
    const uint64_t both = frame_.slots_seen & previous_seen_;
    for (int slot = 0; slot < FRAME_SLOTS; ++slot) {
      const uint64_t bit = uint64_t{1} << slot;
      if (!(both & bit)) continue;
      if (frame_.content[slot] == previous_content_[slot])
        same = true;
      else if (frame_.slots_intact & previous_intact_ & bit)
        differs = true;
    }
    frame_.same_as_previous = same && !differs;
  }
  listener_.frame(frame_);
  std::memcpy(previous_content_, frame_.content, sizeof frame_.content);
  previous_seen_ = frame_.slots_seen;
  previous_intact_ = frame_.slots_intact;
  had_previous_ = true;
}

void frame_reader::finish(uint64_t input_bytes, const uint8_t* unexamined) {
  if (unexamined && input_bytes >= SEQUENCE_SIZE) on_sequence(unexamined, input_bytes - SEQUENCE_SIZE);
  if (holding_) {  // nothing came after it: it stays where it fills a place
    holding_ = false;
    take(held_, held_offset_, place::in_frame);
  }
  const bool whole_before = !open_ || frame_whole_so_far();
  if (open_) close_frame();
  if (input_bytes > next_offset_) listener_.gap(next_offset_, input_bytes - next_offset_, whole_before, true);
}

}  // namespace dvlog
