#include "ffmpeg/still_encoder.h"

#include <cstdio>

#include "ffmpeg/ffmpeg_libraries.h"

namespace dvlog {

namespace {

// The two thumbnail shapes, each with its own JPEG encoder (an encoder's size
// is fixed once it is opened).
enum shape { SHAPE_4_3, SHAPE_16_9, SHAPES };
constexpr int SHAPE_WIDTH[SHAPES] = {STILL_WIDTH_4_3, STILL_WIDTH_16_9};

}  // namespace

struct still_encoder::state {
  ffmpeg_libraries lib;
  bool loaded = false;
  char load_failure[256] = {};
  const char* failure = nullptr;
  AVCodecContext* decoder = nullptr;
  AVCodecContext* jpeg[SHAPES] = {};
  AVPacket* in = nullptr;    // the DV frame given to the decoder
  AVPacket* out = nullptr;   // the JPEG, kept until the next picture
  AVFrame* decoded = nullptr;
  AVFrame* scaled[SHAPES] = {};
  SwsContext* scaler = nullptr;

  ~state() {
    if (!loaded) return;  // nothing was made, and the functions may be missing
    lib.free_scaler(scaler);
    for (int i = 0; i < SHAPES; i++) {
      lib.frame_free(&scaled[i]);
      lib.free_context(&jpeg[i]);
    }
    lib.frame_free(&decoded);
    lib.packet_free(&out);
    lib.packet_free(&in);
    lib.free_context(&decoder);
  }

  bool open() {
    if (!lib.load(PICTURE_LIBRARIES, load_failure, sizeof load_failure)) return fail(load_failure);
    loaded = true;
    // The libraries' own messages would land in the log's standard error.
    lib.log_set_level(AV_LOG_QUIET);
    const AVCodec* dv = lib.find_decoder(AV_CODEC_ID_DVVIDEO);
    const AVCodec* mjpeg = lib.find_encoder(AV_CODEC_ID_MJPEG);
    if (!dv) return fail("libavcodec has no DV decoder");
    if (!mjpeg) return fail("libavcodec has no JPEG encoder");
    decoder = lib.alloc_context(dv);
    in = lib.packet_alloc();
    out = lib.packet_alloc();
    decoded = lib.frame_alloc();
    if (!decoder || !in || !out || !decoded) return fail("out of memory");
    // One thread: a picture is wanted now and then, and the reading must not
    // wait on a pool of decoding threads.
    decoder->thread_count = 1;
    if (lib.open_codec(decoder, dv, nullptr) < 0) return fail("the DV decoder could not be opened");
    for (int i = 0; i < SHAPES; i++) {
      AVCodecContext* c = jpeg[i] = lib.alloc_context(mjpeg);
      AVFrame* f = scaled[i] = lib.frame_alloc();
      if (!c || !f) return fail("out of memory");
      c->width = f->width = SHAPE_WIDTH[i];
      c->height = f->height = STILL_HEIGHT;
      c->pix_fmt = AV_PIX_FMT_YUV422P;
      f->format = AV_PIX_FMT_YUV422P;
      // Full-range luma, as JPEG files mean it.
      c->color_range = f->color_range = AVCOL_RANGE_JPEG;
      c->time_base = AVRational{1, 25};
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = FF_QP2LAMBDA * STILL_JPEG_QUANTISER;
      f->quality = c->global_quality;
      c->thread_count = 1;
      if (lib.open_codec(c, mjpeg, nullptr) < 0) return fail("the JPEG encoder could not be opened");
      if (lib.frame_get_buffer(f, 0) < 0) return fail("out of memory");
    }
    return true;
  }

  bool fail(const char* why) {
    failure = why;
    return false;
  }

  still_picture picture(const uint8_t* frame, size_t size, bool wide) {
    still_picture p;
    // Without the libraries, or with one of them unusable, nothing of them
    // may be called.
    if (failure) return p.failure = failure, p;
    lib.packet_unref(out);
    // The decoder tells the frame's format from its first sequence's header
    // and VAUX and its length; a frame of too few sequences has none.
    in->data = const_cast<uint8_t*>(frame);
    in->size = static_cast<int>(size);
    if (lib.send_packet(decoder, in) < 0) return p.failure = "the DV decoder refused the frame", p;
    const int got = lib.receive_frame(decoder, decoded);
    if (got < 0) return p.failure = "the DV decoder found no picture in the frame", p;

    const shape s = wide ? SHAPE_16_9 : SHAPE_4_3;
    AVFrame* thumb = scaled[s];
    scaler = lib.get_cached_context(scaler, decoded->width, decoded->height, static_cast<AVPixelFormat>(decoded->format),
                                  thumb->width, thumb->height, AV_PIX_FMT_YUV422P, SWS_AREA, nullptr, nullptr,
                                  nullptr);
    if (!scaler) return lib.frame_unref(decoded), p.failure = "the picture's format cannot be scaled", p;
    // DV is studio range (luma 16 to 235); the JPEG is full range.
    const int* bt601 = lib.get_coefficients(SWS_CS_ITU601);
    lib.set_colorspace_details(scaler, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
    const int lines = lib.scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, thumb->data,
                                thumb->linesize);
    lib.frame_unref(decoded);
    if (lines != thumb->height) return p.failure = "the picture could not be scaled", p;

    if (lib.send_frame(jpeg[s], thumb) < 0 || lib.receive_packet(jpeg[s], out) < 0)
      return p.failure = "the JPEG encoder failed", p;
    p.jpeg = out->data;
    p.size = static_cast<size_t>(out->size);
    p.width = thumb->width;
    p.height = thumb->height;
    return p;
  }
};

still_encoder::still_encoder() : s_(new state) { s_->open(); }
still_encoder::~still_encoder() = default;

bool still_encoder::ready() const { return !s_->failure; }
const char* still_encoder::failure() const { return s_->failure; }

still_picture still_encoder::encode(const uint8_t* frame, size_t size, bool wide) {
  return s_->picture(frame, size, wide);
}

void picture_library_versions(char* out, size_t size) {
  ffmpeg_libraries lib;
  char failure[256];
  if (!lib.load(PICTURE_LIBRARIES, failure, sizeof failure)) {
    std::snprintf(out, size, "No pictures: %s", failure);
    return;
  }
  char codec[64], scale[64], util[64];
  library_version_text(lib, AVCODEC, codec, sizeof codec);
  library_version_text(lib, SWSCALE, scale, sizeof scale);
  library_version_text(lib, AVUTIL, util, sizeof util);
  std::snprintf(out, size, "Pictures by %s, %s, %s (FFmpeg %s)", codec, scale, util, lib.version_info());
}

}  // namespace dvlog
