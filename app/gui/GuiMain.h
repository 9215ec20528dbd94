// Entry points of the Qt desktop program.
#pragma once

#include "app/shell/Cli.h"

namespace parcelix {

// Opens the main window and runs until it closes; returns the exit status.
// With no display it says so on stderr and returns 2.
int RunGui(int argc, char** argv);

// Shows a command-line message in a message box (creating the application
// object when there is none). False when no display could be opened.
bool ShowGuiMessage(const UserMessage& message);

}  // namespace parcelix
