// Deterministic kill points for the crash-safety tests. FaultPoint("save")
// kills the process with SIGKILL when the environment variable
// TOLLBOOK_KILL_AT names that point and its count ("save:3" kills at the third
// "save"). A third field names another signal to raise there instead
// ("save:3:INT", ":TERM", ":HUP", ":KILL"): the signal is raised on the thread
// that passes the point, so its handler has run when FaultPoint returns. Only
// programs linked with the armed fault points (tollbook_fault_points_armed, as
// the test-only tollbook-cli-faults is) do so; everything else links the off
// variant, where it does nothing.
#pragma once

#include <string_view>

namespace tollbook {

void FaultPoint(std::string_view point);

}  // namespace tollbook
