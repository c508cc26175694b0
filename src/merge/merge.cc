#include "merge/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <vector>

#include "dv/datetime.h"
#include "dv/dv_meta.h"
#include "dv/system.h"
#include "input/scanner.h"
#include "merge/align.h"
#include "merge/frame_index.h"
#include "output/safe_file.h"

namespace dvlog {

namespace {

void tell(int fd, std::initializer_list<const char*> parts) { write_message(fd, parts.begin(), parts.size()); }

// "NTSC DV25", as a refusal names a transfer's kind.
const char* kind_text(const transfer_index& t, char* out, size_t size) {
  if (t.system == NO_INFO8) return "of no known system";
  const signal_type* type = find_signal_type(t.video_type);
  std::snprintf(out, size, "%s %s", system_of(t.system).name, type ? type->name : "of an unknown signal type");
  return out;
}

// The transfers open for the whole merge: read once to index them, then again
// for the frames the merge takes.
struct open_transfers {
  input_source files[MAX_TRANSFERS];
  int count = 0;
  ~open_transfers() {
    for (int i = 0; i < count; ++i) close_input(files[i]);
  }
};

// 128 + the stop signal once one came (told, since nothing is written), else 0.
int stopped(const stop_request& stop, int err_fd, const char* output) {
  if (!stop_requested(stop)) return 0;
  tell(err_fd, {"dvlog: stopped by ", stop_signal_name(*stop.signal), "; ", output, " is not written\n"});
  return 128 + *stop.signal;
}

// Sets the written stream to the disk a step at a time, so that a stop signal
// is heard between steps; the sync before it is named then has nothing left
// to wait for. Returns false when stopped.
bool sync_in_steps(int fd, uint64_t size, const stop_request& stop, progress_line* progress) {
  constexpr uint64_t STEP = uint64_t{32} << 20;
  if (progress) progress->begin("syncing", size);
  for (uint64_t at = 0; at < size; at += STEP) {
    if (stop_requested(stop)) return false;
    // A file system without it is synced whole when the file is named.
    if (sync_file_range(fd, static_cast<off_t>(at), static_cast<off_t>(std::min(STEP, size - at)),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0)
      break;
    if (progress) progress->update(at + std::min(STEP, size - at), 0);
  }
  return !stop_requested(stop);
}

}  // namespace

int merge_transfers(const merge_request& r, merge_tally& tally) {
  open_transfers in;
  file_id ids[MAX_TRANSFERS];
  for (int i = 0; i < r.count && i < MAX_TRANSFERS; ++i) {
    if (!open_input(r.paths[i], in.files[i], r.err_fd)) return 1;
    ++in.count;
    if (!in.files[i].is_regular) {
      tell(r.err_fd, {"dvlog: ", r.paths[i], ": not a regular file (a merge reads its transfers twice)\n"});
      return 1;
    }
    if (!id_of_fd(in.files[i].fd, ids[i])) ids[i] = {0, 0};
  }

  safe_file_options options;
  options.kind = "merged stream";
  options.inputs = ids;
  options.input_count = static_cast<size_t>(in.count);
  options.wait = &r.wait;
  safe_file out(r.output, options, r.err_fd);
  if (!out.ok()) return 1;

  // The line is gone before anything else is told.
  struct erase_at_end {
    progress_line* line;
    ~erase_at_end() {
      if (line) line->erase();
    }
  } erase{r.progress};
  std::vector<transfer_index> transfers(static_cast<size_t>(in.count));
  {
    uint64_t total = 0;
    for (int i = 0; i < in.count; ++i) total += in.files[i].size;
    if (r.progress) r.progress->begin("indexing", total, in.count);
    std::unique_ptr<uint8_t[]> window(new uint8_t[SCAN_WINDOW_SIZE]);
    index_progress shown{r.progress, 0, 1};
    for (int i = 0; i < in.count; ++i) {
      shown.file = i + 1;
      const bool indexed = index_transfer(in.files[i], window.get(), r.stop, transfers[static_cast<size_t>(i)], shown);
      shown.bytes_before += in.files[i].size;
      if (indexed) continue;
      if (r.progress) r.progress->erase();
      if (const int status = stopped(r.stop, r.err_fd, r.output)) return status;
      report_read_error(in.files[i], errno, r.err_fd);
      return 1;
    }
  }
  const transfer_index& first = transfers.front();
  for (int i = 1; i < in.count; ++i) {
    const transfer_index& t = transfers[static_cast<size_t>(i)];
    if (t.frames.empty() || first.frames.empty() || (t.system == first.system && t.video_type == first.video_type))
      continue;
    char one[64], other[64];
    tell(r.err_fd, {"dvlog: ", r.paths[0], " is ", kind_text(first, one, sizeof one), " and ", r.paths[i], " is ",
                    kind_text(t, other, sizeof other), ": no transfers of one tape\n"});
    return 1;
  }

  merge_plan plan;
  const merge_refusal refusal = plan_merge(transfers, plan);
  if (refusal.why == merge_refusal::reason::differs) {
    // HH:MM:SS:FF, or HH:MM:SS;FF counted with drop-frame numbering.
    char place[16];
    const uint32_t tc = refusal.timecode;
    std::snprintf(place, sizeof place, "%02X:%02X:%02X%c%02X", byte_of(tc, 3), byte_of(tc, 2), byte_of(tc, 1),
                  refusal.drop_frame ? ';' : ':', byte_of(tc, 0));
    tell(r.err_fd, {"dvlog: ", r.paths[refusal.transfer], " differs from ", r.paths[refusal.other], " at ", place,
                    ": not transfers of one tape\n"});
    return 1;
  }
  if (refusal.why == merge_refusal::reason::shares_nothing) {
    tell(r.err_fd, {"dvlog: ", r.paths[refusal.transfer], " shares no frame with ", r.paths[refusal.other], "\n"});
    return 1;
  }
  if (plan.frames() == 0) {
    tell(r.err_fd, {"dvlog: no frame at playback speed in ", r.paths[0], "\n"});
    return 1;
  }

  assembler writer(transfers, plan, in.files, out.fd(), tally);
  if (r.progress)
    r.progress->begin("writing", static_cast<uint64_t>(plan.frames()) *
                                     static_cast<uint64_t>(first.sequences_per_frame) * SEQUENCE_SIZE);
  int error = writer.write(r.stop, &r.wait, r.progress);
  if (error == 0 && !sync_in_steps(out.fd(), writer.written(), r.stop, r.progress)) error = EINTR;
  if (r.progress) r.progress->erase();
  if (const int status = stopped(r.stop, r.err_fd, r.output)) return status;
  if (error != 0) {
    const int32_t t = writer.failed_read();
    if (t >= 0)
      report_read_error(in.files[t], error, r.err_fd);
    else
      tell(r.err_fd, {"Could not write merged stream ", r.output, ": ", error_text(error), "\n"});
    return 1;
  }
  if (!out.commit()) return 1;

  merge_event& e = tally.totals;
  e.output = r.output;
  e.transfers = tally.transfers.data();
  e.transfer_count = static_cast<int32_t>(tally.transfers.size());
  e.stretches = tally.stretches.data();
  e.stretch_count = static_cast<int64_t>(tally.stretches.size());
  e.passes = tally.passes.data();
  e.pass_count = static_cast<int32_t>(tally.passes.size());
  return 0;
}

}  // namespace dvlog
