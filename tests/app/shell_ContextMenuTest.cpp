// Tests of the context-menu verbs (ON/OFF), their desktop entries and the runner that executes a verb.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/shell/ContextMenu.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace parcelix;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, perms);
}

// Every file and folder below a root: path -> mode and content.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    const std::string rel = e.path().string().substr(root.size());
    out[rel] = std::to_string(st.st_mode & 07777) + (e.is_directory() ? "/" : ":" + Slurp(e.path()));
  }
  return out;
}

class ContextMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/parcelix-menu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    data = dir + "/data";
    store = dir + "/reg/registry";
    const char* old = getenv("XDG_DATA_HOME");
    hadXdg = old != nullptr;
    if (old) oldXdg = old;
    setenv("XDG_DATA_HOME", data.c_str(), 1);
  }
  void TearDown() override {
    if (hadXdg) setenv("XDG_DATA_HOME", oldXdg.c_str(), 1); else unsetenv("XDG_DATA_HOME");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string Value(TRegistry& reg, const std::string& key) {
    std::string v = reg.OpenKeyReadOnly(key) ? reg.ReadString("") : "<missing>";
    reg.CloseKey();
    return v;
  }
  std::vector<std::string> OurFiles() {
    std::vector<std::string> out;
    for (const auto& e : DesktopEntryStatus(Reg(), data))
      if (e.present) out.push_back(e.path.substr(data.size()));
    return out;
  }

  std::string dir, data, store, oldXdg;
  bool hadXdg = false;
  std::unique_ptr<TRegistry> reg;
  TRegistry& Reg() {
    if (!reg) reg = std::make_unique<TRegistry>(store);
    return *reg;
  }
};

const std::string kProgram = "/opt/Parcelix Tools/parcelix";

TEST_F(ContextMenuTest, OnWithJarMissingCreatesJarfileAndTheTwoVerbs) {
  IntegrateOn(Reg(), kProgram);
  EXPECT_EQ(Value(Reg(), "\\.jar"), "jarfile");
  EXPECT_EQ(Value(Reg(), "\\jarfile\\shell\\Parcelix: Rename\\command"),
            "\"/opt/Parcelix Tools/parcelix\" /rename \"%1\"");
  EXPECT_EQ(Value(Reg(), "\\jarfile\\shell\\Parcelix: Make JAD\\command"),
            "\"/opt/Parcelix Tools/parcelix\" /jadgen \"%1\"");
  const auto verbs = RegisteredVerbs(Reg());
  ASSERT_EQ(verbs.size(), 2u);
  EXPECT_EQ(verbs[0].verb, kRenameVerb);
  EXPECT_EQ(verbs[1].verb, kMakeJadVerb);

  // The entries each file manager reads, executable where the manager needs it.
  const std::map<std::string, unsigned> expected = {
      {"/kio/servicemenus/parcelix-jar.desktop", 0755},
      {"/nautilus/scripts/Parcelix: Rename", 0755},
      {"/nautilus/scripts/Parcelix: Make JAD", 0755},
      {"/nemo/actions/parcelix-rename.nemo_action", 0644},
      {"/nemo/actions/parcelix-make-jad.nemo_action", 0644},
      {"/parcelix/menu/parcelix-rename.sh", 0755},
      {"/parcelix/menu/parcelix-make-jad.sh", 0755},
  };
  for (const auto& [rel, mode] : expected) {
    struct stat st {};
    ASSERT_EQ(stat((data + rel).c_str(), &st), 0) << rel;
    EXPECT_EQ(st.st_mode & 0777, mode) << rel;
  }
  std::vector<std::string> files = OurFiles();
  EXPECT_EQ(files.size(), expected.size());
  const std::string dolphin = Slurp(data + "/kio/servicemenus/parcelix-jar.desktop");
  EXPECT_NE(dolphin.find("MimeType=application/java-archive;application/x-java-archive;\n"), std::string::npos);
  EXPECT_NE(dolphin.find("Actions=parcelix-rename;parcelix-make-jad;\n"), std::string::npos);
  EXPECT_NE(dolphin.find("Name=Parcelix: Make JAD\n"), std::string::npos);
}

