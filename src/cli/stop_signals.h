// SIGINT, SIGTERM and SIGHUP as a request to stop: the first one is noted and
// the run stops at its next safe point; a second one ends the program at once
// by the signal's default action.
#pragma once

namespace tollbook::cli {

// Installs the handlers (with SA_RESTART: a blocking read goes on until its
// own timeout, and the run looks at the request between messages).
void InstallStopSignals();

// The number of the first stop signal received, or 0.
int StopSignal();

}  // namespace tollbook::cli
