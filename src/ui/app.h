// The program's life: the window is created, starts up and, when start-up
// succeeds, is shown and served until it closes.
#pragma once

#include "ui/gwfrm.h"

namespace tollbook::ui {

// Exit status after the start-up error route.
inline constexpr int kStartUpFailed = 1;

// Runs the program in the QApplication that exists: creates GWfrm with the
// process's current directory, runs Form_Load and, when it succeeds, shows
// the window and runs the event loop. Returns the exit status: the event
// loop's, or kStartUpFailed when start-up took its error route (the window
// is then never shown).
int RunTollbook(AccountOpener openAccount, MessageBoxes& boxes);

}  // namespace tollbook::ui
