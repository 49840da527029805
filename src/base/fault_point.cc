#include "base/fault_point.h"

#ifdef TOLLBOOK_FAULT_POINTS_ARMED
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#endif

namespace tollbook {

#ifdef TOLLBOOK_FAULT_POINTS_ARMED

namespace {

struct Target {
  std::string point;  // empty: no point is armed
  long count = 1;
  int signal = SIGKILL;
};

// TOLLBOOK_KILL_AT as POINT[:COUNT[:SIGNAL]]. A value that cannot be read ends
// the program: a test that meant to stop somewhere must not pass by running on.
Target ReadTarget() {
  Target target;
  const char* value = std::getenv("TOLLBOOK_KILL_AT");
  if (value == nullptr || *value == '\0') return target;
  const std::string text(value);
  const auto first = text.find(':');
  target.point = text.substr(0, first);
  if (first == std::string::npos) return target;
  const auto second = text.find(':', first + 1);
  const std::string count = text.substr(first + 1, second - first - 1);
  char* end = nullptr;
  target.count = std::strtol(count.c_str(), &end, 10);
  bool valid = !count.empty() && *end == '\0' && target.count > 0;
  if (second != std::string::npos) {
    const std::string name = text.substr(second + 1);
    static const std::map<std::string, int, std::less<>> kSignals = {
        {"KILL", SIGKILL}, {"INT", SIGINT}, {"TERM", SIGTERM}, {"HUP", SIGHUP}};
    const auto found = kSignals.find(name);
    valid = valid && found != kSignals.end();
    if (found != kSignals.end()) target.signal = found->second;
  }
  if (!valid) {
    std::fprintf(stderr, "TOLLBOOK_KILL_AT: not POINT[:COUNT[:KILL|INT|TERM|HUP]]: %s\n", value);
    std::_Exit(125);
  }
  return target;
}

}  // namespace

void FaultPoint(std::string_view point) {
  static const Target target = ReadTarget();
  if (target.point.empty() || point != target.point) return;
  // Points are passed on more than one thread (the Maildir deleter's own).
  static std::mutex mutex;
  static long seen = 0;
  {
    std::lock_guard lock(mutex);
    if (++seen != target.count) return;
  }
  if (target.signal == SIGKILL) {
    ::kill(::getpid(), SIGKILL);
  } else {
    ::raise(target.signal);
  }
}

#else

void FaultPoint(std::string_view) {}

#endif

}  // namespace tollbook
