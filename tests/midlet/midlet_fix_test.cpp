// The fix of a JAR over crafted archives: what each needs, what the fixed
// JAR reads like, and that a refused or failed fix leaves everything as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "engine/read/ArchiveSource.h"
#include "engine/read_zipbuilder.h"
#include "midlet/JarFix.h"

using namespace parcelix;
using namespace parcelix::testzip;

namespace {

const std::string kManifest = "Manifest-Version: 1.0\r\nMIDlet-Name: Fix\r\nMIDlet-Version: 1.0\r\n\r\n";
const std::string kText = std::string(2000, 'a') + "tail";

struct Case {
  const char* name;
  std::vector<Member> members;
  Layout layout{};
  JarFixOptions options{};
  TFixVerdict verdict = TFixVerdict::NeedsFix;
  std::vector<std::string> lines{};  // parts of change lines, notes or the refusal, in any order
};

std::vector<Member> Plain() {
  return {{"META-INF/", ""}, {"META-INF/MANIFEST.MF", kManifest, 8}, {"a.txt", kText, 8}, {"b.bin", "stored", 0}};
}

std::vector<Member> With(std::vector<Member> m, size_t i, void (*change)(Member&)) {
  change(m.at(i));
  return m;
}

JarFixOptions Salvage() {
  JarFixOptions o;
  o.salvage = true;
  return o;
}

std::vector<Case> Cases() {
  std::vector<Member> last = Plain();
  std::rotate(last.begin(), last.begin() + 2, last.end());
  std::vector<Member> duplicate = Plain();
  duplicate.push_back({"a.txt", "second", 0});
  return {
      {"clean", Plain(), {}, {}, TFixVerdict::AlreadyFine},
      {"manifest last", last, {}, {}, TFixVerdict::NeedsFix, {"first"}},
      {"streamed", With(Plain(), 2, [](Member& m) { m.streamed = true; }), {}, {}, TFixVerdict::NeedsFix,
       {"data descriptor follows\" flag of 1 member"}},
      {"zip64 for small sizes", With(Plain(), 3, [](Member& m) { m.zip64 = true; }), {}, {}, TFixVerdict::NeedsFix,
       {"zip64 fields"}},
      {"descriptor flag without descriptor", With(Plain(), 2, [](Member& m) { m.flags = kFlagDataDescriptor; }), {},
       {}, TFixVerdict::NeedsFix, {"flag of 1 member"}},
      {"junk in front, offsets adjusted", Plain(), {.prefix = std::string(100, 'J')}, {}, TFixVerdict::NeedsFix,
       {"removed 100 bytes in front"}},
      {"junk in front, offsets not adjusted", Plain(), {.prefix = std::string(100, 'J'), .adjustOffsets = false}, {},
       TFixVerdict::NeedsFix, {"removed 100 bytes in front"}},
      {"wrong directory offset", Plain(), {.recordedDirectoryOffset = 3}, Salvage(), TFixVerdict::NeedsFix,
       {"offsets"}},
      {"wrong entry count, no salvage", Plain(), {.recordedCount = 9}, {}, TFixVerdict::Refused, {"--salvage"}},
      {"wrong entry count, salvage", Plain(), {.recordedCount = 9}, Salvage(), TFixVerdict::NeedsFix,
       {"directory records"}},
      {"bad CRC", With(Plain(), 3, [](Member& m) { m.crc = 1234; }), {}, {}, TFixVerdict::Refused,
       {"b.bin: it fails its CRC check"}},
      {"bad CRC, manifest last", With(last, 1, [](Member& m) { m.crc = 1234; }), {}, {}, TFixVerdict::Refused,
       {"b.bin: it fails its CRC check"}},
      {"bad CRC, salvage", With(Plain(), 3, [](Member& m) { m.crc = 1234; }), {}, Salvage(), TFixVerdict::NeedsFix,
       {"left out b.bin (it fails its CRC check)"}},
      {"BOM", With(Plain(), 1, [](Member& m) { m.data = "\xEF\xBB\xBF" + kManifest; }), {}, {},
       TFixVerdict::NeedsFix, {"byte-order mark"}},
      {"no final line end", With(Plain(), 1, [](Member& m) { m.data = "Manifest-Version: 1.0\nA: b"; }), {}, {},
       TFixVerdict::NeedsFix, {"ended the last line"}},
      {"damaged first of two, salvage",
       [] {
         auto m = With(Plain(), 3, [](Member& x) { x.crc = 1234; });
         m.push_back({"b.bin", "second", 0});
         return m;
       }(),
       {}, Salvage(), TFixVerdict::NeedsFix, {"left out b.bin", "kept a later entry named b.bin in place"}},
      {"duplicate kept", duplicate, {}, {}, TFixVerdict::AlreadyFine, {"a.txt is stored 2 times"}},
      {"duplicate dropped", duplicate, {}, Salvage(), TFixVerdict::NeedsFix, {"dropped 1 later entry named a.txt"}},
      {"encrypted", With(Plain(), 3, [](Member& m) { m.flags = kFlagEncrypted; }), {}, Salvage(),
       TFixVerdict::Refused, {"encrypted"}},
      {"unsafe name", With(Plain(), 3, [](Member& m) { m.name = "../up.bin"; }), {}, {}, TFixVerdict::Refused,
       {"not a safe path"}},
      {"unknown method", With(Plain(), 3, [](Member& m) { m.method = 12; }), {}, {}, TFixVerdict::Refused,
       {"method 12"}},
      {"MIDP-signed", last, {}, {.midpSigned = true}, TFixVerdict::Refused, {"--break-signature"}},
      {"MIDP-signed, clean", Plain(), {}, {.midpSigned = true}, TFixVerdict::AlreadyFine},
      {"MIDP-signed, broken on purpose", last, {}, {.breakSignature = true, .midpSigned = true},
       TFixVerdict::NeedsFix, {"no longer matches"}},
      {"Java-signed, manifest changed",
       [] {
         auto m = With(Plain(), 1, [](Member& x) { x.data = "\xEF\xBB\xBF" + kManifest; });
         m.push_back({"META-INF/K.SF", "Signature-Version: 1.0\r\n\r\n", 0});
         m.push_back({"META-INF/K.RSA", "block", 0});
         return m;
       }(),
       {}, {}, TFixVerdict::NeedsFix, {"signature (META-INF/*.SF) no longer matches"}},
  };
}

class JarFixTest : public Scratch {
 protected:
  // Every line the plan says, for a search.
  static std::string Said(const JarFixPlan& p) {
    std::string s = p.refusal + "\n";
    for (const auto& l : p.changes) s += l + "\n";
    for (const auto& l : p.notes) s += l + "\n";
    return s;
  }
  // The fixed archive: no finding, the manifest first, every local header
  // clean, and each member decoding to the data it was built from.
  void ExpectClean(const std::string& path, const std::vector<Member>& built, const std::string& what) {
    TArchiveSource source;
    ASSERT_TRUE(source.Open(path)) << what;
    ZipArchive zip;
    ASSERT_TRUE(OpenZip(source, OpenOptions{}, zip)) << what;
    ReadLocalHeaders(source, zip);
    for (const Finding& f : zip.findings) ADD_FAILURE() << what << ": " << f.code << " " << f.member << " " << f.text;
    std::map<std::string, std::string> want;
    for (const Member& m : built)
      if (!m.crc) want.emplace(m.name, m.data);  // the first intact entry of each name
    ASSERT_FALSE(zip.entries.empty()) << what;
    EXPECT_EQ(zip.entries.front().localHeaderPos, 0) << what;
    for (size_t i = 0; i < zip.entries.size(); ++i) {
      const ZipEntry& e = zip.entries[i];
      EXPECT_FALSE((e.flags | e.local.flags) & kFlagDataDescriptor) << what << ": " << e.name;
      EXPECT_EQ(e.descriptorEnd, e.dataEnd) << what << ": " << e.name;
      if (e.name == "META-INF/MANIFEST.MF") {
        EXPECT_LE(i, 1u) << what;
      }
      std::vector<uint8_t> data;
      EXPECT_TRUE(DecodeEntry(source, e, &data).ok()) << what << ": " << e.name;
      if (e.name != "META-INF/MANIFEST.MF") {
        EXPECT_EQ(std::string(data.begin(), data.end()), want[e.name]) << what << ": " << e.name;
      }
    }
  }
};

TEST_F(JarFixTest, EachCraftedArchiveGetsItsVerdictAndReadsCleanAfterTheFix) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string jar = Put("case.jar", Build(c.members, c.layout).bytes);
    const std::string before = Slurp(jar);
    JarExamination exam = ExamineJar(jar, c.options);
    // ExamineJar reads the signing from the JAD; the table gives it directly.
    if (c.options.midpSigned) exam.plan = PlanJarFix(*exam.old, c.options);
    EXPECT_EQ(exam.plan.verdict, c.verdict) << Said(exam.plan);
    for (const std::string& part : c.lines) EXPECT_NE(Said(exam.plan).find(part), std::string::npos) << Said(exam.plan);
    const JarFixResult r = FixJar(exam, c.options);
    EXPECT_EQ(r.written, c.verdict == TFixVerdict::NeedsFix) << r.error;
    if (!r.written) {
      EXPECT_EQ(Slurp(jar), before);
      continue;
    }
    ExpectClean(jar, c.members, c.name);
    JarExamination again = ExamineJar(jar, c.options);
    EXPECT_EQ(again.plan.verdict, TFixVerdict::AlreadyFine) << Said(again.plan);
  }
}

