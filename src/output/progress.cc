#include "output/progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace dvlog {

namespace {

constexpr int64_t REDRAW_NS = 250'000'000;  // four times a second at most

int64_t now_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// "850 MB", "12.3 GB": decimal units, as disks are sold.
void size_text(uint64_t bytes, char* out, size_t size) {
  if (bytes < 10'000'000'000ull)
    std::snprintf(out, size, "%llu MB", static_cast<unsigned long long>(bytes / 1'000'000));
  else
    std::snprintf(out, size, "%.1f GB", static_cast<double>(bytes) / 1e9);
}

}  // namespace

void progress_text(uint64_t bytes, uint64_t total, double seconds, int32_t frames, char* out, size_t size, int file,
                   int files, const char* doing) {
  char done[32], whole[32], which[120] = "";
  std::snprintf(which, sizeof which, "%.60s%s", doing ? doing : "", doing ? ", " : "");
  if (files > 1) std::snprintf(which + std::strlen(which), 40, "file %d of %d, ", file, files);
  size_text(bytes, done, sizeof done);
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  if (total > 0 && bytes <= total) {
    size_text(total, whole, sizeof whole);
    const unsigned long long left = rate > 0 ? static_cast<unsigned long long>((total - bytes) / rate + 0.5) : 0;
    std::snprintf(out, size, "dvlog: %s%s of %s (%d%%), %.0f MB/s, %llu:%02llu left, %d frames", which, done, whole,
                  static_cast<int>(static_cast<double>(bytes) * 100 / static_cast<double>(total)), rate / 1e6,
                  left / 60, left % 60, frames);
  } else {
    std::snprintf(out, size, "dvlog: %s%s read, %.0f MB/s, %d frames", which, done, rate / 1e6, frames);
  }
}

progress_line::progress_line(int fd, uint64_t total, int files)
    : fd_(fd), total_(total), files_(files), start_ns_(now_ns()), last_draw_ns_(start_ns_) {}

void progress_line::begin(const char* doing, uint64_t total, int files) {
  doing_ = doing;
  total_ = total;
  files_ = files;
  start_ns_ = now_ns();
  draw(start_ns_, 0, 0, 1);
}

void progress_line::update(uint64_t bytes, int32_t frames, int file) {
  const int64_t now = now_ns();
  if (now - last_draw_ns_ >= REDRAW_NS) draw(now, bytes, frames, file);
}

void progress_line::draw(int64_t now, uint64_t bytes, int32_t frames, int file) {
  last_draw_ns_ = now;
  char text[220];
  progress_text(bytes, total_, static_cast<double>(now - start_ns_) / 1e9, frames, text, sizeof text, file, files_,
                doing_);
  // Back to the start of the line; spaces cover what a longer line left.
  const size_t length = std::strlen(text);
  char line[2 * sizeof text + 2];
  const int n = std::snprintf(line, sizeof line, "\r%s%*s", text, shown_ > length ? static_cast<int>(shown_ - length) : 0, "");
  if (n > 0) (void)write_all(fd_, line, std::min(static_cast<size_t>(n), sizeof line - 1));
  shown_ = length;
}

void progress_line::erase() {
  if (shown_ == 0) return;
  char line[2 * 220 + 2];
  const int n = std::snprintf(line, sizeof line, "\r%*s\r", static_cast<int>(shown_), "");
  if (n > 0) (void)write_all(fd_, line, std::min(static_cast<size_t>(n), sizeof line - 1));
  shown_ = 0;
}

}  // namespace dvlog
