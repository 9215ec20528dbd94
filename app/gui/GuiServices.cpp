// Default desktop services of the windows and the text conversions they share.
#include "app/gui/GuiServices.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QSet>
#if PARCELIX_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace parcelix {

void ShowMessageBox(QWidget* owner, const UserMessage& message) {
  QMessageBox::Icon icon = QMessageBox::Information;
  if (message.icon == MsgIcon::Error) icon = QMessageBox::Critical;
  if (message.icon == MsgIcon::Warning) icon = QMessageBox::Warning;
  // Message texts are written with CR LF line breaks; Qt wants LF.
  QString text = QString::fromUtf8(message.text);
  text.remove(QLatin1Char('\r'));
  QMessageBox box(icon, QString::fromUtf8(message.title), text, QMessageBox::Ok, owner);
  box.exec();
}

void TGuiServices::Message(QWidget* owner, const UserMessage& message) const {
  if (ShowMessage)
    ShowMessage(owner, message);
  else
    ShowMessageBox(owner, message);
}

bool TGuiServices::Ask(QWidget* owner, const UserMessage& question) const {
  if (AskYesNo) return AskYesNo(owner, question);
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(question.title), QString::fromUtf8(question.text),
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

namespace {

// org.freedesktop.FileManager1 ShowItems, when a file manager owns that name
// on the session bus; false when none does (or the call could not be sent).
bool ShowItemsOverDBus(const QStringList& paths) {
#if PARCELIX_HAVE_QTDBUS
  const QString service = QStringLiteral("org.freedesktop.FileManager1");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service).value()) return false;
  QStringList uris;
  for (const QString& p : paths) uris << QUrl::fromLocalFile(p).toString();
  QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                     service, QStringLiteral("ShowItems"));
  call << uris << QString();
  return bus.send(call);
#else
  (void)paths;
  return false;
#endif
}

}  // namespace

void TGuiServices::ShowInFileManager(const QStringList& paths) const {
  if (paths.isEmpty()) return;
  if (ShowItems) return ShowItems(paths);
  if (ShowItemsOverDBus(paths)) return;
  QStringList folders;
  for (const QString& p : paths) {
    const QString folder = QFileInfo(p).absolutePath();
    if (!folders.contains(folder)) folders << folder;
  }
  for (const QString& folder : folders) Open(QUrl::fromLocalFile(folder));
}

QStringList TGuiServices::Choose(QWidget* owner, const TFileRequest& request) const {
  if (ChooseFiles) return ChooseFiles(owner, request);
  if (request.multiple)
    return QFileDialog::getOpenFileNames(owner, request.title, request.directory, request.filter);
  const QString one = QFileDialog::getOpenFileName(owner, request.title, request.directory, request.filter);
  return one.isEmpty() ? QStringList() : QStringList{one};
}

QString TGuiServices::Folder(QWidget* owner, const QString& title, const QString& directory) const {
  if (ChooseFolder) return ChooseFolder(owner, title, directory);
  return QFileDialog::getExistingDirectory(owner, title, directory);
}

bool TGuiServices::Open(const QUrl& url) const {
  if (OpenUrl) return OpenUrl(url);
  return QDesktopServices::openUrl(url);
}

void TGuiServices::Exec(QDialog& dialog) const {
  if (ExecModal)
    ExecModal(dialog);
  else
    dialog.exec();
}

void TGuiServices::ShowError(QWidget* owner, const std::exception& error) const {
  Message(owner, UserMessage{"Parcelix", error.what(), MsgIcon::Error});
}

void TGuiServices::ShowError(QWidget* owner, const QString& text) const {
  Message(owner, UserMessage{"Parcelix", text.toStdString(), MsgIcon::Error});
}

std::string ToNativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromNativePath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace parcelix

#include <QCoreApplication>

namespace parcelix {

void TEventPump::operator()() {
  if (!timer_.isValid()) {
    timer_.start();
    return;
  }
  if (timer_.elapsed() < IntervalMs) return;
  QCoreApplication::processEvents();
  timer_.restart();
}

}  // namespace parcelix