TEST_F(ContextMenuTest, OnWithJarNamingAnotherTypeWritesUnderThatType) {
  ASSERT_TRUE(Reg().OpenKey("\\.jar", true));
  Reg().WriteString("", "javaarchive");
  Reg().CloseKey();
  IntegrateOn(Reg(), kProgram);
  EXPECT_EQ(Value(Reg(), "\\.jar"), "javaarchive");
  EXPECT_EQ(Value(Reg(), "\\javaarchive\\shell\\Parcelix: Rename\\command"),
            "\"/opt/Parcelix Tools/parcelix\" /rename \"%1\"");
  EXPECT_FALSE(Reg().KeyExists("\\jarfile"));
  EXPECT_EQ(RegisteredFileType(Reg()), "javaarchive");
}

TEST_F(ContextMenuTest, OnWithAnEmptyJarKeyFillsInJarfile) {
  ASSERT_TRUE(Reg().OpenKey("\\.JAR", true));
  Reg().CloseKey();
  IntegrateOn(Reg(), kProgram);
  EXPECT_EQ(Value(Reg(), "\\.jar"), "jarfile");
  EXPECT_TRUE(Reg().KeyExists("\\jarfile\\shell\\Parcelix: Make JAD\\command"));
}

TEST_F(ContextMenuTest, OnTwiceWritesTheSameAgain) {
  IntegrateOn(Reg(), kProgram);
  const std::string storeOnce = Slurp(store);
  const auto filesOnce = Snapshot(data);
  IntegrateOn(Reg(), kProgram);
  EXPECT_EQ(Slurp(store), storeOnce);
  EXPECT_EQ(Snapshot(data), filesOnce);
}

// OFF takes both verbs and exactly the files ON wrote; the user's own files in
// the same folders, .jar and FileType\shell stay.
TEST_F(ContextMenuTest, OffAfterOnLeavesNothingOfOurs) {
  Spit(data + "/nautilus/scripts/My script", "#!/bin/sh\n", fs::perms::owner_all);
  Spit(data + "/nemo/actions/other.nemo_action", "[Nemo Action]\nName=Other\n");
  const auto before = Snapshot(data);
  IntegrateOn(Reg(), kProgram);
  IntegrateOff(Reg());
  EXPECT_EQ(Snapshot(data), before);
  EXPECT_TRUE(RegisteredVerbs(Reg()).empty());
  EXPECT_EQ(Value(Reg(), "\\.jar"), "jarfile");
  EXPECT_TRUE(Reg().KeyExists("\\jarfile\\shell"));
  EXPECT_FALSE(Reg().KeyExists("\\jarfile\\shell\\Parcelix: Rename"));
  EXPECT_FALSE(Reg().KeyExists("\\jarfile\\shell\\Parcelix: Make JAD"));
}

TEST_F(ContextMenuTest, OffWithNothingRegisteredCreatesNothing) {
  IntegrateOff(Reg());  // no store at all
  EXPECT_FALSE(fs::exists(store));
  EXPECT_TRUE(Snapshot(data).empty());

  // .jar names a type that has no verbs: neither a "shell" key nor anything else appears.
  ASSERT_TRUE(Reg().OpenKey("\\.jar", true));
  Reg().WriteString("", "javaarchive");
  Reg().CloseKey();
  const std::string storeBefore = Slurp(store);
  IntegrateOff(Reg());
  EXPECT_EQ(Slurp(store), storeBefore);
  EXPECT_TRUE(Snapshot(data).empty());
}

