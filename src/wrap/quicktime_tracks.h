// A QuickTime file's tracks, as its atoms describe them after the muxer
// wrote it.
#pragma once

namespace dvlog {

// Clears the "enabled" flag of every text track (handler 'sbtl' or 'text')
// in the file open on `fd`, so that players show its subtitles only when
// asked: FFmpeg's QuickTime muxer enables the first track of each kind,
// whatever its disposition says. 0, or the errno of a failed read or write
// (EINVAL: the atoms do not add up).
int disable_text_tracks(int fd);

}  // namespace dvlog
