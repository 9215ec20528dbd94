// The main window opened on a settings file and a folder of its own, for the
// tests of its tabs.
#pragma once

#include <memory>

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "app/gui/HelpViewer.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"

namespace parcelix::test {

class WindowFixture : public ::testing::Test {
 protected:
  // Makes and shows the window; closing it does not wait for a fade.
  void OpenWindow() {
    window = std::make_unique<TfrmMain>(help, rec.Services());
    window->Fader().DurationMs = 0;
    window->FormCreate();
    window->show();
  }

  QString P(const QString& name) const { return dir.filePath(name); }

  IsolatedEnv env;
  Recorder rec;
  QTemporaryDir dir;
  TChmHelpViewer help{QStringList{QStringLiteral(PARCELIX_SOURCE_HELP_DIR)}};
  std::unique_ptr<TfrmMain> window;
};

}  // namespace parcelix::test
