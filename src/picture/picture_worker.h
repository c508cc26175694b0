// Pictures made off the reading path: a thread of their own loads FFmpeg's
// libraries while the reading starts, then decodes, scales and encodes each
// frame the picker hands it, while the stream goes on being read.
//
// Frames go over through a ring of SLOTS jobs, each with a buffer of the
// largest frame, all made before anything is read. The reading thread takes
// a slot (acquire), copies the frame into it and gives it to the worker
// (submit); the worker writes the JPEG over the frame in the same buffer and
// hands the slot back; the reading thread takes the result when it next
// needs a slot, or at the end of the input (drain). When the worker falls
// behind and every slot is taken, the reading waits for the next picture to
// be done, some 2 ms: every job in the ring is a picture the picker chose,
// and a picture the picker gives up before the worker begins it is taken back
// at once (cancel), so the ring holds only frames that must be pictured.
//
// No data race: a slot belongs either to the reading thread or to the
// worker, as its state says, and the state changes only under the mutex, so
// that whatever one thread wrote in a slot before handing it over is seen by
// the other once it holds it. The encoder and the libraries are the worker's
// alone; the reason they failed is written before any result is handed back
// and read only after drain() (tests/tools/thread-check runs the pictures
// under ThreadSanitizer). Stop signals are blocked on the worker: they reach
// the reading thread, which waits at most for the picture being made.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>

#include "dv/dif.h"
#include "ffmpeg/still_encoder.h"
#include "frames/tape_frame.h"

namespace dvlog {

// The largest frame, four channels of twelve sequences: the buffer of a job.
constexpr int MAX_PLACES = MAX_CHANNELS * MAX_SEQUENCE_NUMBERS;
constexpr size_t MAX_FRAME_BYTES = size_t{MAX_PLACES} * SEQUENCE_SIZE;

// A picture asked of the worker, in its slot of the ring.
struct picture_job {
  uint8_t* bytes;       // MAX_FRAME_BYTES: the frame, then its JPEG
  size_t frame_size;    // of the frame, whole sequences
  bool wide;            // a 16:9 thumbnail
  uint64_t serial;      // of the request, from submit()
  // The result, once done: the JPEG at `bytes`, or why there is none.
  bool done;
  size_t jpeg_size;
  int width, height;
  const char* failure;
};

class picture_worker {
 public:
  static constexpr int SLOTS = 8;

  // Makes the ring and starts the worker, which loads the libraries.
  picture_worker();
  // Ends the worker; jobs it has not begun are dropped.
  ~picture_worker();
  picture_worker(const picture_worker&) = delete;
  picture_worker& operator=(const picture_worker&) = delete;

  // A slot for the next frame, the reading thread's until submit(): one
  // without a job, or one whose result (done) must be taken first. Waits
  // while the worker holds every slot.
  picture_job& acquire();
  // Gives the slot's frame to the worker; returns the serial the result
  // will carry.
  uint64_t submit(picture_job& job);
  // The picture of `serial` is no longer wanted: its job is taken back if
  // the worker has not begun it, and its result dropped if it is done.
  void cancel(uint64_t serial);
  // Waits until the libraries are loaded (or failed) and every job given is
  // done; every slot is then the reading thread's.
  void drain();
  picture_job& slot(int i) { return jobs_[i]; }

  // After drain(): why no picture can be made at all (the libraries cannot
  // be loaded or used, or the worker could not be started), or nullptr.
  const char* failure() const { return failure_; }

 private:
  enum class owner : uint8_t { reader, queued, worker };

  static void* start(void* self);
  void work();
  int next_queued() const;
  void do_job(picture_job& job);

  std::unique_ptr<uint8_t[]> buffers_;
  picture_job jobs_[SLOTS] = {};
  owner owner_[SLOTS] = {};
  uint64_t order_[SLOTS] = {};  // the serial of a queued job: the oldest goes first
  uint64_t serial_ = 0;
  std::mutex mutex_;
  std::condition_variable work_given_, slot_back_;
  bool quit_ = false;
  bool ready_ = false;  // the worker has loaded the libraries, or failed to
  bool started_ = false;
  pthread_t thread_{};
  std::unique_ptr<still_encoder> encoder_;  // made and used by the worker only
  const char* failure_ = nullptr;
  char start_failure_[128] = {};
};

}  // namespace dvlog
