// Program start: the command line when there are arguments, else the window.
#include <iostream>
#include <unistd.h>

#include "app/shell/Cli.h"
#include "app/shell/Notify.h"
#ifdef PARCELIX_HAVE_GUI
#include "app/gui/GuiMain.h"
#endif

using namespace parcelix;

int main(int argc, char** argv) {
  if (argc <= 1) {
#ifdef PARCELIX_HAVE_GUI
    return RunGui(argc, argv);
#else
    std::cerr << "parcelix: this build has no window; use the command line.\n";
    PrintUsage(std::cerr);
    return 2;
#endif
  }
  CliContext ctx;
  ctx.args.assign(argv + 1, argv + argc);
  ctx.out = &std::cout;
  ctx.err = &std::cerr;
  ctx.stderrIsTerminal = isatty(STDERR_FILENO);
  const bool desktop = RunningWithoutTerminal() && HaveDisplay();
  ctx.ShowMessage = [desktop, argc, argv](const UserMessage& m) {
    std::cerr << m.title << ' ' << m.text << '\n';
    if (!desktop) return;
#ifdef PARCELIX_HAVE_GUI
    (void)argc;
    (void)argv;
    if (ShowGuiMessage(m)) return;
#else
    (void)argc;
    (void)argv;
#endif
    NotifyDesktop(m);
  };
  return RunCommandLine(ctx);
}
