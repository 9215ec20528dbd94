// Shared helpers of the window tests: the Qt application, temporary JARs made with python's zipfile, recorded services.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include "app/gui/GuiServices.h"

namespace parcelix::test {

// One JAR to make: its members (name -> bytes) in this order.
struct JarSpec {
  QString path;
  std::vector<std::pair<std::string, std::string>> members;
};

// A JAR holding a manifest (the given text, as is) and one class file.
JarSpec MidletJar(const QString& path, const std::string& manifest);
// A PNG icon of side x side pixels: a disc of the colour on a transparent
// ground, with noise enough to make the file about noiseBytes long.
std::string PngIcon(unsigned rgb, int side = 24, int noiseBytes = 0);
// Makes the JARs with python's zipfile (deflated), independent of our writer.
void MakeJars(const std::vector<JarSpec>& jars);
// A member's bytes as python's zipfile reads them; "<missing>" when absent.
std::string ReadMember(const QString& jar, const std::string& name);
// Every member (name, bytes) in directory order, as python's zipfile reads them.
std::vector<std::pair<std::string, std::string>> Members(const QString& jar);
// `unzip -t` exit status (0: every member's CRC checks out).
int UnzipTest(const QString& jar);
std::string ReadFile(const QString& path);
void WriteFile(const QString& path, const std::string& bytes);
// File names in a directory, sorted.
QStringList DirEntries(const QString& dir);

// Services that never open a modal box or a dialog.
struct Recorder {
  std::vector<UserMessage> messages;
  std::vector<TFileRequest> requests;
  QStringList nextFiles;  // what the next file dialog "chooses"
  QString nextFolder;     // what the next folder dialog "chooses"
  std::vector<QUrl> opened;
  std::vector<QString> execs;  // object names of windows run modally
  std::vector<UserMessage> questions;  // Yes/No questions asked
  bool answer = false;                 // what each of them is answered
  std::vector<QStringList> shown;      // files shown in the file manager
  TGuiServices Services();
};

// A fresh settings file and registry for one test (PARCELIX_INI,
// PARCELIX_REGISTRY, XDG_DATA_HOME point into a temporary directory).
class IsolatedEnv {
 public:
  IsolatedEnv();
  ~IsolatedEnv();
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString SettingsFile() const { return Path(QStringLiteral("Parcelix.ini")); }

 private:
  QTemporaryDir dir_;
  std::map<std::string, std::string> saved_;
};

}  // namespace parcelix::test

namespace parcelix::test {

// The member names in directory order as python's zipfile reads them, after
// its testzip() found every CRC right; {"<bad: NAME>"} when one is wrong.
std::vector<std::string> CheckedMemberNames(const QString& jar);

}  // namespace parcelix::test
