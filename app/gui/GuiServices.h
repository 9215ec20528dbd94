// What the windows ask of the desktop (message boxes, file dialogs, links, modal runs), replaceable in tests.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include <QString>
#include <QStringList>
#include <QUrl>

#include "app/shell/Cli.h"

class QDialog;
class QWidget;

namespace parcelix {

// One open-file dialog request.
struct TFileRequest {
  QString title;
  QString directory;
  QString filter;         // Qt filter list, entries separated by ";;"
  bool multiple = false;  // several files at once
};

// Every member is empty by default, which means the real desktop service.
struct TGuiServices {
  std::function<void(QWidget* owner, const UserMessage& message)> ShowMessage;
  // The chosen existing files; empty when the user cancelled.
  std::function<QStringList(QWidget* owner, const TFileRequest& request)> ChooseFiles;
  // The chosen existing folder; empty when the user cancelled.
  std::function<QString(QWidget* owner, const QString& title, const QString& directory)> ChooseFolder;
  // Hands a mailto: or web address to the desktop's default handler.
  std::function<bool(const QUrl& url)> OpenUrl;
  // Runs a window modally; tests show it without blocking instead.
  std::function<void(QDialog& dialog)> ExecModal;
  // Asks a question with Yes and No; true for Yes.
  std::function<bool(QWidget* owner, const UserMessage& question)> AskYesNo;
  // Shows files selected in the desktop's file manager.
  std::function<void(const QStringList& paths)> ShowItems;

  void Message(QWidget* owner, const UserMessage& message) const;
  QStringList Choose(QWidget* owner, const TFileRequest& request) const;
  QString Folder(QWidget* owner, const QString& title, const QString& directory) const;
  bool Open(const QUrl& url) const;
  void Exec(QDialog& dialog) const;
  bool Ask(QWidget* owner, const UserMessage& question) const;
  // Through the file manager's D-Bus interface where one answers, else each
  // folder opened with the desktop's default handler.
  void ShowInFileManager(const QStringList& paths) const;

  // The top-level error handler: shows an error that an operation raised.
  void ShowError(QWidget* owner, const std::exception& error) const;
  void ShowError(QWidget* owner, const QString& text) const;

  // Runs a handler; an exception it raises is shown and the program goes on.
  // False when the handler raised.
  template <class F>
  bool Guard(QWidget* owner, F&& handler) const {
    try {
      handler();
      return true;
    } catch (const std::exception& e) {
      ShowError(owner, e);
    }
    return false;
  }
};

// A real message box: title, text and icon of the message, owned by owner.
void ShowMessageBox(QWidget* owner, const UserMessage& message);

// Paths: bytes of the file system <-> display strings.
std::string ToNativePath(const QString& path);
QString FromNativePath(const std::string& path);

}  // namespace parcelix

#include <QElapsedTimer>

namespace parcelix {

// Lets the window repaint and take clicks during a long run: called once per
// engine chunk or batch item, it processes pending events at most every
// IntervalMs, so a run of thousands of JARs is not slowed by repainting.
class TEventPump {
 public:
  int IntervalMs = 30;
  void operator()();

 private:
  QElapsedTimer timer_;
};

}  // namespace parcelix
