// Desktop notifications for command-line runs without a terminal.
#include "app/shell/Notify.h"

#include <cstdlib>
#include <string_view>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace parcelix {

bool RunningWithoutTerminal() {
  const char* fromMenu = std::getenv(kDesktopMessagesVariable);
  if (fromMenu && std::string_view(fromMenu) == "1") return true;
  return !isatty(STDIN_FILENO) && !isatty(STDERR_FILENO);
}

bool HaveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

bool NotifyDesktop(const UserMessage& message) {
  const char* urgency = message.icon == MsgIcon::Error ? "critical" : "normal";
  const char* argv[] = {"notify-send", "-u", urgency, message.title.c_str(), message.text.c_str(), nullptr};
  pid_t pid = 0;
  // posix_spawnp passes the texts as arguments: nothing is interpreted by a shell.
  if (posix_spawnp(&pid, "notify-send", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    return false;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace parcelix
