#include "wrap/quicktime_tracks.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dvlog {

namespace {

// An atom: a 32-bit big-endian size (of the whole atom, header included)
// and a four-letter type; size 1 means a 64-bit size follows the type, and
// size 0 that the atom runs to the end of its parent.
struct atom {
  uint64_t start, size, body;  // body: where its contents begin
  char type[4];
};

constexpr uint64_t ATOM_HEADER = 8;
constexpr uint64_t LARGE_ATOM_HEADER = 16;
// A track header (tkhd) begins with its version (one byte) and three bytes
// of flags, whose lowest bit enables the track.
constexpr uint64_t TKHD_FLAGS_LOW_BYTE = 3;
constexpr uint8_t TRACK_ENABLED = 0x01;
// A handler reference (hdlr): version and flags, the component type, then
// the handler's subtype: 'vide', 'soun', 'sbtl', 'text', 'tmcd'.
constexpr uint64_t HDLR_SUBTYPE = 8;

uint64_t big_endian(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

int read_at(int fd, uint64_t at, uint8_t* into, size_t size) {
  const ssize_t n = pread(fd, into, size, static_cast<off_t>(at));
  return n == static_cast<ssize_t>(size) ? 0 : n < 0 ? errno : EINVAL;
}

// The atom at `at`, within a parent ending at `end`.
int read_atom(int fd, uint64_t at, uint64_t end, atom& a) {
  uint8_t head[LARGE_ATOM_HEADER];
  if (end - at < ATOM_HEADER) return EINVAL;
  if (const int error = read_at(fd, at, head, ATOM_HEADER)) return error;
  a.start = at;
  a.size = big_endian(head, 4);
  a.body = at + ATOM_HEADER;
  std::memcpy(a.type, head + 4, 4);
  if (a.size == 1) {
    if (const int error = read_at(fd, at, head, LARGE_ATOM_HEADER)) return error;
    a.size = big_endian(head + ATOM_HEADER, 8);
    a.body = at + LARGE_ATOM_HEADER;
  } else if (a.size == 0) {
    a.size = end - at;
  }
  return a.size < a.body - at || a.size > end - at ? EINVAL : 0;
}

// The first child of type `type` in [from, end); false when there is none.
int find_child(int fd, uint64_t from, uint64_t end, const char* type, atom& found, bool& there) {
  there = false;
  for (uint64_t at = from; at < end; at += found.size) {
    if (const int error = read_atom(fd, at, end, found)) return error;
    if (std::memcmp(found.type, type, 4) == 0) return there = true, 0;
  }
  return 0;
}

// Clears the enabled flag of a track when it holds text.
int disable_if_text(int fd, const atom& trak) {
  atom mdia, hdlr, tkhd;
  bool there;
  if (const int error = find_child(fd, trak.body, trak.start + trak.size, "mdia", mdia, there); error || !there)
    return error;
  if (const int error = find_child(fd, mdia.body, mdia.start + mdia.size, "hdlr", hdlr, there); error || !there)
    return error;
  uint8_t subtype[4];
  if (const int error = read_at(fd, hdlr.body + HDLR_SUBTYPE, subtype, sizeof subtype)) return error;
  if (std::memcmp(subtype, "sbtl", 4) != 0 && std::memcmp(subtype, "text", 4) != 0) return 0;
  if (const int error = find_child(fd, trak.body, trak.start + trak.size, "tkhd", tkhd, there); error || !there)
    return error;
  uint8_t flags;
  if (const int error = read_at(fd, tkhd.body + TKHD_FLAGS_LOW_BYTE, &flags, 1)) return error;
  flags = static_cast<uint8_t>(flags & ~TRACK_ENABLED);
  return pwrite(fd, &flags, 1, static_cast<off_t>(tkhd.body + TKHD_FLAGS_LOW_BYTE)) == 1 ? 0 : errno;
}

}  // namespace

int disable_text_tracks(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  atom moov, trak;
  bool there;
  if (const int error = find_child(fd, 0, size, "moov", moov, there)) return error;
  if (!there) return EINVAL;
  const uint64_t end = moov.start + moov.size;
  for (uint64_t at = moov.body; at < end; at += trak.size) {
    if (const int error = read_atom(fd, at, end, trak)) return error;
    if (std::memcmp(trak.type, "trak", 4) != 0) continue;
    if (const int error = disable_if_text(fd, trak)) return error;
  }
  return 0;
}

}  // namespace dvlog
