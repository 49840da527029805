// Deterministic kill points for the crash-safety tests. In builds configured
// with TOLLBOOK_FAULT_INJECTION, FaultPoint("save") kills the process with
// SIGKILL when the environment variable TOLLBOOK_KILL_AT names that point and
// its count ("save:3" kills at the third "save"); elsewhere it does nothing.
#pragma once

#include <string_view>

namespace tollbook {

#ifdef TOLLBOOK_FAULT_INJECTION
void FaultPoint(std::string_view point);
#else
inline void FaultPoint(std::string_view) {}
#endif

}  // namespace tollbook
