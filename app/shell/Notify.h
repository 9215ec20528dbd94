// Desktop notifications for command-line runs without a terminal.
#pragma once

#include "app/shell/Cli.h"

namespace parcelix {

// True when the process runs without a terminal on stdin and stderr.
bool RunningWithoutTerminal();
// True when a display ($DISPLAY or $WAYLAND_DISPLAY) is set.
bool HaveDisplay();
// Sends the message through notify-send when it is installed; false otherwise.
bool NotifyDesktop(const UserMessage& message);

}  // namespace parcelix
