// The help system: topics map to the HTML pages shipped with the program, shown in our own help window.
#include "app/gui/HelpViewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace parcelix {

namespace {

QString NotFoundHtml(const QString& what) {
  return QStringLiteral("<html><body><h2>page not found</h2><p>%1</p></body></html>").arg(what.toHtmlEscaped());
}

}  // namespace

QVariant THelpBrowser::loadResource(int type, const QUrl& name) {
  if (type == QTextDocument::HtmlResource) {
    const QUrl resolved = name.isRelative() && source().isValid() ? source().resolved(name) : name;
    const QString path = resolved.isLocalFile() ? resolved.toLocalFile() : QString();
    if (!path.isEmpty() && !QFileInfo(path).isFile()) return NotFoundHtml(QFileInfo(path).fileName());
  }
  return QTextBrowser::loadResource(type, name);
}

THelpWindow::THelpWindow() {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Parcelix Help"));
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(640, 520);
  browser_.setObjectName(QStringLiteral("HelpBrowser"));
  browser_.setOpenExternalLinks(true);
  contentsButton_.setObjectName(QStringLiteral("HelpContents"));
  backButton_.setEnabled(false);
  forwardButton_.setEnabled(false);
  layout_.addWidget(&contentsButton_, 0, 0);
  layout_.addWidget(&backButton_, 0, 1);
  layout_.addWidget(&forwardButton_, 0, 2);
  layout_.setColumnStretch(3, 1);
  layout_.addWidget(&browser_, 1, 0, 1, 4);
  layout_.setRowStretch(1, 1);
  setLayout(&layout_);
  QObject::connect(&contentsButton_, &QPushButton::clicked, this, [this] { ShowPage(contents_, contents_); });
  QObject::connect(&backButton_, &QPushButton::clicked, &browser_, &QTextBrowser::backward);
  QObject::connect(&forwardButton_, &QPushButton::clicked, &browser_, &QTextBrowser::forward);
  QObject::connect(&browser_, &QTextBrowser::backwardAvailable, &backButton_, &QPushButton::setEnabled);
  QObject::connect(&browser_, &QTextBrowser::forwardAvailable, &forwardButton_, &QPushButton::setEnabled);
}

void THelpWindow::ShowPage(const QString& path, const QString& contentsPath) {
  contents_ = contentsPath;
  if (path.isEmpty()) {
    browser_.setHtml(NotFoundHtml(QStringLiteral("The help pages are not installed.")));
    return;
  }
  browser_.setSource(QUrl::fromLocalFile(path));
}

bool THelpWindow::PageMissing() const {
  return browser_.toPlainText().startsWith(QLatin1String("page not found"));
}

TChmHelpViewer::TChmHelpViewer() : TChmHelpViewer(DefaultSearchDirs()) {}

TChmHelpViewer::TChmHelpViewer(QStringList searchDirs) {
  for (const QString& dir : searchDirs) {
    if (!dir.isEmpty() && QFileInfo(QDir(dir).filePath(QLatin1String(kContentsPage))).isFile()) {
      helpDir_ = QDir(dir).absolutePath();
      break;
    }
  }
}

TChmHelpViewer::~TChmHelpViewer() { CloseAll(); }

QStringList TChmHelpViewer::DefaultSearchDirs() {
  QStringList dirs;
  if (QCoreApplication::instance()) {
    const QString app = QCoreApplication::applicationDirPath();
    dirs << app + QStringLiteral("/help") << app + QStringLiteral("/../share/parcelix/help");
  }
#ifdef PARCELIX_HELP_DIR
  dirs << QString::fromUtf8(PARCELIX_HELP_DIR);
#endif
#ifdef PARCELIX_SOURCE_HELP_DIR
  dirs << QString::fromUtf8(PARCELIX_SOURCE_HELP_DIR);
#endif
  return dirs;
}

QString TChmHelpViewer::PageForTopic(const QString& topic) {
  const QString lower = topic.toLower();
  if (lower.endsWith(QLatin1String(".htm")) || lower.endsWith(QLatin1String(".html"))) return topic;
  return topic + QStringLiteral(".htm");
}

QString TChmHelpViewer::PagePath(const QString& topic) const {
  if (helpDir_.isEmpty()) return {};
  // Topics are page names; anything that would leave the help directory is
  // simply a page that does not exist.
  const QString page = PageForTopic(topic);
  if (page.contains(QLatin1Char('/')) || page.contains(QLatin1Char('\\')) || page.startsWith(QLatin1Char('.')))
    return QDir(helpDir_).filePath(QStringLiteral("missing-page.htm"));
  return QDir(helpDir_).filePath(page);
}

void TChmHelpViewer::ShowTopic(const QString& topic) {
  window_.ShowPage(PagePath(topic), PagePath(QLatin1String(kContentsPage)));
  Present();
}

void TChmHelpViewer::ShowContents() { ShowTopic(QLatin1String(kContentsPage)); }

void TChmHelpViewer::Present() {
  // Opened from a modal window (the manifest editor), the help window must be
  // modal as well, or it could not be used until that window closes.
  const Qt::WindowModality wanted =
      QApplication::activeModalWidget() && QApplication::activeModalWidget() != &window_ ? Qt::ApplicationModal
                                                                                           : Qt::NonModal;
  if (window_.windowModality() != wanted) {
    window_.hide();
    window_.setWindowModality(wanted);
  }
  window_.show();
  window_.raise();
  window_.activateWindow();
}

void TChmHelpViewer::CloseAll() { window_.close(); }

}  // namespace parcelix
