#include "base/fault_point.h"

#ifdef TOLLBOOK_FAULT_POINTS_ARMED
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#endif

namespace tollbook {

#ifdef TOLLBOOK_FAULT_POINTS_ARMED

void FaultPoint(std::string_view point) {
  static const std::string target = [] {
    const char* value = std::getenv("TOLLBOOK_KILL_AT");
    return std::string(value != nullptr ? value : "");
  }();
  if (target.empty()) return;
  // Points are passed on more than one thread (the Maildir deleter's own).
  static std::mutex mutex;
  static std::map<std::string, long, std::less<>> seen;
  long count;
  {
    std::lock_guard lock(mutex);
    count = ++seen[std::string(point)];
  }
  const auto colon = target.rfind(':');
  const std::string_view name = std::string_view(target).substr(0, colon);
  const long wanted = colon == std::string::npos ? 1 : std::atol(target.c_str() + colon + 1);
  if (name == point && count == wanted) ::kill(::getpid(), SIGKILL);
}

#else

void FaultPoint(std::string_view) {}

#endif

}  // namespace tollbook
