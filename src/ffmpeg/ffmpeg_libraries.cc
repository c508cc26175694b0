#include "ffmpeg/ffmpeg_libraries.h"

#include <cstdio>
#include <dlfcn.h>

namespace dvlog {

namespace {

#define DVLOG_STRING(x) #x
#define DVLOG_SONAME(name, major) "lib" name ".so." DVLOG_STRING(major)

// By ffmpeg_library, in the order they are loaded (libavutil, which the
// others use, first): the file as the dynamic linker knows it, the major
// version of the headers dvlog was built with, and the function that tells
// the library's own version.
struct library_file {
  const char* name;
  const char* soname;
  unsigned major;
  const char* version_symbol;
};
constexpr library_file LIBRARY_FILES[FFMPEG_LIBRARIES] = {
    {"libavutil", DVLOG_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), LIBAVUTIL_VERSION_MAJOR, "avutil_version"},
    {"libswscale", DVLOG_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR), LIBSWSCALE_VERSION_MAJOR, "swscale_version"},
    {"libavcodec", DVLOG_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), LIBAVCODEC_VERSION_MAJOR, "avcodec_version"},
    {"libavformat", DVLOG_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR), LIBAVFORMAT_VERSION_MAJOR,
     "avformat_version"},
};

// Finds each function of a library's list; false, with the first missing
// named in `failure`.
#define DVLOG_FFMPEG_LOOKUP(name, symbol)                                             \
  lib.name = reinterpret_cast<decltype(lib.name)>(dlsym(handle, #symbol));            \
  if (!lib.name) {                                                                    \
    std::snprintf(failure, size, "%s has no %s", soname, #symbol);                    \
    return false;                                                                     \
  }
bool find_functions(ffmpeg_libraries& lib, ffmpeg_library l, void* handle, char* failure, size_t size) {
  const char* soname = LIBRARY_FILES[l].soname;
  switch (l) {
    case AVUTIL:
      DVLOG_AVUTIL_FUNCTIONS(DVLOG_FFMPEG_LOOKUP)
      break;
    case SWSCALE:
      DVLOG_SWSCALE_FUNCTIONS(DVLOG_FFMPEG_LOOKUP)
      break;
    case AVCODEC:
      DVLOG_AVCODEC_FUNCTIONS(DVLOG_FFMPEG_LOOKUP)
      break;
    case AVFORMAT:
      DVLOG_AVFORMAT_FUNCTIONS(DVLOG_FFMPEG_LOOKUP)
      break;
    case FFMPEG_LIBRARIES:
      break;
  }
  return true;
}
#undef DVLOG_FFMPEG_LOOKUP

// Opens one library and checks that it is the major version dvlog was built
// with; its handle, or nullptr with the reason.
void* open_library(const library_file& file, unsigned& version, char* failure, size_t size) {
  void* handle = dlopen(file.soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::snprintf(failure, size, "%s", dlerror());
    return nullptr;
  }
  const auto version_of = reinterpret_cast<unsigned (*)()>(dlsym(handle, file.version_symbol));
  if (!version_of) {
    std::snprintf(failure, size, "%s has no %s", file.soname, file.version_symbol);
    return nullptr;
  }
  version = version_of();
  if (AV_VERSION_MAJOR(version) != file.major) {
    std::snprintf(failure, size, "%s is version %u.%u.%u, not %u", file.soname, AV_VERSION_MAJOR(version),
                  AV_VERSION_MINOR(version), AV_VERSION_MICRO(version), file.major);
    return nullptr;
  }
  return handle;
}

}  // namespace

bool ffmpeg_libraries::load(unsigned wanted, char* failure, size_t size) {
  for (int i = 0; i < FFMPEG_LIBRARIES; ++i) {
    const ffmpeg_library l = static_cast<ffmpeg_library>(i);
    if (!(wanted & library_bit(l)) || handles[l]) continue;
    // A library refused is left mapped: closing one whose constructors ran
    // is not always safe, and the run ends without it anyway.
    void* handle = open_library(LIBRARY_FILES[l], versions[l], failure, size);
    if (!handle || !find_functions(*this, l, handle, failure, size)) return false;
    handles[l] = handle;
  }
  return true;
}

void library_version_text(const ffmpeg_libraries& lib, ffmpeg_library l, char* out, size_t size) {
  const unsigned v = lib.versions[l];
  std::snprintf(out, size, "%s %u.%u.%u", LIBRARY_FILES[l].name, AV_VERSION_MAJOR(v), AV_VERSION_MINOR(v),
                AV_VERSION_MICRO(v));
}

}  // namespace dvlog
