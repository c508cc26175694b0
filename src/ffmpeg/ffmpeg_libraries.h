// FFmpeg's libraries, each loaded on its own and only when a run needs it: a
// run that makes no picture and wraps nothing (the plain log, the table, the
// split) maps none of them, and keeps the memory and start-up time of a
// program that links only the C++ library. Pictures need libavcodec,
// libswscale and libavutil; packing frames into a container needs
// libavformat, libavcodec and libavutil, and no scaler.
//
// A library is the file of the major version whose headers dvlog was built
// with (its interface changes only with the major version). It is refused,
// with the reason, when it cannot be opened (missing, empty, not a library,
// or lacking a symbol that it needs itself: every symbol is bound at load,
// so that none can be found missing later, in a call), when it says it is
// another major version, or when a function dvlog calls is missing. Only this
// layer includes this header.
#pragma once

#include <cstddef>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace dvlog {

enum ffmpeg_library { AVUTIL, SWSCALE, AVCODEC, AVFORMAT, FFMPEG_LIBRARIES };

constexpr unsigned library_bit(ffmpeg_library l) { return 1u << l; }
// What each use of the libraries loads.
constexpr unsigned PICTURE_LIBRARIES = library_bit(AVUTIL) | library_bit(SWSCALE) | library_bit(AVCODEC);
constexpr unsigned WRAP_LIBRARIES = library_bit(AVUTIL) | library_bit(AVCODEC) | library_bit(AVFORMAT);

// The functions dvlog calls, by library: the name each gets in
// ffmpeg_libraries, and the symbol. A new use adds its functions to the list
// of their library (libavformat's holds only its version so far).
#define DVLOG_AVUTIL_FUNCTIONS(X)                \
  X(util_version, avutil_version)                \
  X(version_info, av_version_info)               \
  X(log_set_level, av_log_set_level)             \
  X(frame_alloc, av_frame_alloc)                 \
  X(frame_free, av_frame_free)                   \
  X(frame_get_buffer, av_frame_get_buffer)       \
  X(frame_unref, av_frame_unref)
#define DVLOG_SWSCALE_FUNCTIONS(X)                      \
  X(scale_version, swscale_version)                     \
  X(get_cached_context, sws_getCachedContext)           \
  X(free_scaler, sws_freeContext)                       \
  X(get_coefficients, sws_getCoefficients)              \
  X(set_colorspace_details, sws_setColorspaceDetails)   \
  X(scale, sws_scale)
#define DVLOG_AVCODEC_FUNCTIONS(X)               \
  X(codec_version, avcodec_version)              \
  X(find_decoder, avcodec_find_decoder)          \
  X(find_encoder, avcodec_find_encoder)          \
  X(alloc_context, avcodec_alloc_context3)       \
  X(open_codec, avcodec_open2)                   \
  X(free_context, avcodec_free_context)          \
  X(packet_alloc, av_packet_alloc)               \
  X(packet_free, av_packet_free)                 \
  X(packet_unref, av_packet_unref)               \
  X(send_packet, avcodec_send_packet)            \
  X(receive_frame, avcodec_receive_frame)        \
  X(send_frame, avcodec_send_frame)              \
  X(receive_packet, avcodec_receive_packet)
#define DVLOG_AVFORMAT_FUNCTIONS(X) X(format_version, avformat_version)

struct ffmpeg_libraries {
#define DVLOG_FFMPEG_POINTER(name, symbol) decltype(&::symbol) name = nullptr;
  DVLOG_AVUTIL_FUNCTIONS(DVLOG_FFMPEG_POINTER)
  DVLOG_SWSCALE_FUNCTIONS(DVLOG_FFMPEG_POINTER)
  DVLOG_AVCODEC_FUNCTIONS(DVLOG_FFMPEG_POINTER)
  DVLOG_AVFORMAT_FUNCTIONS(DVLOG_FFMPEG_POINTER)
#undef DVLOG_FFMPEG_POINTER
  void* handles[FFMPEG_LIBRARIES] = {};
  unsigned versions[FFMPEG_LIBRARIES] = {};  // as AV_VERSION_INT, of those loaded

  ffmpeg_libraries() = default;
  ffmpeg_libraries(const ffmpeg_libraries&) = delete;
  ffmpeg_libraries& operator=(const ffmpeg_libraries&) = delete;

  // Loads each library of `wanted` (library_bit bits) not loaded yet, with
  // all of its functions; they stay loaded for the rest of the run. False,
  // with the reason in `failure` ("libavcodec.so.59: cannot open shared
  // object file: ...", "libswscale.so.6 has no sws_scale"), at the first
  // that cannot be used; those loaded before it stay usable.
  bool load(unsigned wanted, char* failure, size_t size);
};

// "libavcodec 59.37.100": a library loaded, as its version says.
void library_version_text(const ffmpeg_libraries& lib, ffmpeg_library l, char* out, size_t size);

}  // namespace dvlog
