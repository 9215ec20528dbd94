// The help system (topics, pages, links, missing pages) and the About box.
#include <cstdlib>

#include <gtest/gtest.h>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QRegularExpression>
#include <QTest>

#include "app/gui/AboutUnit.h"
#include "app/gui/GuiMain.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"

namespace parcelix::test {
namespace {

const QString kHelpDir = QStringLiteral(PARCELIX_SOURCE_HELP_DIR);

QString Shown(TChmHelpViewer& help) {
  return QFileInfo(help.Window().Browser().source().toLocalFile()).fileName();
}

TEST(HelpViewer, TopicsMapToPages) {
  const std::pair<const char*, const char*> cases[] = {
      {"rename", "rename.htm"},
      {"makejad", "makejad.htm"},
      {"options", "options.htm"},
      {"manifest_editor", "manifest_editor.htm"},
      {"x.html", "x.html"},
      {"Guide.HTM", "Guide.HTM"},
      {"page.HtMl", "page.HtMl"},
      {"notes.txt", "notes.txt.htm"},
      {"index.htm", "index.htm"},
      {"", ".htm"},
  };
  for (const auto& [topic, page] : cases)
    EXPECT_EQ(TChmHelpViewer::PageForTopic(QLatin1String(topic)), QLatin1String(page)) << topic;
}

TEST(HelpViewer, TopicsOpenTheirPagesInTheHelpWindow) {
  TChmHelpViewer help(QStringList{QStringLiteral("/nonexistent/help"), kHelpDir});
  EXPECT_EQ(QDir(help.HelpDir()), QDir(kHelpDir));
  for (const char* topic : {"rename", "makejad", "options", "manifest_editor"}) {
    help.ShowTopic(QLatin1String(topic));
    EXPECT_TRUE(help.Window().isVisible());
    EXPECT_EQ(Shown(help), QLatin1String(topic) + QStringLiteral(".htm"));
    EXPECT_FALSE(help.Window().PageMissing()) << topic;
    EXPECT_FALSE(help.Window().Browser().toPlainText().isEmpty()) << topic;
  }
  help.ShowContents();
  EXPECT_EQ(Shown(help), QStringLiteral("index.htm"));
  EXPECT_TRUE(help.Window().Browser().toPlainText().contains(QStringLiteral("Contents")));
  help.CloseAll();
  EXPECT_FALSE(help.Window().isVisible());
}

TEST(HelpViewer, AMissingPageSaysSoInsteadOfFailing) {
  TChmHelpViewer help(QStringList{kHelpDir});
  for (const char* topic : {"x.html", "no_such_topic", "../rename", "/etc/passwd.htm", ".hidden"}) {
    help.ShowTopic(QLatin1String(topic));
    EXPECT_TRUE(help.Window().isVisible()) << topic;
    EXPECT_TRUE(help.Window().PageMissing()) << topic << ": " << help.Window().Browser().toPlainText().toStdString();
  }
  // The contents page is one click away from there.
  help.Window().findChild<QPushButton*>(QStringLiteral("HelpContents"))->click();
  EXPECT_EQ(Shown(help), QStringLiteral("index.htm"));
  EXPECT_FALSE(help.Window().PageMissing());

  TChmHelpViewer none(QStringList{QStringLiteral("/nonexistent/help")});
  EXPECT_TRUE(none.HelpDir().isEmpty());
  none.ShowContents();
  EXPECT_TRUE(none.Window().PageMissing());
}

TEST(HelpViewer, EveryLinkBetweenThePagesLeadsToAPage) {
  const QStringList pages = QDir(kHelpDir).entryList({QStringLiteral("*.htm")}, QDir::Files);
  for (const char* needed : {"index.htm", "rename.htm", "makejad.htm", "options.htm", "manifest_editor.htm", "check.htm"})
    EXPECT_TRUE(pages.contains(QLatin1String(needed))) << needed;
  const QRegularExpression href(QStringLiteral("href=\"([^\"#:]+)"));
  for (const QString& page : pages) {
    QFile file(QDir(kHelpDir).filePath(page));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(page == QLatin1String("index.htm") || html.contains(QStringLiteral("href=\"index.htm\"")))
        << page.toStdString() << " has no way back to the contents";
    for (auto it = href.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      EXPECT_TRUE(pages.contains(target)) << page.toStdString() << " links to " << target.toStdString();
    }
  }
}

TEST(HelpViewer, HelpButtonsOpenTheirTopics) {
  IsolatedEnv env;
  Recorder rec;
  TChmHelpViewer help(QStringList{kHelpDir});
  TfrmMain window(help, rec.Services());
  const std::pair<const char*, const char*> buttons[] = {
      {"btnRenHelp", "rename.htm"}, {"btnMakeJadHelp", "makejad.htm"}, {"btnOptionsHelp", "options.htm"},
      {"btnCheckHelp", "check.htm"}};
  for (const auto& [button, page] : buttons) {
    window.findChild<QPushButton*>(QLatin1String(button))->click();
    EXPECT_EQ(Shown(help), QLatin1String(page)) << button;
  }
  window.findChild<QAction*>(QStringLiteral("Contents1"))->trigger();
  EXPECT_EQ(Shown(help), QStringLiteral("index.htm"));
  window.ManifestEditorForm().findChild<QPushButton*>(QStringLiteral("btnManifestHelp"))->click();
  EXPECT_EQ(Shown(help), QStringLiteral("manifest_editor.htm"));
}

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    about.Fader().DurationMs = 0;
    about.show();
  }
  template <class T>
  T* Find(const char* name) {
    return about.findChild<T*>(QLatin1String(name));
  }
  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5)); }

  Recorder rec;
  TGuiServices services = rec.Services();
  TfrmAbout about{services};
};

