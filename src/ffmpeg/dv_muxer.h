// DV frames packed into a Matroska or QuickTime file by FFmpeg's
// libavformat, as `ffmpeg -c copy` packs them: each frame is a video packet,
// byte for byte; its sound is what libavformat's own DV reader takes out of
// it (16-bit PCM, a track for each stereo pair); a subtitle track, off unless
// the viewer turns it on, tells what the caller gives it; and the
// container's muxer writes the file through a descriptor it is handed.
// Nothing outside this file's implementation sees an FFmpeg header.
//
// The libraries are loaded, and the DV reader and both muxers found, by
// load(), before any stream is read, so that a run that cannot wrap is
// refused before it reads a byte. A file's tracks come from its first frame:
// its picture from FFmpeg's DV profile of it (size, pixel format, frame
// rate) and the reader's aspect ratio, its sound from the streams the reader
// finds in it, or, where its sound packs were lost, in the first frame that
// has them (the frames before are held, and given silence). Frames of
// another format belong in another file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dvlog {

enum class mux_container : uint8_t { mkv, mov };

// What a file says of itself; any text may be nullptr.
struct mux_tags {
  const char* title;
  const char* creation_time;  // "YYYY-MM-DDTHH:MM:SSZ"
  const char* timecode;       // of the first frame: "HH:MM:SS:FF", or "HH:MM:SS;FF" when drop-frame
  const char* encoder;        // the program that wrote it
  const char* subtitle_title;  // the name of the subtitle track
  bool interlaced;            // the frames hold two fields (the VAUX interlace flag, or unknown)
};

class dv_muxer {
 public:
  dv_muxer();
  ~dv_muxer();
  dv_muxer(const dv_muxer&) = delete;
  dv_muxer& operator=(const dv_muxer&) = delete;

  // Loads libavformat, libavcodec and libavutil, and finds the DV reader
  // and the Matroska and QuickTime muxers. False, with failure().
  bool load();

  // Why the last call that returned false failed: "libavformat.so.59: cannot
  // open shared object file: ...", "the MKV muxer refused the file: ...".
  const char* failure() const;
  // The errno of a failed write to the file; 0 when something else failed.
  int write_error() const;

  // Begins a file on `fd` (new and empty, open for reading and writing)
  // whose tracks are those of its first frame, `first` (`size` bytes, its
  // sequences in order), which it holds.
  bool begin(int fd, mux_container container, const mux_tags& tags, const uint8_t* first, size_t size);
  // The next frame: its picture, and the sound in it.
  bool frame(const uint8_t* data, size_t size);
  // A subtitle shown from frame `first` of the file (counted from 0) for
  // `frames` frames. Given in order, each once its first frame was given.
  bool text(int64_t first, int64_t frames, const char* text);
  // Ends the file: the muxer writes its index. The descriptor stays open.
  bool end();
  // Gives the file up unfinished (after a failure, or a part abandoned).
  void abandon();

 private:
  struct state;
  std::unique_ptr<state> s_;
};

}  // namespace dvlog
