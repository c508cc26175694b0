#include "merge/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <initializer_list>
#include <vector>

#include "dv/datetime.h"
#include "dv/dv_meta.h"
#include "dv/system.h"
#include "input/scanner.h"
#include "merge/frame_index.h"
#include "merge/frame_match.h"
#include "merge/frame_source.h"
#include "merge/plan.h"
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

// "00:00:01;14", a read's timecode (with ';' when counted with drop-frame
// numbering), or "no timecode".
const char* timecode_text(const frame_entry& f, char* out, size_t size) {
  if (!has_time(f.timecode)) return "no timecode";
  const uint32_t tc = f.timecode;
  std::snprintf(out, size, "%02X:%02X:%02X%c%02X", byte_of(tc, 3), byte_of(tc, 2), byte_of(tc, 1),
                (f.flags & FRAME_DROP_FRAME) ? ';' : ':', byte_of(tc, 0));
  return out;
}

// "frame 44 of B.dv (00:00:01;14)": a read, counted from 1 in its file.
struct read_text {
  char number[32], timecode[16];
  const char* text[5];
  read_text(const read_ref& r, const std::vector<transfer_index>& transfers, const char* const* paths) {
    std::snprintf(number, sizeof number, "frame %d of ", r.frame + 1);
    const frame_entry& f = transfers[static_cast<size_t>(r.transfer)].frames[static_cast<size_t>(r.frame)];
    const char* const all[] = {number, paths[r.transfer], " (", timecode_text(f, timecode, sizeof timecode), ")"};
    std::copy(std::begin(all), std::end(all), text);
  }
};

// Why the transfers are not merged, and where.
void tell_refusal(const merge_refusal& why, const std::vector<transfer_index>& transfers, const char* const* paths,
                  int fd) {
  const read_ref other_read = why.other.transfer >= 0 ? why.other : why.at;
  const read_text at(why.at, transfers, paths), other(other_read, transfers, paths);
  const char* named = paths[why.at.transfer];
  const char* other_name = paths[other_read.transfer];
  auto say = [&](const char* first, const read_text* one, const char* middle, const read_text* two, const char* last) {
    const char* parts[16];
    size_t n = 0;
    parts[n++] = first;
    if (one) n = static_cast<size_t>(std::copy(std::begin(one->text), std::end(one->text), parts + n) - parts);
    parts[n++] = middle;
    if (two) n = static_cast<size_t>(std::copy(std::begin(two->text), std::end(two->text), parts + n) - parts);
    parts[n++] = last;
    write_message(fd, parts, n);
  };
  switch (why.why) {
    case merge_refusal::reason::shares_nothing:
      tell(fd, {"dvlog: ", named, " shares no frame with ", other_name, "\n"});
      break;
    case merge_refusal::reason::differs: {
      // Within one transfer, two recordings that share their keys (and
      // nothing read between to order them): one tape all the same.
      if (other_read.transfer == why.at.transfer) {
        say("dvlog: nothing tells whether ", &at, " or ", &other, " comes first on the tape: not merged\n");
        break;
      }
      const frame_entry& f = transfers[static_cast<size_t>(why.at.transfer)].frames[static_cast<size_t>(why.at.frame)];
      char place[16];
      tell(fd, {"dvlog: ", named, " differs from ", other_name, " at ", timecode_text(f, place, sizeof place),
                ": not transfers of one tape\n"});
      break;
    }
    case merge_refusal::reason::unordered:
      say("dvlog: nothing tells whether ", &at, " or ", &other, " comes first on the tape: not merged\n");
      break;
    case merge_refusal::reason::disagree:
      say("dvlog: the passes that read ", &at, " and ", &other,
          " put the frames around them in different orders: not merged\n");
      break;
    default:
      say("dvlog: ", &at, " fits no place between the frames the other passes read around it: not merged\n",
          nullptr, "");
      break;
  }
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
  options.unnamed_when_stopped = true;
  // Only an empty file of OUT's name is replaced: one that holds anything
  // (a capture, an earlier merge) is refused before anything is read, and
  // one that appears meanwhile is left alone.
  struct stat existing;
  options.replace = stat(r.output, &existing) == 0 && existing.st_size == 0;
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
  {
    if (r.progress) r.progress->begin("planning", 0);
    frame_source source(transfers, in.files);
    read_comparer compare(transfers, &source);
    const merge_refusal refusal = plan_merge(transfers, compare, r.stop, plan);
    if (r.progress) r.progress->erase();
    if (refusal.why != merge_refusal::reason::none) {
      if (const int status = stopped(r.stop, r.err_fd, r.output)) return status;
      if (refusal.why == merge_refusal::reason::failed) {
        report_read_error(in.files[source.failed_read()], refusal.error, r.err_fd);
        return 1;
      }
      tell_refusal(refusal, transfers, r.paths, r.err_fd);
      return 1;
    }
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
  if (!out.commit()) {
    if (const int status = stopped(r.stop, r.err_fd, r.output)) return status;
    return 1;
  }

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
