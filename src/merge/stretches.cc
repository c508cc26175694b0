#include "merge/stretches.h"

#include <unordered_map>

#include "dv/datetime.h"
#include "dv/dv_meta.h"
#include "dv/system.h"

namespace dvlog {

namespace {

// The timecode as a count of frames, for telling where a transfer goes back;
// -1 when none was read.
int64_t timecode_count(uint32_t tc, uint8_t system) {
  if (!has_time(tc)) return -1;
  return timecode_frames(tc, system_of(system == NO_INFO8 ? 0 : system).frames_per_second, false);
}

}  // namespace

void cut_stretches(const transfer_index& t, std::vector<int32_t>& reads, std::vector<stretch_reads>& stretches,
                   int64_t& repeats) {
  reads.clear();
  stretches.clear();
  std::unordered_map<uint64_t, size_t> seen;  // a signature, and where in `reads` it came last
  bool gap = true;
  int64_t last_timecode = -1;
  uint32_t previous_timecode = NO_INFO;
  std::vector<int64_t> begins, reaches;
  for (size_t j = 0; j < t.frames.size(); ++j) {
    const frame_entry& f = t.frames[j];
    if (f.flags & FRAME_OFF_SPEED) {
      gap = true;
      continue;
    }
    if (!gap && (f.flags & FRAME_REPEATS) && has_time(f.timecode) && f.timecode == previous_timecode) {
      ++repeats;
      continue;
    }
    const int64_t timecode = timecode_count(f.timecode, t.system);
    bool back = timecode >= 0 && last_timecode >= 0 && timecode < last_timecode;
    // Without a timecode, a frame whose whole content came before went back,
    // unless the frame before it came before it there too (a still whose
    // sound repeats every few frames goes on).
    if (f.signature != 0 && !(f.flags & FRAME_PLAIN)) {
      const auto at = seen.emplace(f.signature, reads.size());
      if (!at.second && timecode < 0) {
        const size_t earlier = at.first->second;
        back |= reads.empty() || earlier == 0 ||
                t.frames[static_cast<size_t>(reads.back())].signature !=
                    t.frames[static_cast<size_t>(reads[earlier - 1])].signature;
        at.first->second = reads.size();
      }
    }
    if (gap) reaches.push_back(static_cast<int64_t>(reads.size()));
    if (gap || back || begins.empty()) begins.push_back(static_cast<int64_t>(reads.size()));
    reads.push_back(static_cast<int32_t>(j));
    gap = false;
    if (timecode >= 0) last_timecode = timecode;
    previous_timecode = f.timecode;
  }
  reaches.push_back(static_cast<int64_t>(reads.size()));
  size_t r = 1;  // reaches[0] is where the first stretch begins
  for (size_t k = 0; k < begins.size(); ++k) {
    const int64_t end = k + 1 < begins.size() ? begins[k + 1] : static_cast<int64_t>(reads.size());
    while (r < reaches.size() && reaches[r] < end) ++r;
    stretches.push_back({reads.data(), begins[k], end, reaches[r]});
  }
}

}  // namespace dvlog
