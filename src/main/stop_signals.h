// SIGINT and SIGTERM end a run early, with its summary.
#pragma once

#include <csignal>

namespace dvlog {

// The signal that asked the run to stop, 0 if none. The one piece of state
// outside the run's objects: a signal handler can reach nothing else.
extern volatile sig_atomic_t stop_signal;

// Installs the handlers, unless the signals are ignored already, and blocks
// the signals from here on: they are let in only while the run waits (for
// input, for a reader of its output) with `wait_mask`, and between reads, so
// that one arriving just before a wait cannot be missed. `stops` gets the
// signals caught.
void catch_stop_signals(sigset_t& wait_mask, sigset_t& stops);

}  // namespace dvlog
