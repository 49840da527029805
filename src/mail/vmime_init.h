// vmime needs its platform handler set once before any other call.
#pragma once

namespace tollbook::mail {

// Sets vmime's POSIX platform handler the first time it is called; later
// calls do nothing. Safe from any thread.
void EnsureVmimeInitialised();

}  // namespace tollbook::mail
