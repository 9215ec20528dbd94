// The fix of a JAR: what it needs (read only) and the plan that writes it.
#include "midlet/JarFix.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/common/arxGbls.h"
#include "engine/read/ArchiveSource.h"
#include "engine/read/ZipMember.h"
#include "midlet/JarFixText.h"
#include "midlet/JarSignature.h"

namespace parcelix {

namespace {

constexpr uint8_t kBom[] = {0xEF, 0xBB, 0xBF};
constexpr std::string_view kManifestName = "META-INF/MANIFEST.MF";
constexpr uint16_t kMethodDeflate64 = 9;
constexpr uint32_t kNoFit32 = 0xFFFFFFFFu;
// Members decoded into memory to be written again: a manifest up to this
// size (as every command reads it), a Deflate64 member up to the next.
constexpr uint64_t kMaxManifest = 16u << 20;
constexpr uint64_t kMaxReencode = 256u << 20;

// A name no reader may be given as a path: empty, with NUL, absolute, climbing out.
bool UnsafeName(const std::string& n) {
  return n.empty() || n.find('\0') != std::string::npos || n.front() == '/' || n == ".." ||
         n.starts_with("../") || n.find("/../") != std::string::npos || n.ends_with("/..");
}

// Why a decode of e did not give its bytes, in words ("" when it did).
std::string MemberProblem(const TMemberResult& r, const ZipEntry& e) {
  switch (r.status) {
    case TMemberStatus::msOk: return "";
    case TMemberStatus::msCrcMismatch: return "it fails its CRC check";
    case TMemberStatus::msShort: return "its data are damaged or cut off";
    case TMemberStatus::msUnsupportedMethod: return "its compression method " + std::to_string(e.method) + " cannot be decoded";
    case TMemberStatus::msCancelled: return "cancelled";
  }
  return "it cannot be decoded";
}

// Why entry e cannot be copied from where it is stored ("" when it can),
// from its name and the recorded places and sizes alone.
std::string Unplaceable(TOldArchive& old, const ZipEntry& e) {
  if (UnsafeName(e.name)) return "its name is not a safe path";
  if (!e.localFound || e.dataStart < 0 || e.dataEnd < e.dataStart || e.dataEnd > old.Size())
    return "its data cannot be found";
  if (e.uncompressedSize > uint64_t(INT64_MAX) || e.compressedSize > uint64_t(old.Size()))
    return "its recorded sizes do not fit in the file";
  return "";
}

// Why entry e cannot be written from what is stored ("" when it can): its
// data are found and decode to the recorded CRC. The decoded bytes go to
// keep when it is given.
std::string CheckMember(TOldArchive& old, const ZipEntry& e, std::vector<uint8_t>* keep) {
  if (std::string why = Unplaceable(old, e); !why.empty()) return why;
  if (keep) keep->reserve(size_t(std::min<uint64_t>(e.uncompressedSize, 1 << 26)));
  return MemberProblem(DecodeEntry(old.Source(), e, keep), e);
}

// The manifest with a byte-order mark removed and the last line ended (in
// the line end the manifest uses); nothing else changes.
std::vector<uint8_t> RepairManifest(const std::vector<uint8_t>& in, std::vector<std::string>& changes) {
  std::vector<uint8_t> out = in;
  if (out.size() >= 3 && std::equal(std::begin(kBom), std::end(kBom), out.begin())) {
    out.erase(out.begin(), out.begin() + 3);
    changes.push_back("removed the byte-order mark of META-INF/MANIFEST.MF");
  }
  if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
    const auto lf = std::find(out.begin(), out.end(), '\n');
    const auto cr = std::find(out.begin(), out.end(), '\r');
    std::string end = "\r\n";
    if (lf != out.end() && (cr == out.end() || lf < cr)) end = "\n";
    else if (cr != out.end() && (cr + 1 == out.end() || cr[1] != '\n')) end = "\r";
    out.insert(out.end(), end.begin(), end.end());
    changes.push_back("ended the last line of META-INF/MANIFEST.MF (the JDK drops an unterminated last line)");
  }
  return out;
}

// The entry is stored as a clean writer stores it: its local header agrees
// with the directory in every field, no descriptor, no zip64 field that no
// value needs, and nothing found wrong with it.
bool CleanEntry(const TOldArchive& old, int i, const std::vector<bool>& flagged) {
  const ZipEntry& e = old.Entries()[size_t(i)];
  const LocalHeader& l = e.local;
  return old.Uncopyable(i).empty() && !old.LocalNameMissing(i) && !flagged[size_t(i)] && e.fromCentral &&
         e.localMatches && !((e.flags | l.flags) & kFlagDataDescriptor) && e.descriptorEnd == e.dataEnd &&
         l.flags == e.central.flags && l.method == e.method && l.crc32 == e.crc32 &&
         l.compressedSize == e.compressedSize && l.uncompressedSize == e.uncompressedSize &&
         e.central.compressedSize == e.compressedSize && e.central.uncompressedSize == e.uncompressedSize &&
         e.central.localHeaderOffset != kNoFit32 && e.centralExtra.zip64Blocks == 0;
}

// Why entry i is restamped, counted by kind.
struct RestampCounts {
  int descriptor = 0, local = 0, zip64 = 0;
  void Count(const ZipEntry& e) {
    const bool d = ((e.flags | e.local.flags) & kFlagDataDescriptor) || e.descriptorEnd != e.dataEnd;
    const bool z = e.centralExtra.zip64Blocks > 0 || e.local.compressedSize == kNoFit32;
    descriptor += d;
    zip64 += z;
    local += !d && !z;
  }
};

// The end record gives the directory where it was found (less the bytes in
// front); a zip64 end record's offset is judged by the reader.
bool RecordedStartRight(TOldArchive& old, const ZipLayout& l) {
  uint8_t b[kEndRecordSize];
  EndRecord end;
  if (l.zip64 || l.endRecordPos < 0 || old.Source().ReadAt(l.endRecordPos, b, sizeof b) != sizeof b ||
      !end.Parse(b) || end.directoryOffset == kNoFit32)
    return true;
  return int64_t(end.directoryOffset) + l.prefixAdjust == l.directoryStart;
}

class Planner {
 public:
  Planner(TOldArchive& old, const JarFixOptions& o)
      : old_(old), o_(o), entries_(old.Entries()), defer_(o.checkOnReadBack && !o.salvage) {}
  JarFixPlan Run();

