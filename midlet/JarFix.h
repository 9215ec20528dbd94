// Repairing and normalising a JAR so that strict readers (a phone, an
// emulator, the JDK's JarInputStream) accept it: the manifest first, local
// headers that agree with the directory, no data descriptors, no bytes in
// front, every member's compressed bytes copied as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/read/ZipMember.h"
#include "engine/write/UpdatePlan.h"

namespace parcelix {

struct JarFixOptions {
  bool salvage = false;             // write the intact members of a damaged JAR, drop later duplicates
  bool deflate64ToDeflate = false;  // decode Deflate64 members and deflate them again
  bool breakSignature = false;      // fix a JAR its JAD signs, although the signature then breaks
  bool backup = true;               // keep the old JAR as .bak
  bool midpSigned = false;          // the JAD beside the JAR signs it (set by ExamineJar)
  // The members copied as they are get decoded once, by the read-back of
  // the written JAR, instead of also while planning. A JAR that needs no
  // change is still decoded in full before it is called fine.
  bool checkOnReadBack = false;
};

enum class TFixVerdict : uint8_t { AlreadyFine, NeedsFix, Refused };

// What a JAR needs, in plain words, and the plan that writes it.
struct JarFixPlan {
  TFixVerdict verdict = TFixVerdict::AlreadyFine;
  std::vector<std::string> changes;  // what the fix changes
  std::vector<std::string> notes;    // what it reports and leaves as it is
  std::vector<std::string> lost;     // members left out, "NAME (why)"
  std::string refusal;               // why the JAR is left as it is
  std::vector<TPlanStep> steps;
  bool manifestChanged = false;
  bool membersChecked = true;  // false: the copied members are decoded only by the read-back
};

// Decodes the member e of source (its data start known from its local
// header) and checks its CRC; the bytes go to out when it is given.
TMemberResult DecodeEntry(TArchiveSource& source, const ZipEntry& e, std::vector<uint8_t>* out = nullptr);

// Which changes the opened JAR needs. Reads every member (decoded and
// CRC-checked) and writes nothing.
JarFixPlan PlanJarFix(TOldArchive& old, const JarFixOptions& options);

// One JAR examined: the archive held open, its JAD and its plan. Reads only,
// so JARs can be examined apart from the order they are fixed in.
struct JarExamination {
  std::string jar;
  std::unique_ptr<TOldArchive> old;
  std::string jadPath;  // the JAD beside the JAR, "" when there is none
  std::string jadText;  // as read
  JarFixPlan plan;
};
JarExamination ExamineJar(const std::string& jar, JarFixOptions options);

struct JarFixResult {
  bool written = false;
  std::string error;       // why the JAR was left as it is
  std::string backupPath;  // "" when none was kept
  bool jadUpdated = false;
  int64_t newSize = 0;
};

// Writes the fix of an examined JAR that needs one: a temporary archive
// beside the JAR, read back with every member decoded and CRC-checked, then
// one rename over the JAR (the old one kept as .bak with options.backup), and
// the JAD's MIDlet-Jar-Size updated when it gave the old size. On any failure
// the JAR and its JAD stay byte for byte as they were.
JarFixResult FixJar(JarExamination& exam, const JarFixOptions& options);

// The JAD text with the value of its MIDlet-Jar-Size line replaced by
// newSize when it is oldSize; every other byte (line ends, order, other
// lines) kept. nullopt when the JAD has no such line or gives another size.
std::optional<std::string> UpdateJadJarSize(std::string_view jad, int64_t oldSize, int64_t newSize);

}  // namespace parcelix
