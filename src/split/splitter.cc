#include "split/splitter.h"

#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include "log/file_lines.h"
#include "output/byte_copy.h"
#include "split/part_names.h"

namespace dvlog {

namespace {

// Two known values that differ; a value not yet known changes nothing.
bool differs(uint8_t known, uint8_t now, uint8_t unknown) { return known != unknown && now != unknown && known != now; }

bool format_differs(const frame_format& a, const frame_format& b) {
  return differs(a.system, b.system, NO_INFO8) || differs(a.video_type, b.video_type, NO_INFO8) ||
         differs(a.aspect, b.aspect, NO_INFO8) || differs(a.audio_rate_code, b.audio_rate_code, NO_INFO8) ||
         differs(a.audio_bits_code, b.audio_bits_code, NO_INFO8) || differs(a.audio_channels, b.audio_channels, 0);
}

// What is known of a format, with what a later frame adds.
void learn(uint8_t& known, uint8_t now, uint8_t unknown) {
  if (known == unknown) known = now;
}
void learn(frame_format& f, const frame_format& now) {
  learn(f.system, now.system, NO_INFO8);
  learn(f.video_type, now.video_type, NO_INFO8);
  learn(f.aspect, now.aspect, NO_INFO8);
  learn(f.audio_rate_code, now.audio_rate_code, NO_INFO8);
  learn(f.audio_bits_code, now.audio_bits_code, NO_INFO8);
  learn(f.audio_channels, now.audio_channels, 0);
}

safe_file_options part_options() {
  safe_file_options o;
  o.kind = "part";
  o.replace = false;
  o.hidden_while_written = true;
  o.readable = true;
  return o;
}

}  // namespace

splitter::splitter(const split_setup& setup) : setup_(setup) { begin_part(0); }

// A file for a part under a hidden name; its own name comes when it ends.
bool splitter::make_part_file(safe_file& file, int number) {
  // Until its first frame is known, the part goes by its number alone.
  if (!part_path(setup_.directory, setup_.base_name, number, nullptr, setup_.year_now, path_, sizeof path_))
    return write_error(ENAMETOOLONG);
  if (file.open_unnamed(setup_.directory, path_, part_options(), setup_.err_fd)) return true;
  failed_ = true;
  return false;
}

// The next part begins at `offset` of the input.
void splitter::begin_part(uint64_t offset) {
  ++number_;
  part_start_ = offset;
  frames_ = 0;
  first_frame_ = 0;
  format_ = frame_format{NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, NO_INFO8, 0};
}

void splitter::bytes(const uint8_t* data, size_t size) {
  if (setup_.input_regular || failed_ || size == 0) return;
  if (!open_) {
    if (!make_part_file(part(), number_)) return;
    open_ = true;
  }
  if (const int error = write_all(part().fd(), reinterpret_cast<const char*>(data), size)) {
    write_error(error);
    return;
  }
  written_end_ += size;
}

bool splitter::copy(int from_fd, uint64_t from, int to_fd, uint64_t length) {
  bool reading;
  const int error = copy_range(from_fd, from, to_fd, length, setup_.copy_buffer, setup_.copy_size, &reading);
  return error == 0 || write_error(error);
}

// The path of the part being written, dated by its first frame once known.
bool splitter::name_current() {
  return part_path(setup_.directory, setup_.base_name, number_, frames_ ? &first_ : nullptr, setup_.year_now, path_,
                   sizeof path_);
}

bool splitter::write_error(int error) {
  name_current();
  if (setup_.out) setup_.out->flush();
  const char* const parts[] = {"Could not write part ", path_, ": ", error_text(error), "\n"};
  write_message(setup_.err_fd, parts, std::size(parts));
  failed_ = true;
  open_ = false;
  parts_[0].abandon();
  parts_[1].abandon();
  return false;
}

// A start mark cuts where it opens a recording: not on a frame the deck sent
// while moving the tape, nor where a retake reads a marked frame again.
bool splitter::cuts_before(const frame_event& f, bool opens) {
  const unsigned r = setup_.rules;
  return ((r & SPLIT_AT_START) && f.recording_start && opens) || ((r & SPLIT_AT_TIME_JUMP) && time_jump_at_ == f.at.offset) ||
         ((r & SPLIT_AT_TIMECODE_JUMP) && timecode_jump_at_ == f.at.offset) ||
         ((r & SPLIT_AT_FORMAT) && format_differs(format_, f.format));
}

void splitter::timecode_jump(const timecode_jump_event& e) { timecode_jump_at_ = e.at.offset; }

void splitter::recording_time_jump(const recording_time_jump_event& e) {
  if (!e.marked) time_jump_at_ = e.at.offset;
}

void splitter::frame(const frame_event& f) {
  // Stopped: a frame cut short by the stop is in no part.
  if (failed_ || (stopped_ && !(f.frame && f.frame->whole()))) return;
  if (f.frame) frame_end_ = f.frame->end;
  const bool opens = f.recording != recording_;
  recording_ = f.recording;
  if (frames_ > 0 && cuts_before(f, opens)) {
    const uint64_t cut = f.at.offset;
    if (setup_.input_regular) {
      if (copy_in(cut)) name_part(part(), cut);
      open_ = false;
    } else {
      // The frame's bytes, and any read after them, are in the part being
      // written already: they move to a new part, and the old one ends before
      // them.
      safe_file& old_part = part();
      safe_file& new_part = parts_[current_ ^ 1];
      const uint64_t kept = cut - part_start_;
      if (!make_part_file(new_part, number_ + 1) || !copy(old_part.fd(), kept, new_part.fd(), written_end_ - cut)) return;
      if (ftruncate(old_part.fd(), static_cast<off_t>(kept)) != 0) {
        write_error(errno);
        return;
      }
      name_part(old_part, cut);
      current_ ^= 1;
    }
    if (failed_) return;
    begin_part(cut);
  }
  if (frames_ == 0) {
    first_ = f.stamp;
    first_frame_ = f.at.frame;
  }
  ++frames_;
  last_ = f.stamp;
  learn(format_, f.format);
  // From a regular file, the bytes before this frame are the part's for
  // good: copied now, while the kernel still holds them close, in pieces of
  // a few MB.
  if (setup_.input_regular && f.at.offset >= copied_ + COPY_STEP) copy_in(f.at.offset);
}

// The last part ends with the input.
void splitter::summary(const summary_event&) {
  const uint64_t end = stopped_ ? frame_end_ : input_end_;
  // From a pipe, the bytes read after that frame are in the part already.
  if (stopped_ && open_ && !failed_ && !setup_.input_regular && written_end_ > end) {
    if (end <= part_start_) {
      part().abandon();
      open_ = false;
    } else if (ftruncate(part().fd(), static_cast<off_t>(end - part_start_)) != 0) {
      write_error(errno);
    }
  }
  if (!failed_ && end > part_start_ && (!setup_.input_regular || copy_in(end)) && open_) name_part(part(), end);
  open_ = false;
}

// From a regular file: the part's bytes up to `end` are copied into its file,
// and the disk is asked to start writing them, so that the sync at its end
// has little left to wait for.
bool splitter::copy_in(uint64_t end) {
  if (failed_) return false;
  if (!open_) {
    if (!make_part_file(part(), number_)) return false;
    open_ = true;
    copied_ = part_start_;
  }
  if (end > copied_ && !copy(setup_.input_fd, setup_.input_start + copied_, part().fd(), end - copied_)) return false;
  copied_ = end;
  (void)sync_file_range(part().fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
  return true;
}

// The part, whole, takes its name and is told.
void splitter::name_part(safe_file& file, uint64_t end) {
  if (!name_current()) {
    write_error(ENAMETOOLONG);
    return;
  }
  if (setup_.out) setup_.out->flush();
  if (!file.retarget(path_) || !file.commit()) {
    failed_ = true;
    return;
  }
  const part_facts p{number_, path_, part_start_, end - part_start_, frames_, first_frame_, first_, last_};
  if (records_ < setup_.record_capacity)
    setup_.records[records_++] = p;
  else
    ++more_;
  if (setup_.listener) setup_.listener->part(p);
}

void splitter::write_lines(output_stream& out) const {
  char path[4096];
  for (int i = 0; i < records_; ++i) {
    part_facts p = setup_.records[i];
    part_path(setup_.directory, setup_.base_name, p.number, p.frames ? &p.first : nullptr, setup_.year_now, path,
              sizeof path);
    p.path = path;
    write_part_line(out, p);
  }
  if (more_ > 0) out.printf("And %lld more parts\n", static_cast<long long>(more_));
  if (stopped_ && input_end_ > frame_end_)
    out.printf("Left out of the parts: %llu bytes read after the last whole frame\n",
               static_cast<unsigned long long>(input_end_ - frame_end_));
}

}  // namespace dvlog
