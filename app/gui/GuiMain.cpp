// Entry points of the Qt desktop program: the window run and message boxes for desktop command-line runs.
#include "app/gui/GuiMain.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include <QApplication>
#include <sys/stat.h>

#include "app/gui/GuiServices.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/Logo.h"
#include "app/gui/mainUnit.h"

namespace parcelix {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsSocket(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Whether a window can be opened at all. Qt aborts the process when it cannot
// reach its display, so the obvious cases are checked first: no display
// named, or a local display whose socket is not there.
// Platforms that draw into memory: a window can be made, but nobody sees it.
bool HeadlessPlatform() {
  const std::string platform = Env("QT_QPA_PLATFORM");
  return platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0;
}

bool DisplayAvailable() {
  if (HeadlessPlatform()) return true;
  const std::string wayland = Env("WAYLAND_DISPLAY");
  if (!wayland.empty()) {
    const std::string socket = wayland[0] == '/' ? wayland : Env("XDG_RUNTIME_DIR") + "/" + wayland;
    if (IsSocket(socket)) return true;
  }
  std::string x = Env("DISPLAY");
  if (x.empty()) return false;
  if (x.rfind("unix:", 0) == 0) x = x.substr(4);
  if (x[0] != ':') return true;  // a remote or unusual display: let Qt try it
  const std::string number = x.substr(1, x.find('.') == std::string::npos ? std::string::npos : x.find('.') - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;
  if (IsSocket("/tmp/.X11-unix/X" + number)) return true;
  // Abstract sockets leave nothing in the file system; a running server also
  // leaves its lock file.
  struct stat st {};
  return stat(("/tmp/.X" + number + "-lock").c_str(), &st) == 0;
}

// The top-level error handler: an error that escapes a handler is shown and
// the program goes on.
class TParcelixApplication : public QApplication {
 public:
  TParcelixApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowMessageBox(activeWindow(), UserMessage{"Parcelix", e.what(), MsgIcon::Error});
    } catch (...) {
      ShowMessageBox(activeWindow(), UserMessage{"Parcelix", "Unexpected error", MsgIcon::Error});
    }
    return false;
  }
};

void SetUpApplication(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("Parcelix"));
  QApplication::setApplicationVersion(QStringLiteral("1.1"));
  QGuiApplication::setDesktopFileName(QStringLiteral("parcelix"));
  app.setWindowIcon(ProgramIcon());
}

}  // namespace

int RunGui(int argc, char** argv) {
  if (!DisplayAvailable()) {
    std::cerr << "parcelix: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not usable);"
                 " use the command line:\n";
    PrintUsage(std::cerr);
    return 2;
  }
  // "--open FILE..." (the launcher's "Open With"): the files join the list.
  QStringList files;
  for (int i = 1; i < argc; ++i) {
    if (i == 1 && std::string_view(argv[i]) == "--open") continue;
    files << QString::fromLocal8Bit(argv[i]);
  }
  TParcelixApplication app(argc, argv);
  SetUpApplication(app);
  TChmHelpViewer help;
  TfrmMain main(help);
  main.FormCreate();
  main.show();
  main.OpenFiles(files);
  return app.exec();
}

bool ShowGuiMessage(const UserMessage& message) {
  if (!DisplayAvailable()) return false;
  // A command-line run on a headless platform would wait forever for a click
  // on a box nobody can see: the caller falls back to a notification.
  if (HeadlessPlatform() && !QCoreApplication::instance()) return false;
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    ShowMessageBox(nullptr, message);
    return true;
  }
  if (QCoreApplication::instance()) return false;  // a non-widget application cannot show a box
  int argc = 1;
  char name[] = "parcelix";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  SetUpApplication(app);
  ShowMessageBox(nullptr, message);
  return true;
}

}  // namespace parcelix
