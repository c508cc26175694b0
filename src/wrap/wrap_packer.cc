#include "wrap/wrap_packer.h"

#include <cstdio>

#include "dv/dif.h"
#include "dv/dv_meta.h"
#include "texts/time_texts.h"
#include "wrap/quicktime_tracks.h"

namespace dvlog {

namespace {

// The interlace flag of the video source control pack, from the VAUX blocks
// of the frame's first sequence; a frame that does not say is taken to be
// interlaced, as DV nearly always is.
bool interlaced(const uint8_t* sequence) {
  dv_meta m;
  meta_reset(m);
  for (const size_t block : {VAUX_BLOCK_0, VAUX_BLOCK_1, VAUX_BLOCK_2})
    decode_packs(sequence + block + VAUX_PACK_FIRST, VAUX_PACK_STRIDE, VAUX_PACKS, m);
  return m.interlaced != 0;
}

}  // namespace

const char* recording_time_text(const frame_stamp& stamp, int64_t year_now, bool iso, char* out, size_t size) {
  char date[32], time[16];
  if (!iso_date_text(stamp.rec_date, year_now, date, sizeof date) ||
      !iso_time_text(stamp.rec_time, false, time, sizeof time))
    return nullptr;
  std::snprintf(out, size, iso ? "%.20sT%.8sZ" : "%.20s %.8s", date, time);
  return out;
}

const char* frame_timecode_text(const frame_stamp& stamp, char* out, size_t size) {
  if (!iso_time_text(stamp.timecode, true, out, size)) return nullptr;
  // SMPTE writes a drop-frame timecode with a semicolon before the frames.
  if (stamp.drop_frame == 1) out[8] = ';';
  return out;
}

bool wrap_packer::begin(int fd, const part_opening& part, const uint8_t* data, size_t size) {
  const frame_stamp& first = part.first.stamp;
  char when[48], creation[48], timecode[16], title[400];
  const char* shown = recording_time_text(first, year_now_, false, when, sizeof when);
  if (shown)
    std::snprintf(title, sizeof title, "%.256s part %d, %s", part.base_name, part.number, shown);
  else
    std::snprintf(title, sizeof title, "%.256s part %d", part.base_name, part.number);
  const mux_tags tags{title,
                      recording_time_text(first, year_now_, true, creation, sizeof creation),
                      frame_timecode_text(first, timecode, sizeof timecode),
                      encoder_,
                      "Recording date and time, timecode",
                      size >= SEQUENCE_SIZE && interlaced(data)};
  frames_ = 0;
  fd_ = fd;
  error_ = 0;
  if (!muxer_.begin(fd, container_, tags, data, size)) return false;
  return subtitle(first);
}

bool wrap_packer::frame(const frame_event& f, const uint8_t* data, size_t size) {
  return muxer_.frame(data, size) && subtitle(f.stamp);
}

// The frame's subtitle, right after its picture: its recording date and time
// on one line, its timecode on the next; none when the tape gives neither.
bool wrap_packer::subtitle(const frame_stamp& stamp) {
  char when[48], timecode[16], text[80];
  const char* date = recording_time_text(stamp, year_now_, false, when, sizeof when);
  const char* tc = frame_timecode_text(stamp, timecode, sizeof timecode);
  const int64_t frame = frames_++;
  if (!date && !tc) return true;
  std::snprintf(text, sizeof text, "%s%s%s", date ? date : "", date && tc ? "\n" : "", tc ? tc : "");
  return muxer_.text(frame, 1, text);
}

bool wrap_packer::end() {
  if (!muxer_.end()) return false;
  if (container_ == mux_container::mov) error_ = disable_text_tracks(fd_);
  return error_ == 0;
}

}  // namespace dvlog
