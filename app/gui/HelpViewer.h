// The help system: topics map to the HTML pages shipped with the program, shown in our own help window.
#pragma once

#include <QGridLayout>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTextBrowser>
#include <QWidget>

namespace parcelix {

// A browser that answers a link to a missing page with "page not found"
// instead of an empty page.
class THelpBrowser : public QTextBrowser {
 public:
  explicit THelpBrowser(QWidget* parent = nullptr) : QTextBrowser(parent) {}

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
};

class THelpWindow : public QWidget {
 public:
  THelpWindow();

  // Shows the page (a file path); a missing page shows "page not found".
  void ShowPage(const QString& path, const QString& contentsPath);
  THelpBrowser& Browser() { return browser_; }
  bool PageMissing() const;

 private:
  QString contents_;
  QGridLayout layout_;  // the only layout: nested layouts would be owned twice
  QPushButton contentsButton_{QStringLiteral("Contents")};
  QPushButton backButton_{QStringLiteral("Back")};
  QPushButton forwardButton_{QStringLiteral("Forward")};
  THelpBrowser browser_;
};

// The program's help viewer: one per run, made at start.
class TChmHelpViewer {
 public:
  // Looks for the pages next to the program (help/ beside it, then
  // ../share/parcelix/help), then in the install directory, then in the
  // source tree; the first directory that holds the contents page wins.
  TChmHelpViewer();
  explicit TChmHelpViewer(QStringList searchDirs);
  ~TChmHelpViewer();

  static constexpr const char* kContentsPage = "index.htm";
  // "rename" gives "rename.htm"; a topic ending in .htm or .html stays as it is.
  static QString PageForTopic(const QString& topic);
  static QStringList DefaultSearchDirs();

  // The directory the pages are read from; empty when none was found.
  const QString& HelpDir() const { return helpDir_; }
  // The file a topic is read from.
  QString PagePath(const QString& topic) const;

  void ShowTopic(const QString& topic);
  void ShowContents();
  void CloseAll();

  THelpWindow& Window() { return window_; }

 private:
  void Present();
  QString helpDir_;
  THelpWindow window_;
};

}  // namespace parcelix
