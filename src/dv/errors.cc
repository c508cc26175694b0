#include "dv/errors.h"

#include "dv/dif.h"

namespace dvlog {

int audio_error_samples(const uint8_t* data, uint8_t quantisation) {
  int errors = 0;
  if (quantisation == QUANTISATION_16_BITS) {
    for (size_t i = 0; i < AUDIO_DATA_SIZE; i += 2) errors += (data[i] << 8 | data[i + 1]) == AUDIO_ERROR_16;
  } else if (quantisation == QUANTISATION_12_BITS) {
    for (size_t i = 0; i < AUDIO_DATA_SIZE; i += 3) {
      errors += (data[i] << 4 | data[i + 2] >> 4) == AUDIO_ERROR_12;
      errors += (data[i + 1] << 4 | (data[i + 2] & 0x0F)) == AUDIO_ERROR_12;
    }
  }
  return errors;
}

}  // namespace dvlog
