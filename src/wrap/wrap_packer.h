// Parts of a split as playable Matroska or QuickTime files (--wrap mkv|mov):
// the part's DV frames as its video, their sound as PCM, and what an
// archive asks of a recording, taken from the tape:
//
// - the recording's date and time as the file's creation time. The tape
//   holds the camera's clock, without saying which zone it was set to; it is
//   written as if it were UTC, so that a player shows the time the camera
//   showed;
// - the first frame's timecode (a QuickTime timecode track; Matroska's
//   TIMECODE tag of the video track);
// - a title: the input's name, the part's number and its date and time;
// - the program that wrote it;
// - a subtitle track, not shown unless the viewer turns it on, with each
//   frame's recording date and time and its timecode, as the tape gives them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffmpeg/dv_muxer.h"
#include "split/part_packer.h"

namespace dvlog {

class wrap_packer final : public part_packer {
 public:
  // `muxer` loaded; `encoder`: "dvlog 1.2.0".
  wrap_packer(dv_muxer& muxer, mux_container container, int64_t year_now, const char* encoder)
      : muxer_(muxer), container_(container), year_now_(year_now), encoder_(encoder) {}

  const char* extension() const override { return container_ == mux_container::mkv ? "mkv" : "mov"; }
  bool wraps() const override { return true; }
  bool begin(int fd, const part_opening& part, const uint8_t* data, size_t size) override;
  bool frame(const frame_event& f, const uint8_t* data, size_t size) override;
  bool end() override;
  void abandon() override { muxer_.abandon(); }
  int write_error() const override { return error_ ? error_ : muxer_.write_error(); }
  const char* failure() const override { return muxer_.failure(); }

 private:
  bool subtitle(const frame_stamp& stamp);

  dv_muxer& muxer_;
  mux_container container_;
  int64_t year_now_;
  const char* encoder_;
  int64_t frames_ = 0;  // in the part
  int fd_ = -1;         // of the part
  int error_ = 0;       // of the file's last touches, after the muxer
};

// The texts the tags and subtitles are made of, of a frame's stamp; each
// nullptr (or empty) when the tape does not give it.
// "2004-07-14 15:32:07", or "2004-07-14T15:32:07Z" when `iso`.
const char* recording_time_text(const frame_stamp& stamp, int64_t year_now, bool iso, char* out, size_t size);
// "00:12:34:05", or "00:12:34;05" when the timecode drops frames.
const char* frame_timecode_text(const frame_stamp& stamp, char* out, size_t size);

}  // namespace dvlog
