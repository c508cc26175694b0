// The status line: printed whenever a camera, picture or audio setting changes.
#pragma once

namespace dvlog {

// Prints a status line when `current` differs from `previous` in a setting,
// then makes `current` the new `previous`. Silent during the warm-up at the
// start of a stream, while the first packs are still being met.
void report_if_changed();

}  // namespace dvlog