TEST_F(ContextMenuTest, OffOnlyRemovesOurVerbs) {
  AddContextMenuVerb(Reg(), "jar", "Open with Emulator", "\"/usr/bin/emu\"");
  IntegrateOn(Reg(), kProgram);
  IntegrateOff(Reg());
  const auto verbs = RegisteredVerbs(Reg());
  ASSERT_EQ(verbs.size(), 1u);
  EXPECT_EQ(verbs[0].command, "\"/usr/bin/emu\" \"%1\"");
  // The remaining verb keeps its entries.
  EXPECT_TRUE(fs::exists(data + "/nemo/actions/parcelix-open-with-emulator.nemo_action"));
  EXPECT_FALSE(fs::exists(data + "/nemo/actions/parcelix-rename.nemo_action"));
}

TEST_F(ContextMenuTest, AnUnwritableStoreFailsWithTheValueName) {
  Spit(dir + "/blocker", "not a folder");
  TRegistry blocked(dir + "/blocker/registry");
  try {
    IntegrateOn(blocked, kProgram);
    FAIL() << "no exception";
  } catch (const ERegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for ''");
  }
  EXPECT_TRUE(Snapshot(data).empty());

  // A store made read-only after ON: OFF cannot remove the verbs and says so.
  IntegrateOn(Reg(), kProgram);
  fs::permissions(store, fs::perms::owner_read);
  EXPECT_THROW(IntegrateOff(Reg()), ERegistryError);
  EXPECT_EQ(RegisteredVerbs(Reg()).size(), 2u);
  EXPECT_TRUE(fs::exists(data + "/kio/servicemenus/parcelix-jar.desktop"));
  // ...and with .jar already naming its type, ON fails on the verb's own value.
  Spit(dir + "/ro/registry", "[.jar]\n@=\"jarfile\"\n", fs::perms::owner_read);
  TRegistry readOnly(dir + "/ro/registry");
  EXPECT_THROW(IntegrateOn(readOnly, kProgram), ERegistryError);
}

// A file at one of our names that Parcelix did not write is the user's.
TEST_F(ContextMenuTest, AFileOfTheUsersAtOurNameIsLeftAlone) {
  const std::string theirs = data + "/nautilus/scripts/Parcelix: Rename";
  Spit(theirs, "#!/bin/sh\necho mine\n", fs::perms::owner_all);
  IntegrateOn(Reg(), kProgram);
  EXPECT_EQ(Slurp(theirs), "#!/bin/sh\necho mine\n");
  bool reported = false;
  for (const auto& e : DesktopEntryStatus(Reg(), data))
    if (e.path == theirs) reported = e.present && !e.ours;
  EXPECT_TRUE(reported);
  IntegrateOff(Reg());
  EXPECT_EQ(Slurp(theirs), "#!/bin/sh\necho mine\n");
  EXPECT_FALSE(fs::exists(data + "/kio"));
}

TEST_F(ContextMenuTest, EntriesFollowVerbsChangedInTheRegistry) {
  IntegrateOn(Reg(), kProgram);
  ASSERT_TRUE(Reg().OpenKey("\\jarfile\\shell", false));
  ASSERT_TRUE(Reg().DeleteKey(kMakeJadVerb));
  Reg().CloseKey();
  SyncDesktopEntries(Reg(), data);
  EXPECT_FALSE(fs::exists(data + "/nautilus/scripts/Parcelix: Make JAD"));
  EXPECT_FALSE(fs::exists(data + "/parcelix/menu/parcelix-make-jad.sh"));
  EXPECT_TRUE(fs::exists(data + "/nautilus/scripts/Parcelix: Rename"));
  const std::string dolphin = Slurp(data + "/kio/servicemenus/parcelix-jar.desktop");
  EXPECT_NE(dolphin.find("Actions=parcelix-rename;\n"), std::string::npos);
  EXPECT_EQ(dolphin.find("make-jad"), std::string::npos);
  // The record names exactly the files that are there.
  const std::string record = Slurp(data + "/parcelix/desktop-entries");
  for (const auto& rel : OurFiles()) EXPECT_NE(record.find(rel.substr(1) + "\n"), std::string::npos) << rel;
  EXPECT_EQ(record.find("make-jad"), std::string::npos);
}

