#include "ffmpeg/ffmpeg_libraries.h"

#include <cstdio>
#include <dlfcn.h>

namespace dvlog {

namespace {

#define DVLOG_STRING(x) #x
#define DVLOG_SONAME(name, major) "lib" name ".so." DVLOG_STRING(major)
// By ffmpeg_library: each library's file as the dynamic linker knows it, of
// the major version whose headers dvlog was built with (a library's interface
// changes only with its major version).
constexpr const char* SONAMES[FFMPEG_LIBRARIES] = {
    DVLOG_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    DVLOG_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR),
    DVLOG_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
};

}  // namespace

bool ffmpeg_libraries::load(char* failure, size_t size) {
  for (int i = 0; i < FFMPEG_LIBRARIES; ++i) {
    handles[i] = dlopen(SONAMES[i], RTLD_LAZY | RTLD_LOCAL);
    if (!handles[i]) {
      std::snprintf(failure, size, "%s", dlerror());
      return false;
    }
  }
#define DVLOG_FFMPEG_LOOKUP(library, name, symbol)                                 \
  name = reinterpret_cast<decltype(name)>(dlsym(handles[library], #symbol));      \
  if (!name) {                                                                     \
    std::snprintf(failure, size, "%s has no %s", SONAMES[library], #symbol);       \
    return false;                                                                  \
  }
  DVLOG_FFMPEG_FUNCTIONS(DVLOG_FFMPEG_LOOKUP)
#undef DVLOG_FFMPEG_LOOKUP
  return true;
}

}  // namespace dvlog
