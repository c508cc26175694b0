// Pictures of DV frames: a frame's bytes in, a JPEG thumbnail out.
//
// The frame is decoded with FFmpeg's DV decoder (DV25, DV50, DVCPRO HD),
// scaled to a thumbnail of its display aspect and encoded as JPEG. Nothing
// outside this file's implementation sees an FFmpeg header. The constructor
// loads the libraries and makes everything they need, reused for every
// frame; when that fails, every picture says why and nothing of the libraries
// is called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace dvlog {

// Thumbnails are all STILL_HEIGHT lines high, 4:3 or 16:9 wide.
constexpr int STILL_HEIGHT = 240;
constexpr int STILL_WIDTH_4_3 = 320;
constexpr int STILL_WIDTH_16_9 = 426;
// The encoder's quantiser (2 to 31, lower is finer), with the colour at half
// the width and the whole height (4:2:2): ffmpeg's test pattern stays within
// 43 dB (PSNR, RGB) of the decoded frame scaled alike, at about 9 KiB for 4:3.
constexpr int STILL_JPEG_QUANTISER = 3;

// One encoded picture, or why there is none.
struct still_picture {
  const uint8_t* jpeg = nullptr;  // valid until the next encode()
  size_t size = 0;
  int width = 0, height = 0;
  const char* failure = nullptr;  // set when jpeg is null
};

class still_encoder {
 public:
  still_encoder();
  ~still_encoder();
  still_encoder(const still_encoder&) = delete;
  still_encoder& operator=(const still_encoder&) = delete;

  // False when the libraries cannot be loaded or lack the DV decoder or the
  // JPEG encoder; failure() then says why.
  bool ready() const;
  const char* failure() const;

  // Decodes the frame whose DIF sequences lie in order in `frame` (`size`
  // bytes, whole sequences) and encodes it as a thumbnail, 16:9 when `wide`.
  still_picture encode(const uint8_t* frame, size_t size, bool wide);

 private:
  struct state;
  std::unique_ptr<state> s_;
};

// "Pictures by libavcodec 59.37.100, libswscale 6.7.100, libavutil 57.28.100
// (FFmpeg 5.1.x)": the libraries the pictures are made with, as loaded; or
// "No pictures: REASON" when they cannot be.
void picture_library_versions(char* out, size_t size);

}  // namespace dvlog