 private:
  bool CheckMembers();
  void FindDuplicates();
  std::vector<int> Order();
  void Layout();
  void Steps(const std::vector<int>& order);
  void Signatures();
  bool Refuse(std::string why) {
    plan_.verdict = TFixVerdict::Refused;
    plan_.refusal = std::move(why);
    return false;
  }

  TOldArchive& old_;
  const JarFixOptions& o_;
  const std::vector<ZipEntry>& entries_;
  const bool defer_;  // copied members are decoded by the read-back, not here
  JarFixPlan plan_;
  int manifest_ = -1, folder_ = -1;
  std::vector<uint8_t> manifestText_;
  bool manifestRead_ = false;
  std::map<int, std::vector<uint8_t>> decoded_;  // members written again (Deflate64)
  std::vector<std::string> damage_;              // per entry, "" when intact
  std::vector<bool> drop_, flagged_;
};

JarFixPlan Planner::Run() {
  drop_.assign(entries_.size(), false);
  flagged_.assign(entries_.size(), false);
  for (const Finding& f : old_.Zip().findings)
    if (!f.member.empty())
      for (size_t i = 0; i < entries_.size(); ++i) flagged_[i] = flagged_[i] || entries_[i].name == f.member;
  if (!CheckMembers()) return plan_;
  FindDuplicates();
  const std::vector<int> order = Order();
  Layout();
  Steps(order);
  if (plan_.changes.empty() && defer_) {
    // Nothing would be written, so no read-back would decode the members:
    // they are decoded here before the JAR is called fine.
    JarFixOptions now = o_;
    now.checkOnReadBack = false;
    return Planner(old_, now).Run();
  }
  plan_.membersChecked = !defer_;
  if (plan_.changes.empty()) return plan_;
  plan_.verdict = TFixVerdict::NeedsFix;
  Signatures();
  return plan_;
}

// Every member decoded and CRC-checked: a damaged one refuses the fix, or
// with salvage is left out and named.
bool Planner::CheckMembers() {
  damage_.assign(entries_.size(), {});
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ZipEntry& e = entries_[i];
    if (e.Encrypted()) return Refuse(e.name + " is encrypted; Parcelix does not decrypt it and cannot check it");
    const bool reencode =
        o_.deflate64ToDeflate && e.method == kMethodDeflate64 && e.uncompressedSize <= kMaxReencode;
    // The manifest is the first intact member of its name, in any letter case.
    const bool manifest = manifest_ < 0 && SameTextAscii(e.name, kManifestName);
    const bool repair = manifest && e.uncompressedSize <= kMaxManifest;
    std::vector<uint8_t> bytes;
    damage_[i] = defer_ && !repair && !reencode ? Unplaceable(old_, e)
                                                            : CheckMember(old_, e, repair || reencode ? &bytes : nullptr);
    if (!damage_[i].empty()) {
      if (!o_.salvage) return Refuse(e.name + ": " + damage_[i] + "; --salvage writes the intact members");
      drop_[i] = true;
      plan_.lost.push_back(e.name + " (" + damage_[i] + ")");
      continue;
    }
    if (manifest) manifest_ = int(i);
    if (repair) {
      manifestText_ = bytes;
      manifestRead_ = true;
    }
    if (reencode) decoded_[int(i)] = std::move(bytes);
  }
  if (o_.salvage && std::all_of(drop_.begin(), drop_.end(), [](bool d) { return d; }))
    return Refuse("no member could be read whole");
  for (const std::string& l : plan_.lost) plan_.changes.push_back("left out " + l);
  return true;
}

