#include "main/stop_signals.h"

#include <initializer_list>

namespace dvlog {

volatile sig_atomic_t stop_signal = 0;

namespace {

void on_stop_signal(int sig) {
  // A second signal, while the summary is written, changes nothing.
  if (stop_signal == 0) stop_signal = sig;
}

}  // namespace

void catch_stop_signals(sigset_t& wait_mask, sigset_t& stops) {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait that lets the signal in returns
  sigemptyset(&stops);
  for (const int sig : {SIGINT, SIGTERM}) {
    // A signal ignored by whoever started dvlog (a job in the background of a
    // shell without job control) stays ignored.
    struct sigaction before {};
    if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
    sigaddset(&stops, sig);
  }

  sigprocmask(SIG_BLOCK, &stops, &wait_mask);
  for (const int sig : {SIGINT, SIGTERM})
    if (sigismember(&stops, sig)) sigdelset(&wait_mask, sig);
}

}  // namespace dvlog