TEST_F(ContextMenuTest, ARecordPointingOutsideIsIgnored) {
  Spit(dir + "/precious", "keep me");
  Spit(data + "/parcelix/desktop-entries", "../precious\n/" + dir + "/precious\nkio/../../precious\n");
  IntegrateOn(Reg(), kProgram);
  IntegrateOff(Reg());
  EXPECT_EQ(Slurp(dir + "/precious"), "keep me");
}

struct WordCase {
  const char* what;
  std::vector<std::string> words;
};

// A command made of quoted words splits back into the same words.
TEST(ContextMenuCommandLine, QuotedWordsSplitBack) {
  const std::vector<WordCase> cases = {
      {"plain", {"/usr/bin/parcelix", "/rename", "%1"}},
      {"blanks", {"/opt/My Tools/parcelix", "a b", " lead", "trail "}},
      {"quotes", {"say \"hi\"", "\"", "\"\""}},
      {"backslashes", {"C:\\Tools\\", "a\\\\b", "\\\"", "\\", "end\\"}},
      {"empty word", {"", "x", ""}},
      {"tab and dollar", {"a\tb", "$HOME", "`id`", "'s'"}},
  };
  for (const auto& c : cases) {
    std::string command;
    for (const auto& w : c.words) command += (command.empty() ? "" : " ") + QuoteCommandWord(w);
    EXPECT_EQ(SplitCommandLine(command), c.words) << c.what << ": " << command;
  }
  EXPECT_EQ(SplitCommandLine("  \"/a b/p\"   /rename\t\"%1\" "), (std::vector<std::string>{"/a b/p", "/rename", "%1"}));
}

TEST(ContextMenuCommandLine, VerbCommandKeepsTheProgramPath) {
  EXPECT_EQ(MakeVerbCommand("/usr/bin/parcelix", "/rename"), "\"/usr/bin/parcelix\" /rename");
  for (const std::string path : {"/opt/a b/p", "/o\"dd/p", "/back\\slash/p", "/ends/with\\", "/x\\\\y"}) {
    const auto words = SplitCommandLine(MakeVerbCommand(path, "/jadgen") + " \"%1\"");
    ASSERT_EQ(words.size(), 3u) << path;
    EXPECT_EQ(words[0], path);
    EXPECT_EQ(words[1], "/jadgen");
  }
}

// ---- running the entries ----

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, const std::string& cwd = "") {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The recorded calls of the fake program: each call's arguments, NUL-separated, one call a line.
std::vector<std::vector<std::string>> Calls(const std::string& log) {
  std::vector<std::vector<std::string>> calls;
  const std::string text = Slurp(log);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\x01\n", start);
    if (end == std::string::npos) break;
    std::vector<std::string> args;
    std::string call = text.substr(start, end - start);
    size_t p = 0;
    while (p < call.size()) {
      size_t z = call.find('\0', p);
      args.push_back(call.substr(p, z - p));
      p = z + 1;
    }
    calls.push_back(args);
    start = end + 2;
  }
  return calls;
}

class RunnerTest : public ContextMenuTest {
 protected:
  void SetUp() override {
    ContextMenuTest::SetUp();
    // The registered program: a script at an awkward path that records its arguments.
    program = dir + "/prog dir \"q\" $x 'a' 100%/rec";
    log = dir + "/calls.log";
    Spit(program,
         "#!/bin/sh\n"
         "[ \"$PARCELIX_DESKTOP_MESSAGES\" = 1 ] || exit 3\n"  // messages must reach the desktop
         "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> '" + log + "'\n"
         "printf '\\001\\n' >> '" + log + "'\n"
         "case $2 in *fail*) exit 1;; esac\n",
         fs::perms::owner_all);
    IntegrateOn(Reg(), program);
    // notify-send stand-in: records its arguments too.
    bin = dir + "/bin";
    notifyLog = dir + "/notify.log";
    Spit(bin + "/notify-send", "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + notifyLog + "'\necho >> '" + notifyLog + "'\n",
         fs::perms::owner_all);
  }
  std::vector<std::string> Env(bool display) {
    return {"PATH=" + bin + ":/usr/bin:/bin", display ? "DISPLAY=:99" : "DISPLAY=", "WAYLAND_DISPLAY=",
            "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS="};
  }
  std::string program, log, bin, notifyLog;
};

