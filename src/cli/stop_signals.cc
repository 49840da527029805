#include "cli/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace tollbook::cli {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void SetAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kStopSignals) ::sigaction(signal, &action, nullptr);
}

extern "C" void OnStopSignal(int signal) {
  stopSignal.store(signal);
  SetAction(SIG_DFL);  // the next one ends the program
}

}  // namespace

void InstallStopSignals() { SetAction(OnStopSignal); }

int StopSignal() { return stopSignal.load(); }

}  // namespace tollbook::cli