// A fix that leaves the copied members to the read-back comes to the same
// end: a damaged member is found there, named in the same words, and the
// JAR stays as it was with no file left beside it.
TEST_F(JarFixTest, DecodingOnlyOnTheReadBackEndsTheSameWay) {
  for (Case c : Cases()) {
    SCOPED_TRACE(c.name);
    c.options.checkOnReadBack = true;
    c.options.backup = false;
    const std::string jar = Put("case.jar", Build(c.members, c.layout).bytes);
    const std::string before = Slurp(jar);
    JarExamination exam = ExamineJar(jar, c.options);
    if (c.options.midpSigned) exam.plan = PlanJarFix(*exam.old, c.options);
    if (c.verdict == TFixVerdict::AlreadyFine) {
      EXPECT_EQ(exam.plan.verdict, TFixVerdict::AlreadyFine) << Said(exam.plan);
      EXPECT_TRUE(exam.plan.membersChecked);
    }
    const JarFixResult r = FixJar(exam, c.options);
    EXPECT_EQ(r.written, c.verdict == TFixVerdict::NeedsFix) << r.error;
    if (c.verdict == TFixVerdict::Refused) {
      for (const std::string& part : c.lines)
        EXPECT_NE((Said(exam.plan) + r.error).find(part), std::string::npos) << Said(exam.plan) << r.error;
    }
    if (r.written) {
      ExpectClean(jar, c.members, c.name);
    } else {
      EXPECT_EQ(Slurp(jar), before);
    }
    size_t files = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir_)) files += f.is_regular_file();
    EXPECT_EQ(files, 1u);
    std::filesystem::remove(jar);
  }
}

