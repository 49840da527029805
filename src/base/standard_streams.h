// What a command-line program writes to its standard output must arrive, or
// the program says so: the GNU convention of coreutils' close_stdout. Both
// calls belong in main, around everything else.
#pragma once

#include <string_view>

namespace tollbook {

// Call first in main. Opens /dev/null, read-only, on whichever of descriptors
// 0, 1 and 2 is closed, so that no file the program opens later takes its
// place (and a write to a closed standard output still fails, with EBADF).
// Then routes stdout and std::cout through one stream that keeps the cause of
// its first failed write. fileno(stdout) is -1 from then on: ask
// ::isatty(STDOUT_FILENO) instead.
void GuardStandardStreams();

// Call on the way out of main with the status the program would exit with;
// returns the status to exit with. Flushes standard output and standard error.
// When standard output could not be written, prints one line
// "PROGRAM: write error: CAUSE" on standard error and turns a status of 0 into
// 1 (a status that already tells of a failure is kept). When the cause is a
// reader that went away (EPIPE) and the status is 0, the program instead ends
// quietly by SIGPIPE's default action, as any program in a pipeline does
// whose reader stopped early. A failed standard error turns 0 into 1 quietly.
int FinishStandardStreams(std::string_view program, int status);

}  // namespace tollbook
