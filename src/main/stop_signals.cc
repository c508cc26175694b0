#include "main/stop_signals.h"

namespace dvlog {

volatile sig_atomic_t stop_signal = 0;

namespace {

void on_stop_signal(int sig) {
  // A second signal, while the summary is written, changes nothing.
  if (stop_signal == 0) stop_signal = sig;
}

}  // namespace

void catch_stop_signals(bool block, sigset_t& wait_mask) {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &stops, &wait_mask);
  sigdelset(&wait_mask, SIGINT);
  sigdelset(&wait_mask, SIGTERM);
}

}  // namespace dvlog