TEST_F(JarFixTest, BackupKeepsTheOldBytesAndTheJadSizeFollows) {
  std::vector<Member> last = Plain();
  std::rotate(last.begin(), last.begin() + 2, last.end());
  const std::string jar = Put("game.jar", Build(last).bytes);
  const std::string before = Slurp(jar);
  const std::string jadText = "MIDlet-Name: Fix\nMIDlet-Jar-Size: " + std::to_string(before.size()) + "\r\nX: y";
  Put("game.jad", std::vector<uint8_t>(jadText.begin(), jadText.end()));
  JarExamination exam = ExamineJar(jar, {});
  const JarFixResult r = FixJar(exam, {});
  ASSERT_TRUE(r.written) << r.error;
  EXPECT_EQ(Slurp(dir_ + "game.bak"), before);
  EXPECT_TRUE(r.jadUpdated);
  EXPECT_EQ(Slurp(dir_ + "game.jad"),
            "MIDlet-Name: Fix\nMIDlet-Jar-Size: " + std::to_string(Slurp(jar).size()) + "\r\nX: y");
}

TEST_F(JarFixTest, AFailedWriteLeavesJarAndJadAsTheyWere) {
  std::vector<Member> last = Plain();
  std::rotate(last.begin(), last.begin() + 2, last.end());
  const std::string jar = Put("game.jar", Build(last).bytes);
  const std::string jadText = "MIDlet-Jar-Size: " + std::to_string(Slurp(jar).size()) + "\n";
  Put("game.jad", std::vector<uint8_t>(jadText.begin(), jadText.end()));
  const std::string before = Slurp(jar);
  JarExamination exam = ExamineJar(jar, {});
  ASSERT_EQ(exam.plan.verdict, TFixVerdict::NeedsFix);
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);  // no new file can be made beside the JAR
  const JarFixResult r = FixJar(exam, {});
  chmod(dir_.c_str(), 0755);
  if (geteuid() != 0) {
    EXPECT_FALSE(r.written);
    EXPECT_FALSE(r.error.empty());
  }
  if (!r.written) {
    EXPECT_EQ(Slurp(jar), before);
    EXPECT_EQ(Slurp(dir_ + "game.jad"), jadText);
  }
}

TEST(JadJarSize, OnlyTheValueOfAMatchingLineChanges) {
  struct Row {
    const char* jad;
    int64_t oldSize, newSize;
    std::optional<std::string> want;
  } rows[] = {
      {"MIDlet-Jar-Size: 100\r\n", 100, 90, "MIDlet-Jar-Size: 90\r\n"},
      {"A: b\nMIDlet-Jar-Size:100\nC: d", 100, 1234, "A: b\nMIDlet-Jar-Size:1234\nC: d"},
      {"MIDlet-Jar-Size:  100  \r", 100, 7, "MIDlet-Jar-Size:  7  \r"},
      {"MIDlet-Jar-Size: 100", 100, 99, "MIDlet-Jar-Size: 99"},
      {"MIDlet-Jar-Size: 101\n", 100, 99, std::nullopt},  // another size: the JAD is about another JAR
      {"MIDlet-Jar-Size: 100x\n", 100, 99, std::nullopt},
      {"MIDlet-Jar-Size: 5\nMIDlet-Jar-Size: 100\n", 100, 99, std::nullopt},  // readers take the first
      {"MIDlet-Jar-URL: a.jar\n", 100, 99, std::nullopt},
      {"", 100, 99, std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(UpdateJadJarSize(r.jad, r.oldSize, r.newSize), r.want) << r.jad;
}

}  // namespace
