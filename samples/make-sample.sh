#!/usr/bin/env bash
# Makes samples/sample.dv: half a second of NTSC DV (15 frames, 1.8 MB) that
# looks like three short recordings on one tape, with the marks of a worn
# tape that `dvlog --damage` and `--report` show (the plain log shows none):
# a dropout, a clogged head and unreadable audio. Each recording is made by
# ffmpeg from its test picture and a tone (720x480 at 29.97, 4:1:1, 48 kHz
# stereo 16-bit PCM); the timecode runs on from one to the next, the recording
# date and time jump, and the middle one is 16:9. ffmpeg never sets the
# recording-start flag, so this script clears it, as a camcorder would, in the
# first frame of each recording. ffmpeg also writes weekday code 0 (Sunday)
# into the recording date whatever the date is, so the dates are Sundays.
#
# The result is byte-for-byte the same on every run with the same ffmpeg
# (samples/sample.dv was made with ffmpeg 5.1 of Debian 12).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")"

SEQUENCE=12000           # bytes in a DIF sequence
FRAME=$((10 * SEQUENCE)) # an NTSC frame is 10 sequences
FRAMES_PER_CLIP=5        # the NTSC audio pattern (1600/1602 samples) repeats every 5 frames

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# clip NAME TIMECODE CREATION_TIME [extra ffmpeg options]: FRAMES_PER_CLIP
# frames. ffmpeg is asked for a little more (its muxer drops the last frames
# that lack audio) and the clip is cut to whole frames.
clip() {
  local name=$1 timecode=$2 created=$3
  shift 3
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i testsrc2=size=720x480:rate=30000/1001 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 \
    -t 0.5 -ac 2 -pix_fmt yuv411p -c:v dvvideo -c:a pcm_s16le "$@" \
    -timecode "$timecode" -metadata creation_time="$created" \
    -f dv "$work/$name.full"
  head -c $((FRAMES_PER_CLIP * FRAME)) "$work/$name.full" >"$work/$name.dv"
  [ "$(stat -c %s "$work/$name.dv")" -eq $((FRAMES_PER_CLIP * FRAME)) ]
}

byte_at() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
set_byte() { printf '%b' "\\$(printf %03o "$3")" | dd of="$1" bs=1 seek="$2" count=1 conv=notrunc status=none; }

# Marks the first frame of a clip as the start of a recording: in every
# sequence of the frame, the audio source control pack (ID 0x51), found in one
# of the nine audio blocks (DIF block 6 + 16 j), gets bit 7 of its second
# payload byte cleared (0 = recording starts here).
mark_recording_start() {
  local file=$1 s j block pc2
  for ((s = 0; s < FRAME / SEQUENCE; s++)); do
    for ((j = 0; j < 9; j++)); do
      block=$((s * SEQUENCE + 480 + 1280 * j))
      if [ "$(byte_at "$file" $((block + 3)))" -eq $((0x51)) ]; then
        pc2=$(byte_at "$file" $((block + 5)))
        set_byte "$file" $((block + 5)) $((pc2 & 0x7f))
      fi
    done
  done
}

# Sets the error status (STA, high nibble of byte 3) of video blocks: in
# frame FRAME of FILE, sequences FIRST to LAST by STEP, blocks 0 to COUNT - 1 of
# each (a sequence has 135, in nine rows of 15 after each audio block).
set_video_status() {
  local file=$1 frame=$2 first=$3 last=$4 step=$5 count=$6 sta=$7 s k block q
  for ((s = first; s <= last; s += step)); do
    for ((k = 0; k < count; k++)); do
      block=$((frame * FRAME + s * SEQUENCE + 480 + 1280 * (k / 15) + 80 * (1 + k % 15)))
      q=$(byte_at "$file" $((block + 3)))
      set_byte "$file" $((block + 3)) $((sta << 4 | (q & 0x0f)))
    done
  done
}

# Writes the 16-bit audio error code 0x8000 over the first COUNT samples of
# audio block J in sequence S of frame FRAME.
set_audio_errors() {
  local file=$1 frame=$2 s=$3 j=$4 count=$5 i at
  for ((i = 0; i < count; i++)); do
    at=$((frame * FRAME + s * SEQUENCE + 480 + 1280 * j + 8 + 2 * i))
    set_byte "$file" "$at" $((0x80))
    set_byte "$file" $((at + 1)) 0
  done
}

clip first "00:00:00;00" 2024-06-16T09:30:00Z
clip second "00:00:00;05" 2024-06-16T11:02:40Z -aspect 16:9
clip third "00:00:00;10" 2024-06-23T16:45:12Z
for name in first second third; do mark_recording_start "$work/$name.dv"; done

# A dropout in the first recording: 30 blocks in error in each of sequences 3
# to 6 of its fourth frame. A clogged head in the second: every video block of
# the even sequences concealed for three frames. Unreadable audio in the third.
set_video_status "$work/first.dv" 3 3 6 1 30 7
for frame in 1 2 3; do set_video_status "$work/second.dv" "$frame" 0 8 2 135 10; done
set_audio_errors "$work/third.dv" 2 1 4 36
set_audio_errors "$work/third.dv" 2 5 7 12

cat "$work/first.dv" "$work/second.dv" "$work/third.dv" >"$work/sample.dv"
mv "$work/sample.dv" sample.dv
echo "samples/sample.dv: $(stat -c %s sample.dv) bytes"
