// Program start: the command line when there are arguments, else the window.
#include <iostream>
#include <optional>
#include <string_view>
#include <unistd.h>

#include "app/shell/Cli.h"
#include "app/shell/ContextMenu.h"
#include "app/shell/Notify.h"
#include "app/shell/WindowModule.h"

using namespace parcelix;

int main(int argc, char** argv) {
  if (argc <= 1 || std::string_view(argv[1]) == "--open") {
#ifdef PARCELIX_HAVE_GUI
    TWindowModule window(ProgramPath());
    if (window.Loaded()) return window.RunWindow(argc, argv);
    std::cerr << "parcelix: the window cannot be opened: " << window.Error() << "; use the command line.\n";
#else
    std::cerr << "parcelix: this build has no window; use the command line.\n";
#endif
    PrintUsage(std::cerr);
    return 2;
  }
  CliContext ctx;
  ctx.args.assign(argv + 1, argv + argc);
  ctx.out = &std::cout;
  ctx.err = &std::cerr;
  ctx.stderrIsTerminal = isatty(STDERR_FILENO);
  const bool desktop = RunningWithoutTerminal() && HaveDisplay();
  // Loaded on the first message box only: most runs never show one.
  std::optional<TWindowModule> window;
  ctx.ShowMessage = [desktop, &window](const UserMessage& m) {
    std::cerr << m.title << ' ' << m.text << '\n';
    if (!desktop) return;
#ifdef PARCELIX_HAVE_GUI
    if (!window) window.emplace(ProgramPath());
    if (window->ShowMessage(m)) return;
#else
    (void)window;
#endif
    NotifyDesktop(m);
  };
  return RunCommandLine(ctx);
}
