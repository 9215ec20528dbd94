// Desktop notifications for command-line runs without a terminal.
#pragma once

#include "app/shell/Cli.h"

namespace parcelix {

// The variable a context-menu entry sets for the program it starts: its
// messages then also go to the desktop, even when the file manager itself
// was started from a terminal (whose stderr nobody is watching).
inline constexpr const char* kDesktopMessagesVariable = "PARCELIX_DESKTOP_MESSAGES";

// True when the process runs without a terminal on stdin and stderr, or when
// $PARCELIX_DESKTOP_MESSAGES is "1" (started from a context-menu entry).
bool RunningWithoutTerminal();
// True when a display ($DISPLAY or $WAYLAND_DISPLAY) is set.
bool HaveDisplay();
// Sends the message through notify-send when it is installed; false otherwise.
bool NotifyDesktop(const UserMessage& message);

}  // namespace parcelix
