#include "log/text_log.h"

#include <cstring>

#include "log/file_lines.h"
#include "texts/status_text.h"

namespace dvlog {

namespace {

long long ll(int64_t n) { return static_cast<long long>(n); }

}  // namespace

text_log::text_log(output_stream& out, year_source year) : out_(out), year_(year) {}

void text_log::status(const status_event& e) {
  char settings[256];
  head({e.settings.timecode, e.settings.rec_date, e.settings.rec_time, e.settings.timecode_drop_frame});
  out_.printf("%s\n", status_settings_text(e, settings, sizeof settings));
}

void text_log::recording_start(const recording_start_event& e) {
  head({e.timecode, e.rec_date, e.rec_time, e.drop_frame});
  out_.printf("New recording\n");
}

void text_log::timecode_broken(const timecode_broken_event&) {
  out_.printf("Timecode is broken, switch to diff blocks for audio/frame count\n");
}

// "TIMECODE / DATE TIME - ", as every line about a frame opens.
void text_log::head(const frame_stamp& stamp) {
  char timecode[16], datetime[80];
  out_.printf("%s / %s - ", timecode_text(stamp.timecode, timecode, sizeof timecode),
              rec_datetime_text(stamp.rec_date, stamp.rec_time, year_(), datetime, sizeof datetime));
}

void text_log::damage_run(const damage_run_event& e) {
  const damage_counts& d = e.damage;
  char last[16];
  head(e.first);
  out_.printf("Damage: %lld frame%s to %s; video blocks concealed %lld, errors %lld, unknown %lld; "
              "in even/odd sequences %lld/%lld%s; audio error samples %lld in %lld blocks; sequences missing %lld\n",
              ll(e.frames), e.frames == 1 ? "" : "s", timecode_text(e.last_timecode, last, sizeof last),
              ll(d.video_concealed), ll(d.video_errors), ll(d.video_unknown), ll(d.video_even), ll(d.video_odd),
              e.one_head ? ", one head" : "", ll(d.audio_error_samples), ll(d.audio_error_blocks),
              ll(d.sequences_missing));
}

void text_log::timecode_jump(const timecode_jump_event& e) {
  char from[16], to[16];
  head(e.stamp);
  out_.printf("Timecode jump: %s -> %s\n", timecode_text(e.from, from, sizeof from),
              timecode_text(e.stamp.timecode, to, sizeof to));
}

void text_log::recording_time_jump(const recording_time_jump_event& e) {
  char from[80], to[80];
  head(e.stamp);
  out_.printf("Recording time jump: %s -> %s, %s\n", rec_datetime_text(e.from_date, e.from_time, year_(), from, sizeof from),
              rec_datetime_text(e.stamp.rec_date, e.stamp.rec_time, year_(), to, sizeof to),
              e.marked ? "marked as a recording start" : "not marked as a recording start");
}

void text_log::skipped_bytes(const skipped_bytes_event& e) {
  head(e.stamp);
  out_.printf("Skipped %llu bytes at offset %llu%s\n", static_cast<unsigned long long>(e.bytes),
              static_cast<unsigned long long>(e.at.offset), e.at_end ? ", at the end of the input" : "");
}

void text_log::frames_dropped(const frames_dropped_event& e) {
  char from[16], to[16];
  head(e.stamp);
  out_.printf("Frames dropped by the capture: %lld (timecode %s -> %s)\n", ll(e.frames),
              timecode_text(e.from, from, sizeof from), timecode_text(e.stamp.timecode, to, sizeof to));
}

void text_log::frames_repeated(const frame_run_event& e) {
  char last[16];
  head(e.first);
  if (e.frames == 1)
    out_.printf("Frame repeated by the capture\n");
  else
    out_.printf("Frames repeated by the capture: %lld, to %s\n", ll(e.frames),
                timecode_text(e.last_timecode, last, sizeof last));
}

void text_log::off_speed(const frame_run_event& e) {
  char first[16], last[16];
  head(e.first);
  out_.printf("Not at playback speed: %lld frame%s, from %s to %s\n", ll(e.frames), e.frames == 1 ? "" : "s",
              timecode_text(e.first.timecode, first, sizeof first), timecode_text(e.last_timecode, last, sizeof last));
}

void text_log::retake(const retake_event& e) {
  char from[16], to[16];
  head(e.stamp);
  if (e.by_content)
    out_.printf("Retake: the capture went back %lld frame%s (by the frames' content)\n", ll(e.frames),
                e.frames == 1 ? "" : "s");
  else
    out_.printf("Retake: the capture went back %lld frame%s, from %s to %s\n", ll(e.frames), e.frames == 1 ? "" : "s",
                timecode_text(e.from, from, sizeof from), timecode_text(e.stamp.timecode, to, sizeof to));
}

// A frame the capture sent a DIF sequence of twice.
void text_log::frame(const frame_event& e) {
  if (e.sequences_repeated == 0) return;
  head(e.stamp);
  out_.printf("DIF sequences repeated by the capture: %d\n", e.sequences_repeated);
}

void text_log::audio_block_warning(const audio_block_warning_event& e) {
  out_.error("Warning: got %02x instead of audio block\n", e.id0);
}

// Written out after each sequence, so that a log on a pipe stays live.
void text_log::end_of_sequence() { out_.flush(); }

void text_log::summary(const summary_event& e) {
  out_.printf("============\n");
  out_.printf("Total frames: %d\n", e.frames);
  out_.printf("DIF Blocks analysed: %d\n", e.sequences);  // sequences, despite the label
  if (e.has_verdict) {
    if (e.audio.locked)
      out_.printf("Audio is locked\n");
    else
      out_.printf("Audio offset: final=%d (%d ms), max=%d (%d ms)\n", e.audio.final_offset, e.audio.final_offset_ms,
                  e.audio.max_offset, e.audio.max_offset_ms);
  }
  if (!e.has_damage) return;
  const damage_totals& t = e.damage;
  const damage_counts& d = t.sum;
  // The frames the stream holds, where the log counted otherwise (a
  // timecode that stood still, or none).
  if (t.frames != e.frames) out_.printf("Frames in the stream: %lld (the log counted %d)\n", ll(t.frames), e.frames);
  out_.printf("Damaged frames: %lld of %lld (%.1f%%)\n", ll(t.damaged_frames), ll(t.frames),
              t.frames > 0 ? 100.0 * static_cast<double>(t.damaged_frames) / static_cast<double>(t.frames) : 0.0);
  out_.printf("Video blocks concealed: %lld, errors: %lld, unknown: %lld (in even sequences: %lld, odd: %lld)\n",
              ll(d.video_concealed), ll(d.video_errors), ll(d.video_unknown), ll(d.video_even), ll(d.video_odd));
  out_.printf("Audio error samples: %lld in %lld blocks\n", ll(d.audio_error_samples), ll(d.audio_error_blocks));
  out_.printf("DIF sequences missing: %lld\n", ll(d.sequences_missing));
  out_.printf("Timecode jumps: %lld\n", ll(t.timecode_jumps));
  out_.printf("Recording time jumps: %lld (%lld not marked as a recording start)\n", ll(t.recording_time_jumps),
              ll(t.unmarked_recording_time_jumps));
  out_.printf("Bytes skipped: %llu\n", static_cast<unsigned long long>(t.bytes_skipped));
  if (t.container != container_kind::none)
    out_.printf("Container: %s, %llu bytes between frames\n", container_name(t.container),
                static_cast<unsigned long long>(t.container_bytes));
  out_.printf("Frames dropped by the capture: %lld, repeated: %lld, not at playback speed: %lld\n",
              ll(t.frames_dropped), ll(t.frames_repeated), ll(t.frames_off_speed));
  out_.printf("Retakes: %lld; DIF sequences repeated by the capture: %lld\n", ll(t.retakes), ll(t.sequences_repeated));
}

// What the merge took from each transfer, and what the merged stream still
// lacks.
void text_log::merge(const merge_event& e) {
  out_.printf("============\nMerge: %d transfer%s into ", e.transfer_count, e.transfer_count == 1 ? "" : "s");
  write_name(out_, e.output);
  out_.printf("\n");
  for (int32_t i = 0; i < e.transfer_count; ++i) {
    const merge_transfer& t = e.transfers[i];
    out_.printf("Transfer %d, ", i + 1);
    write_name(out_, t.name);
    out_.printf(": %lld frames (%d pass%s, %lld not at playback speed, %lld repeated); taken: %lld frames, %lld "
                "blocks; damaged blocks: %lld\n",
                ll(t.frames), t.passes, t.passes == 1 ? "" : "es", ll(t.off_speed), ll(t.repeated), ll(t.frames_taken),
                ll(t.blocks_taken), ll(t.damaged_blocks));
    for (int32_t k = 0; k < e.pass_count && t.passes > 1; ++k) {
      const merge_pass& pass = e.passes[k];
      if (pass.transfer == i)
        out_.printf("  Pass %d: %lld merged frames, %lld to %lld; taken: %lld frames, %lld blocks\n", pass.number,
                    ll(pass.frames), ll(pass.first_frame + 1), ll(pass.last_frame + 1), ll(pass.frames_taken),
                    ll(pass.blocks_taken));
    }
  }
  if (e.transfer_count == 1 && e.transfers[0].passes == 1)
    out_.printf("No retake: the merged stream is the transfer's frames at playback speed, each once\n");
  out_.printf("Merged frames: %lld (%lld assembled from %s)\n", ll(e.frames), ll(e.assembled_frames),
              e.transfer_count == 1 ? "several passes" : "more than one transfer");
  out_.printf("Blocks recovered: %lld\n", ll(e.blocks_recovered));
  out_.printf("Still damaged: %lld frame%s, %lld blocks; sequences missing: %lld\n", ll(e.damaged_frames),
              e.damaged_frames == 1 ? "" : "s", ll(e.damaged_blocks), ll(e.sequences_missing));
}

}  // namespace dvlog
