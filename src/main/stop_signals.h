// SIGINT and SIGTERM end a run early, with its summary.
#pragma once

#include <csignal>

namespace dvlog {

// The signal that asked the run to stop, 0 if none. The one piece of state
// outside the run's objects: a signal handler can reach nothing else.
extern volatile sig_atomic_t stop_signal;

// Installs the handlers, unless the signals are ignored already. For an input
// that is no regular file, the signals are blocked from here on, except while
// waiting for input with `wait_mask`.
// `stops` gets the signals caught.
void catch_stop_signals(bool block, sigset_t& wait_mask, sigset_t& stops);

}  // namespace dvlog