TEST_F(AboutTest, BoxAsDesigned) {
  EXPECT_EQ(about.size(), QSize(362, 142));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  for (const char* link : {"Email", "Site"}) {
    QLabel* label = Find<QLabel>(link);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->font().underline()) << link;
    EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor) << link;
  }
}

TEST_F(AboutTest, LinksGoToTheDesktopsDefaultHandler) {
  Click(Find<QWidget>("Email"));
  Click(Find<QWidget>("Site"));
  ASSERT_EQ(rec.opened.size(), 2u);
  EXPECT_EQ(rec.opened[0], QUrl(QStringLiteral("mailto:parcelix@example.org")));
  EXPECT_EQ(rec.opened[1].scheme(), QStringLiteral("https"));
  EXPECT_TRUE(rec.opened[1].host().endsWith(QStringLiteral("example.org")));
  EXPECT_TRUE(rec.messages.empty());
}

TEST_F(AboutTest, LogoShowsTheCredits) {
  Click(Find<QWidget>("CompanyLogo"));
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].title, "GreetZ!!!");
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Information);
  EXPECT_FALSE(rec.messages[0].text.empty());
}

TEST_F(AboutTest, OkCloses) {
  Find<QPushButton>("OKButton")->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

// ---- Start-up without a display ----

class NoDisplay {
 public:
  NoDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      const char* v = std::getenv(name);
      saved_.push_back({name, v ? std::string(v) : std::string(), v != nullptr});
      unsetenv(name);
    }
  }
  ~NoDisplay() {
    for (const auto& s : saved_)
      if (s.set) setenv(s.name, s.value.c_str(), 1);
  }

 private:
  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
};

TEST(GuiStart, WithoutADisplayItSaysSoAndExitsWithTwo) {
  struct Case {
    const char* display;
    const char* wayland;
  };
  // No display at all, a local X display whose server is not there, a
  // Wayland socket that does not exist.
  const Case cases[] = {{nullptr, nullptr}, {":4711", nullptr}, {nullptr, "wayland-4711"}};
  for (const Case& c : cases) {
    NoDisplay guard;
    if (c.display) setenv("DISPLAY", c.display, 1);
    if (c.wayland) setenv("WAYLAND_DISPLAY", c.wayland, 1);
    char name[] = "parcelix";
    char* argv[] = {name, nullptr};
    ::testing::internal::CaptureStderr();
    const int status = RunGui(1, argv);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("no display"), std::string::npos) << err;
    EXPECT_NE(err.find("/rename"), std::string::npos) << "the usage follows: " << err;
    EXPECT_FALSE(ShowGuiMessage(UserMessage{"Error!", "x", MsgIcon::Error}));
  }
}

TEST(GuiStart, CommandLineMessagesBecomeMessageBoxes) {
  // The usage message of the command line, as a desktop run shows it.
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->accept();
  });
  EXPECT_TRUE(ShowGuiMessage(
      UserMessage{"Warning!", "Usage:\r\n Parcelix /rename FileName\r\nor\r\n Parcelix /jadgen FileName",
                  MsgIcon::Information}));
  EXPECT_EQ(title, QStringLiteral("Warning!"));
  EXPECT_EQ(text, QStringLiteral("Usage:\n Parcelix /rename FileName\nor\n Parcelix /jadgen FileName"));
  EXPECT_EQ(icon, QMessageBox::Information);
}

}  // namespace
}  // namespace parcelix::test
