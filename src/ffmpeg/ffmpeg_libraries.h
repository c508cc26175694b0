// FFmpeg's libraries, loaded only when a picture is wanted: a run that makes
// none (the plain log, the table, the split) maps none of them, and keeps the
// memory and start-up time of a program that links only the C++ library.
// Only this layer includes this header.
#pragma once

#include <cstddef>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace dvlog {

// The functions dvlog calls, each with the library that has it: the name it
// gets in ffmpeg_libraries, and the symbol.
#define DVLOG_FFMPEG_FUNCTIONS(X)                                   \
  X(AVCODEC, find_decoder, avcodec_find_decoder)                    \
  X(AVCODEC, find_encoder, avcodec_find_encoder)                    \
  X(AVCODEC, alloc_context, avcodec_alloc_context3)                 \
  X(AVCODEC, open_codec, avcodec_open2)                             \
  X(AVCODEC, free_context, avcodec_free_context)                    \
  X(AVCODEC, packet_alloc, av_packet_alloc)                         \
  X(AVCODEC, packet_free, av_packet_free)                           \
  X(AVCODEC, packet_unref, av_packet_unref)                         \
  X(AVCODEC, send_packet, avcodec_send_packet)                      \
  X(AVCODEC, receive_frame, avcodec_receive_frame)                  \
  X(AVCODEC, send_frame, avcodec_send_frame)                        \
  X(AVCODEC, receive_packet, avcodec_receive_packet)                \
  X(AVCODEC, codec_version, avcodec_version)                        \
  X(AVUTIL, log_set_level, av_log_set_level)                        \
  X(AVUTIL, frame_alloc, av_frame_alloc)                            \
  X(AVUTIL, frame_free, av_frame_free)                              \
  X(AVUTIL, frame_get_buffer, av_frame_get_buffer)                  \
  X(AVUTIL, frame_unref, av_frame_unref)                            \
  X(AVUTIL, version_info, av_version_info)                          \
  X(AVUTIL, util_version, avutil_version)                           \
  X(SWSCALE, get_cached_context, sws_getCachedContext)              \
  X(SWSCALE, free_scaler, sws_freeContext)                          \
  X(SWSCALE, get_coefficients, sws_getCoefficients)                 \
  X(SWSCALE, set_colorspace_details, sws_setColorspaceDetails)      \
  X(SWSCALE, scale, sws_scale)                                      \
  X(SWSCALE, scale_version, swscale_version)

enum ffmpeg_library { AVUTIL, SWSCALE, AVCODEC, FFMPEG_LIBRARIES };

struct ffmpeg_libraries {
#define DVLOG_FFMPEG_POINTER(library, name, symbol) decltype(&::symbol) name = nullptr;
  DVLOG_FFMPEG_FUNCTIONS(DVLOG_FFMPEG_POINTER)
#undef DVLOG_FFMPEG_POINTER
  void* handles[FFMPEG_LIBRARIES] = {};

  ffmpeg_libraries() = default;
  ffmpeg_libraries(const ffmpeg_libraries&) = delete;
  ffmpeg_libraries& operator=(const ffmpeg_libraries&) = delete;

  // Loads the libraries of the major versions dvlog was built with (left
  // loaded for the rest of the run). False,
  // with the reason in `failure` ("libavcodec.so.59: cannot open shared
  // object file..."), when one or a function of it cannot be found.
  bool load(char* failure, size_t size);
};

}  // namespace dvlog
