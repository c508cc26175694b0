#include "picture/still_encoder.h"

#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace dvlog {

namespace {

// The two thumbnail shapes, each with its own JPEG encoder (an encoder's size
// is fixed once it is opened).
enum shape { SHAPE_4_3, SHAPE_16_9, SHAPES };
constexpr int SHAPE_WIDTH[SHAPES] = {STILL_WIDTH_4_3, STILL_WIDTH_16_9};

}  // namespace

struct still_encoder::state {
  const char* failure = nullptr;
  AVCodecContext* decoder = nullptr;
  AVCodecContext* jpeg[SHAPES] = {};
  AVPacket* in = nullptr;    // the DV frame given to the decoder
  AVPacket* out = nullptr;   // the JPEG, kept until the next picture
  AVFrame* decoded = nullptr;
  AVFrame* scaled[SHAPES] = {};
  SwsContext* scaler = nullptr;

  ~state() {
    sws_freeContext(scaler);
    for (int i = 0; i < SHAPES; i++) {
      av_frame_free(&scaled[i]);
      avcodec_free_context(&jpeg[i]);
    }
    av_frame_free(&decoded);
    av_packet_free(&out);
    av_packet_free(&in);
    avcodec_free_context(&decoder);
  }

  bool open() {
    // The libraries' own messages would land in the log's standard error.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* dv = avcodec_find_decoder(AV_CODEC_ID_DVVIDEO);
    const AVCodec* mjpeg = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!dv) return fail("libavcodec has no DV decoder");
    if (!mjpeg) return fail("libavcodec has no JPEG encoder");
    decoder = avcodec_alloc_context3(dv);
    in = av_packet_alloc();
    out = av_packet_alloc();
    decoded = av_frame_alloc();
    if (!decoder || !in || !out || !decoded) return fail("out of memory");
    // One thread: a picture is wanted now and then, and the reading must not
    // wait on a pool of decoding threads.
    decoder->thread_count = 1;
    if (avcodec_open2(decoder, dv, nullptr) < 0) return fail("the DV decoder could not be opened");
    for (int i = 0; i < SHAPES; i++) {
      AVCodecContext* c = jpeg[i] = avcodec_alloc_context3(mjpeg);
      AVFrame* f = scaled[i] = av_frame_alloc();
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
      if (avcodec_open2(c, mjpeg, nullptr) < 0) return fail("the JPEG encoder could not be opened");
      if (av_frame_get_buffer(f, 0) < 0) return fail("out of memory");
    }
    return true;
  }

  bool fail(const char* why) {
    failure = why;
    return false;
  }

  still_picture picture(const uint8_t* frame, size_t size, bool wide) {
    still_picture p;
    av_packet_unref(out);
    if (failure) return p.failure = failure, p;
    // The decoder tells the frame's format from its first sequence's header
    // and VAUX and its length; a frame of too few sequences has none.
    in->data = const_cast<uint8_t*>(frame);
    in->size = static_cast<int>(size);
    if (avcodec_send_packet(decoder, in) < 0) return p.failure = "the DV decoder refused the frame", p;
    const int got = avcodec_receive_frame(decoder, decoded);
    if (got < 0) return p.failure = "the DV decoder found no picture in the frame", p;

    const shape s = wide ? SHAPE_16_9 : SHAPE_4_3;
    AVFrame* thumb = scaled[s];
    scaler = sws_getCachedContext(scaler, decoded->width, decoded->height, static_cast<AVPixelFormat>(decoded->format),
                                  thumb->width, thumb->height, AV_PIX_FMT_YUV422P, SWS_AREA, nullptr, nullptr,
                                  nullptr);
    if (!scaler) return av_frame_unref(decoded), p.failure = "the picture's format cannot be scaled", p;
    // DV is studio range (luma 16 to 235); the JPEG is full range.
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler, bt601, 0, bt601, 1, 0, 1 << 16, 1 << 16);
    const int lines = sws_scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, thumb->data,
                                thumb->linesize);
    av_frame_unref(decoded);
    if (lines != thumb->height) return p.failure = "the picture could not be scaled", p;

    if (avcodec_send_frame(jpeg[s], thumb) < 0 || avcodec_receive_packet(jpeg[s], out) < 0)
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
  const unsigned codec = avcodec_version(), scale = swscale_version(), util = avutil_version();
  std::snprintf(out, size, "libavcodec %u.%u.%u, libswscale %u.%u.%u, libavutil %u.%u.%u (FFmpeg %s)",
                AV_VERSION_MAJOR(codec), AV_VERSION_MINOR(codec), AV_VERSION_MICRO(codec), AV_VERSION_MAJOR(scale),
                AV_VERSION_MINOR(scale), AV_VERSION_MICRO(scale), AV_VERSION_MAJOR(util), AV_VERSION_MINOR(util),
                AV_VERSION_MICRO(util), av_version_info());
}

}  // namespace dvlog
