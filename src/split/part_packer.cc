#include "split/part_packer.h"

#include "output/output_stream.h"

namespace dvlog {

bool dv_frame_packer::begin(int fd, const part_opening& part, const uint8_t* data, size_t size) {
  fd_ = fd;
  return frame(part.first, data, size);
}

bool dv_frame_packer::frame(const frame_event&, const uint8_t* data, size_t size) {
  error_ = write_all(fd_, reinterpret_cast<const char*>(data), size);
  return error_ == 0;
}

}  // namespace dvlog