// A name stored again after its first entry: readers take the first.
void Planner::FindDuplicates() {
  std::map<std::string, int> seen, count;
  std::set<std::string> lost, replaced;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (drop_[i]) {
      lost.insert(entries_[i].name);
      continue;
    }
    if (seen.emplace(entries_[i].name, int(i)).second) {
      // A later entry now gives the name of one left out: readers get other bytes.
      if (lost.count(entries_[i].name) && replaced.insert(entries_[i].name).second)
        plan_.changes.push_back("kept a later entry named " + entries_[i].name + " in place of the one left out");
      continue;
    }
    ++count[entries_[i].name];
    if (o_.salvage) drop_[i] = true;
  }
  for (const auto& [name, more] : count) {
    const std::string n = std::to_string(more) + (more == 1 ? " later entry" : " later entries");
    if (o_.salvage) plan_.changes.push_back("dropped " + n + " named " + name + " (the first is kept)");
    else plan_.notes.push_back(name + " is stored " + std::to_string(more + 1) +
                               " times; readers take the first (--salvage drops the others)");
  }
}

// META-INF/ and the manifest first, every other entry in its old order.
std::vector<int> Planner::Order() {
  for (size_t i = 0; i < entries_.size() && folder_ < 0; ++i)
    if (!drop_[i] && SameTextAscii(entries_[i].name, "META-INF/")) folder_ = int(i);
  std::vector<int> order;
  for (const int first : {folder_, manifest_})
    if (first >= 0 && !drop_[size_t(first)]) order.push_back(first);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (int(i) != folder_ && int(i) != manifest_ && !drop_[i]) order.push_back(int(i));
  return order;
}

void Planner::Steps(const std::vector<int>& order) {
  std::vector<int> kept;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!drop_[i]) kept.push_back(int(i));
  if (order != kept) plan_.changes.push_back("put META-INF/ and META-INF/MANIFEST.MF first");
  if (manifestRead_ && !drop_[size_t(manifest_)]) {
    std::vector<uint8_t> fixed = RepairManifest(manifestText_, plan_.changes);
    plan_.manifestChanged = fixed != manifestText_;
    if (plan_.manifestChanged) decoded_[manifest_] = std::move(fixed);
  }
  RestampCounts counts;
  int reencoded = 0;
  for (const int i : order) {
    const ZipEntry& e = entries_[size_t(i)];
    TPlanStep step;
    step.old = i;
    const auto d = decoded_.find(i);
    if (d != decoded_.end()) {
      step.kind = TPlanStep::Kind::Bytes;
      step.data = std::move(d->second);
      step.name.assign(e.rawName.begin(), e.rawName.end());
      step.dosDateTime = e.central.dosDateTime;
      step.externalAttributes = e.central.externalAttributes;
      step.versionMadeBy = e.central.versionMadeBy;
      reencoded += e.method == kMethodDeflate64;
    } else if (CleanEntry(old_, i, flagged_)) {
      step.kind = TPlanStep::Kind::Copy;
    } else {
      step.kind = TPlanStep::Kind::Restamp;
      counts.Count(e);
    }
    plan_.steps.push_back(std::move(step));
  }
  PutRestampChanges(counts.descriptor, counts.local, counts.zip64, plan_.changes);
  if (reencoded) plan_.changes.push_back(CountText(reencoded, "Deflate64 member", "Deflate64 members") +
                                         " decoded and deflated again (the JDK and phones cannot read Deflate64)");
  const long left = std::count_if(entries_.begin(), entries_.end(), [&](const ZipEntry& e) {
    return e.method == kMethodDeflate64;
  }) - reencoded;
  if (left > 0)
    plan_.notes.push_back(CountText(int(left), "member uses", "members use") +
                          " Deflate64, which the JDK and phones cannot read" +
                          (o_.deflate64ToDeflate ? " (too large to be re-encoded here)"
                                                 : "; --deflate64-to-deflate re-encodes them"));
}

