// The file formats that hold DV frames among bytes of their own: an input's
// first bytes tell which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dvlog {

enum class container_kind : uint8_t { none, avi, mov, mkv };

constexpr const char* CONTAINER_NAMES[] = {"", "AVI", "MOV", "MKV"};
constexpr const char* container_name(container_kind k) { return CONTAINER_NAMES[static_cast<int>(k) & 3]; }

// RIFF with form type "AVI " (or an OpenDML extension "AVIX"); QuickTime and
// MP4 open with an atom whose type is one of a few; Matroska with the EBML
// magic number.
inline container_kind container_of(const uint8_t* p, size_t size) {
  if (size >= 12 && std::memcmp(p, "RIFF", 4) == 0 && (std::memcmp(p + 8, "AVI ", 4) == 0 || std::memcmp(p + 8, "AVIX", 4) == 0))
    return container_kind::avi;
  if (size >= 4 && p[0] == 0x1A && p[1] == 0x45 && p[2] == 0xDF && p[3] == 0xA3) return container_kind::mkv;
  static const char* const ATOMS[] = {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot"};
  if (size >= 8)
    for (const char* atom : ATOMS)
      if (std::memcmp(p + 4, atom, 4) == 0) return container_kind::mov;
  return container_kind::none;
}

}  // namespace dvlog
