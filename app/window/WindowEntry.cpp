// Entry points of the window module that the program loads on demand.
#include "app/gui/GuiMain.h"
#include "app/shell/WindowModule.h"

using namespace parcelix;

extern "C" {

__attribute__((visibility("default"))) extern const int parcelix_window_abi;
const int parcelix_window_abi = kWindowAbi;

__attribute__((visibility("default"))) int parcelix_window_run(int argc, char** argv) {
  return RunGui(argc, argv);
}

__attribute__((visibility("default"))) int parcelix_window_message(const char* title, const char* text, int icon) {
  UserMessage m;
  m.title = title ? title : "";
  m.text = text ? text : "";
  m.icon = icon == static_cast<int>(MsgIcon::Error)     ? MsgIcon::Error
           : icon == static_cast<int>(MsgIcon::Warning) ? MsgIcon::Warning
                                                        : MsgIcon::Information;
  return ShowGuiMessage(m) ? 1 : 0;
}

}  // extern "C"