// The archive as a whole: bytes in front, between and after the entries,
// the directory and end records.
void Planner::Layout() {
  const ZipLayout& l = old_.Zip().layout;
  if (old_.PrefixLength() > 0)
    plan_.changes.push_back("removed " + CountText(old_.PrefixLength(), "byte", "bytes") +
                            " in front of the first member");
  if (l.localWalk) plan_.changes.push_back("wrote the central directory again from the local headers");
  // Offsets the reader had to correct (beyond the bytes in front) are wrong as recorded.
  else if (l.prefixAdjust != old_.PrefixLength() || l.offsetCorrection != 0 || !RecordedStartRight(old_, l))
    plan_.changes.push_back("corrected the offsets the directory and end record give");
  for (const Finding& f : old_.Zip().findings)
    if (f.member.empty() && f.code != "bytes-before-archive")
      plan_.changes.push_back("wrote the directory records again (" + f.text + ")");
  if (l.localWalk) return;
  // The entries back to back from the first, the directory right after them.
  std::vector<std::pair<int64_t, int64_t>> spans;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!drop_[i]) spans.emplace_back(entries_[i].localHeaderPos, entries_[i].descriptorEnd);
  std::sort(spans.begin(), spans.end());
  int64_t unused = 0, at = old_.PrefixLength();
  for (const auto& [from, to] : spans) {
    unused += std::max<int64_t>(from - at, 0);
    at = std::max(at, to);
  }
  unused += std::max<int64_t>(l.directoryStart - at, 0);
  if (unused > 0)
    plan_.changes.push_back("removed " + CountText(unused, "unused byte", "unused bytes") + " between the members");
  const bool zip64Needed = entries_.size() >= 0xFFFF || l.directoryStart >= int64_t(kNoFit32) ||
                           l.directorySize >= kNoFit32;
  if (l.zip64 && !zip64Needed) plan_.changes.push_back("dropped the zip64 end records no value needs");
  else if (!l.zip64 && l.directoryEnd != l.endRecordPos && l.endRecordPos >= 0)
    plan_.changes.push_back("removed the bytes between the central directory and the end record");
  if (l.endRecordPos >= 0 && l.commentPos + l.commentLength < l.archiveSize)
    plan_.changes.push_back("removed " + CountText(l.archiveSize - l.commentPos - l.commentLength, "byte", "bytes") +
                            " after the end of the archive");
}

// A MIDP signature (in the JAD) breaks with any change; a Java one only
// when the manifest bytes change.
void Planner::Signatures() {
  if (o_.midpSigned && !o_.breakSignature) {
    Refuse("its JAD signs it (MIDlet-Jar-RSA-SHA1) and a fix changes its bytes, which breaks the signature; "
           "--break-signature fixes it anyway");
    return;
  }
  if (o_.midpSigned) plan_.notes.push_back("the MIDP signature in the JAD no longer matches the fixed JAR");
  std::vector<std::string> names;
  for (const ZipEntry& e : entries_) names.push_back(e.name);
  if (plan_.manifestChanged && HasJarSignature(names))
    plan_.notes.push_back("the manifest changed, so the JAR's signature (META-INF/*.SF) no longer matches it");
}

}  // namespace

TMemberResult DecodeEntry(TArchiveSource& source, const ZipEntry& e, std::vector<uint8_t>* out) {
  TArchiveStream stream(source);
  stream.SetPosition(e.dataStart);
  TInflateJob job;
  job.Archive = &stream;
  job.CompressedSize = int64_t(std::min<uint64_t>(e.compressedSize, INT64_MAX));
  job.UncompressedSize = int64_t(std::min<uint64_t>(e.uncompressedSize, INT64_MAX));
  job.Output = [out](const uint8_t* b, uint32_t n) {
    if (out) out->insert(out->end(), b, b + n);
    return n;
  };
  return DecodeMember(std::move(job), e.method, e.crc32);
}

JarFixPlan PlanJarFix(TOldArchive& old, const JarFixOptions& options) { return Planner(old, options).Run(); }

}  // namespace parcelix
