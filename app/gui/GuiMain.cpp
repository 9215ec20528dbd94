// Placeholder for the Qt windows.
#include "app/gui/GuiMain.h"

#include <iostream>

namespace parcelix {

int RunGui(int, char**) {
  std::cerr << "parcelix: the window is not available yet; use the command line.\n";
  PrintUsage(std::cerr);
  return 2;
}

bool ShowGuiMessage(const UserMessage&) { return false; }

}  // namespace parcelix
