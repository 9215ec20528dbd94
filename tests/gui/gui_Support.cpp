// Shared helpers of the window tests: the Qt application, temporary JARs made with python's zipfile, recorded services.
#include "gui_Support.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QDialog>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace parcelix::test {

namespace {

// One QApplication for the whole test binary, on the offscreen platform
// unless screenshots are taken on a real (virtual) display.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("PARCELIX_SCREENSHOT_DIR")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "parcelix_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QByteArray RunPython(const QString& script, const QStringList& args, const QByteArray& input = {}) {
  QProcess python;
  python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), script} + args);
  python.write(input);
  python.closeWriteChannel();
  python.waitForFinished(120000);
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  return python.readAllStandardOutput();
}

QString Hex(const std::string& bytes) { return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex()); }

}  // namespace

JarSpec MidletJar(const QString& path, const std::string& manifest) {
  return JarSpec{path,
                 {{"META-INF/MANIFEST.MF", manifest},
                  {"com/example/Main.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x2E", 8) + std::string(300, 'x')}}};
}

std::string PngIcon(unsigned rgb, int side, int noiseBytes) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromRgb(rgb));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(0.5, 0.5, side - 1.0, side - 1.0));
  }
  // Noise does not compress: it makes an icon as big as asked.
  uint32_t seed = 12345;
  for (int i = 0; i < noiseBytes / 4; ++i) {
    seed = seed * 1664525u + 1013904223u;
    image.setPixel(int(seed % unsigned(side)), int((seed >> 12) % unsigned(side)), seed | 0xFF000000u);
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

void MakeJars(const std::vector<JarSpec>& jars) {
  QJsonArray list;
  for (const JarSpec& jar : jars) {
    QJsonArray members;
    for (const auto& [name, bytes] : jar.members)
      members.append(QJsonArray{QString::fromStdString(name), Hex(bytes)});
    list.append(QJsonObject{{QStringLiteral("path"), jar.path}, {QStringLiteral("members"), members}});
  }
  RunPython(QStringLiteral("import json,sys,zipfile\n"
                           "for jar in json.load(sys.stdin):\n"
                           "  with zipfile.ZipFile(jar['path'], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "    for name, data in jar['members']:\n"
                           "      z.writestr(name, bytes.fromhex(data))\n"),
            {}, QJsonDocument(list).toJson());
}

std::string ReadMember(const QString& jar, const std::string& name) {
  const QByteArray hex = RunPython(QStringLiteral("import sys,zipfile\n"
                                                  "z = zipfile.ZipFile(sys.argv[1])\n"
                                                  "n = sys.argv[2]\n"
                                                  "print(z.read(n).hex() if n in z.namelist() else 'missing')\n"),
                                   {jar, QString::fromStdString(name)});
  if (hex.trimmed() == "missing") return "<missing>";
  return QByteArray::fromHex(hex.trimmed()).toStdString();
}

std::vector<std::pair<std::string, std::string>> Members(const QString& jar) {
  const QByteArray out = RunPython(QStringLiteral("import sys,zipfile\n"
                                                  "z = zipfile.ZipFile(sys.argv[1])\n"
                                                  "for i in z.infolist():\n"
                                                  "  print(i.filename.encode().hex(), z.read(i).hex())\n"),
                                   {jar});
  std::vector<std::pair<std::string, std::string>> members;
  for (const QByteArray& line : out.split('\n')) {
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 2) continue;
    members.push_back({QByteArray::fromHex(parts[0]).toStdString(), QByteArray::fromHex(parts[1]).toStdString()});
  }
  return members;
}

int UnzipTest(const QString& jar) {
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tqq"), jar});
  unzip.waitForFinished(60000);
  return unzip.exitCode();
}

std::string ReadFile(const QString& path) {
  std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const QString& path, const std::string& bytes) {
  std::ofstream out(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

QStringList DirEntries(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

TGuiServices Recorder::Services() {
  TGuiServices s;
  s.ShowMessage = [this](QWidget*, const UserMessage& m) { messages.push_back(m); };
  s.ChooseFiles = [this](QWidget*, const TFileRequest& r) {
    requests.push_back(r);
    return nextFiles;
  };
  s.ChooseFolder = [this](QWidget*, const QString&, const QString&) { return nextFolder; };
  s.OpenUrl = [this](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  s.ExecModal = [this](QDialog& dialog) {
    execs.push_back(dialog.objectName());
    dialog.show();
  };
  s.AskYesNo = [this](QWidget*, const UserMessage& q) {
    questions.push_back(q);
    return answer;
  };
  s.ShowItems = [this](const QStringList& paths) { shown.push_back(paths); };
  return s;
}

IsolatedEnv::IsolatedEnv() {
  for (const char* name : {"PARCELIX_INI", "PARCELIX_REGISTRY", "XDG_DATA_HOME"}) {
    const char* old = std::getenv(name);
    saved_[name] = old ? old : "\x01unset";
  }
  setenv("PARCELIX_INI", SettingsFile().toLocal8Bit().constData(), 1);
  setenv("PARCELIX_REGISTRY", Path(QStringLiteral("registry")).toLocal8Bit().constData(), 1);
  QDir(dir_.path()).mkpath(QStringLiteral("data"));
  setenv("XDG_DATA_HOME", Path(QStringLiteral("data")).toLocal8Bit().constData(), 1);
}

IsolatedEnv::~IsolatedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value == "\x01unset")
      unsetenv(name.c_str());
    else
      setenv(name.c_str(), value.c_str(), 1);
  }
}

}  // namespace parcelix::test

namespace parcelix::test {

std::vector<std::string> CheckedMemberNames(const QString& jar) {
  const QByteArray out = RunPython(QStringLiteral("import sys,zipfile\n"
                                                  "z = zipfile.ZipFile(sys.argv[1])\n"
                                                  "bad = z.testzip()\n"
                                                  "names = ['<bad: %s>' % bad] if bad else z.namelist()\n"
                                                  "for n in names: print(n.encode().hex())\n"),
                                   {jar});
  std::vector<std::string> names;
  for (const QByteArray& line : out.split('\n'))
    if (!line.isEmpty()) names.push_back(QByteArray::fromHex(line).toStdString());
  return names;
}

}  // namespace parcelix::test
