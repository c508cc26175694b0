#include "analysis/analysis.h"
#include "analysis/recording_start.h"
#include "input/recognizer.h"
#include "report/output.h"
#include "report/time_texts.h"

namespace dvlog {

// The audio source control pack may sit in any audio block; its REC ST flag
// (top bit of PC2) is 0 in the frames that begin a recording. Finding the pack
// at all, with the flag set or not, settles the question for the frame.
void check_recording_start(const uint8_t* s) {
  for (int j = 0; j < AUDIO_BLOCKS; ++j) {
    const uint8_t* block = s + audio_block(j);
    if (!is_audio_block_id(block[ID0])) {
      err_printf("Warning: got %02x instead of audio block\n", block[ID0]);
      continue;
    }
    const uint8_t* pack = block + AUDIO_PACK;
    if (pack[0] != PACK_AUDIO_SOURCE_CONTROL) continue;
    if (!(pack[PC2] & 0x80))
      out_printf("%s / %s - New recording\n", timecode_text(current.timecode),
                 rec_datetime_text(current.rec_date, current.rec_time));
    frame_start_done = true;
    return;
  }
}

}  // namespace dvlog