const std::vector<std::string> kAwkwardJars = {
    "/tmp/x y/Game.jar",       "/tmp/it's \"quoted\".jar", "/tmp/$HOME and `id`.JAR", "/tmp/back\\slash.jar",
    "/tmp/-dash.jar",          "/tmp/line\nbreak.jar",      "/tmp/100% *.jar",         "/tmp/semi;colon&amp.Jar",
};

TEST_F(RunnerTest, TheScriptRunsTheCommandOncePerJarWithThePathIntact) {
  std::vector<std::string> argv = {data + "/nautilus/scripts/Parcelix: Rename"};
  argv.insert(argv.end(), kAwkwardJars.begin(), kAwkwardJars.end());
  argv.push_back("/tmp/readme.txt");  // not a JAR: skipped
  EXPECT_EQ(RunProgram(argv, Env(false)), 0);
  const auto calls = Calls(log);
  ASSERT_EQ(calls.size(), kAwkwardJars.size());
  for (size_t i = 0; i < calls.size(); ++i)
    EXPECT_EQ(calls[i], (std::vector<std::string>{"/rename", kAwkwardJars[i]})) << kAwkwardJars[i];
}

TEST_F(RunnerTest, GnomeFilesSelectionComesFromTheEnvironment) {
  std::string paths;
  for (const auto& p : {"/tmp/a b.jar", "/tmp/$c 'd'.jar", "/tmp/e.txt"}) paths += std::string(p) + "\n";
  auto env = Env(false);
  env.back() = "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=" + paths;
  EXPECT_EQ(RunProgram({data + "/nautilus/scripts/Parcelix: Make JAD"}, env), 0);
  const auto calls = Calls(log);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (std::vector<std::string>{"/jadgen", "/tmp/a b.jar"}));
  EXPECT_EQ(calls[1], (std::vector<std::string>{"/jadgen", "/tmp/$c 'd'.jar"}));
}

TEST_F(RunnerTest, RelativeNamesRunInTheFolderTheyWereGivenIn) {
  fs::create_directories(dir + "/jars here");
  EXPECT_EQ(RunProgram({data + "/parcelix/menu/parcelix-rename.sh", "My Game.jar"}, Env(false), dir + "/jars here"), 0);
  const auto calls = Calls(log);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][1], "My Game.jar");
}

TEST_F(RunnerTest, TheDesktopHearsOfSuccessAndTheExitStatusOfFailure) {
  EXPECT_EQ(RunProgram({data + "/parcelix/menu/parcelix-rename.sh", "/tmp/ok.jar", "/tmp/fail.jar"}, Env(true)), 1);
  // Only the success is told here; a failure is shown by the program itself.
  EXPECT_EQ(Slurp(notifyLog), "-a|Parcelix|--|Parcelix: Rename|ok.jar: done|\n");
  // No display: no notification at all.
  fs::remove(notifyLog);
  EXPECT_EQ(RunProgram({data + "/parcelix/menu/parcelix-rename.sh", "/tmp/ok.jar"}, Env(false)), 0);
  EXPECT_FALSE(fs::exists(notifyLog));
  // Nothing that is a JAR: the user is told and nothing runs.
  fs::remove(log);
  EXPECT_EQ(RunProgram({data + "/parcelix/menu/parcelix-rename.sh", "/tmp/a.zip"}, Env(true)), 1);
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(Slurp(notifyLog), "-a|Parcelix|--|Parcelix: Rename|Select a .jar file.|\n");
}

}  // namespace
