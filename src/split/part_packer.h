// How a part of a split holds its frames when it holds them alone, without
// the bytes of the input between them: a container capture's parts (whose
// input holds the container's own bytes among the frames), and wrapped
// parts. The splitter decides where parts begin and end, and names them; a
// packer writes what goes into each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "events/events.h"

namespace dvlog {

// A part about to begin.
struct part_opening {
  int number;             // from 1, in tape order
  const char* base_name;  // the input's name without directory and extension
  const frame_event& first;
};

class part_packer {
 public:
  virtual ~part_packer() = default;
  // The parts' file name extension: "dv", "mkv", "mov".
  virtual const char* extension() const = 0;
  // Every part holds its frames alone, even those of a raw DV input.
  virtual bool wraps() const = 0;

  // Begins a part in `fd` (new, empty, open for reading and writing) with its
  // first frame's bytes: its DIF sequences in the order read, each once.
  virtual bool begin(int fd, const part_opening& part, const uint8_t* data, size_t size) = 0;
  virtual bool frame(const frame_event& f, const uint8_t* data, size_t size) = 0;
  // The part has all its frames.
  virtual bool end() = 0;
  // The part is given up unfinished.
  virtual void abandon() {}

  // Why the last call that returned false failed: the errno of a write that
  // failed, or 0 and a text.
  virtual int write_error() const = 0;
  virtual const char* failure() const = 0;
};

// Parts of raw DV: the frames one after another, as a DV file holds them.
class dv_frame_packer final : public part_packer {
 public:
  const char* extension() const override { return "dv"; }
  bool wraps() const override { return false; }
  bool begin(int fd, const part_opening&, const uint8_t* data, size_t size) override;
  bool frame(const frame_event&, const uint8_t* data, size_t size) override;
  bool end() override { return true; }
  int write_error() const override { return error_; }
  const char* failure() const override { return "the part could not be written"; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace dvlog
