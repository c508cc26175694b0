#include "picture/picture_worker.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace dvlog {

picture_worker::picture_worker() : buffers_(new uint8_t[SLOTS * MAX_FRAME_BYTES]) {
  // Left uninitialised: a buffer's pages are touched only by the frames it holds.
  for (int i = 0; i < SLOTS; ++i) jobs_[i].bytes = buffers_.get() + static_cast<size_t>(i) * MAX_FRAME_BYTES;
  // A thread that cannot be made fails the pictures, told as their reason,
  // as libraries that cannot be loaded do; std::thread would abort instead.
  const int error = pthread_create(&thread_, nullptr, start, this);
  started_ = error == 0;
  if (!started_) {
    std::snprintf(start_failure_, sizeof start_failure_, "no thread for the pictures: %s", std::strerror(error));
    failure_ = start_failure_;
    ready_ = true;
  }
}

picture_worker::~picture_worker() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  work_given_.notify_one();
  pthread_join(thread_, nullptr);
}

void* picture_worker::start(void* self) {
  // Stop signals are the reading thread's to take.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  static_cast<picture_worker*>(self)->work();
  return nullptr;
}

int picture_worker::next_queued() const {
  int next = -1;
  for (int i = 0; i < SLOTS; ++i)
    if (owner_[i] == owner::queued && (next < 0 || order_[i] < order_[next])) next = i;
  return next;
}

void picture_worker::work() {
  // Loading libavcodec and its some ninety libraries, and opening the codecs,
  // takes tens of milliseconds: the reading goes on meanwhile.
  encoder_.reset(new still_encoder);
  std::unique_lock<std::mutex> lock(mutex_);
  failure_ = encoder_->failure();
  ready_ = true;
  slot_back_.notify_all();
  for (;;) {
    work_given_.wait(lock, [this] { return quit_ || next_queued() >= 0; });
    if (quit_) return;
    const int i = next_queued();
    owner_[i] = owner::worker;
    lock.unlock();
    do_job(jobs_[i]);
    lock.lock();
    owner_[i] = owner::reader;
    jobs_[i].done = true;
    slot_back_.notify_all();
  }
}

// The JPEG takes the place of the frame, which the decoder has copied.
void picture_worker::do_job(picture_job& job) {
  const still_picture p = encoder_->encode(job.bytes, job.frame_size, job.wide);
  job.jpeg_size = 0;
  job.failure = p.failure;
  if (!p.jpeg) return;
  if (p.size > MAX_FRAME_BYTES) {
    job.failure = "the picture came out too large";
    return;
  }
  std::memcpy(job.bytes, p.jpeg, p.size);
  job.jpeg_size = p.size;
  job.width = p.width;
  job.height = p.height;
}

picture_job& picture_worker::acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  int found = -1;
  slot_back_.wait(lock, [&] {
    for (int i = 0; i < SLOTS; ++i)
      if (owner_[i] == owner::reader && (found < 0 || !jobs_[i].done)) found = i;
    return found >= 0;
  });
  return jobs_[found];
}

uint64_t picture_worker::submit(picture_job& job) {
  const int i = static_cast<int>(&job - jobs_);
  std::unique_lock<std::mutex> lock(mutex_);
  job.serial = ++serial_;
  job.done = false;
  if (!started_) {
    job.done = true;
    job.jpeg_size = 0;
    job.failure = failure_;
    return job.serial;
  }
  owner_[i] = owner::queued;
  order_[i] = job.serial;
  lock.unlock();
  work_given_.notify_one();
  return job.serial;
}

void picture_worker::cancel(uint64_t serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = 0; i < SLOTS; ++i) {
    if (jobs_[i].serial != serial) continue;
    if (owner_[i] == owner::queued) owner_[i] = owner::reader;
    if (owner_[i] == owner::reader) jobs_[i].done = false;
  }
}

void picture_worker::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  slot_back_.wait(lock, [this] {
    if (!ready_) return false;
    for (const owner o : owner_)
      if (o != owner::reader) return false;
    return true;
  });
}

}  // namespace dvlog
