// The archive half of the audit: structure, members and the manifest's place.
#include "midlet/AuditJarScan.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/ZipMember.h"
#include "midlet/Audit.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

AuditSeverity SeverityOf(TSeverity s) { return s == TSeverity::error ? AuditSeverity::error : AuditSeverity::warning; }

std::string Quoted(const std::string& member) { return "\"" + member + "\""; }

// Findings about members, listed for the first kAuditMemberListLimit of a
// code and then counted, so a hostile archive of a million bad members
// gives a readable report.
class MemberFindings {
 public:
  explicit MemberFindings(std::vector<AuditFinding>& out) : out_(out) {}
  ~MemberFindings() {
    for (const auto& [code, extra] : over_)
      out_.push_back({code, extra.second, "and " + std::to_string(extra.first) + " more members"});
  }
  void Add(const std::string& code, AuditSeverity severity, std::string text) {
    if (listed_[code]++ < kAuditMemberListLimit) {
      out_.push_back({code, severity, std::move(text)});
      return;
    }
    auto& extra = over_[code];
    ++extra.first;
    extra.second = severity;
  }

 private:
  std::vector<AuditFinding>& out_;
  std::map<std::string, size_t> listed_;
  std::map<std::string, std::pair<size_t, AuditSeverity>> over_;
};

bool IsManifestFileName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  return SameTextAscii(slash == std::string::npos ? name : name.substr(slash + 1), "MANIFEST.MF");
}

}  // namespace

bool TJarScan::Open(const std::string& path, std::vector<AuditFinding>& findings) {
  if (!source_.Open(path)) {
    findings.push_back({"unreadable", AuditSeverity::error,
                        std::string("the file cannot be read: ") + std::strerror(source_.Errno())});
    return false;
  }
  where_ = LocateEndRecord(source_);
  if (!OpenZip(source_, where_, OpenOptions{}, zip_)) {
    findings.push_back({"not-zip", AuditSeverity::error, "the file holds no ZIP archive"});
    return false;
  }
  ReadLocalHeaders(source_, zip_);
  sortedNames_ = MemberNames();
  std::sort(sortedNames_.begin(), sortedNames_.end());
  manifestIndex_ = ManifestIndex();
  manifestFound = manifestIndex_ >= 0;
  if (manifestFound) manifestName = zip_.entries[size_t(manifestIndex_)].name;
  return true;
}

// The member that every command takes for the manifest (PickManifest over
// the members named MANIFEST.MF in any folder and any case).
int TJarScan::ManifestIndex() const {
  std::vector<std::string> names;
  std::vector<size_t> index;
  for (size_t i = 0; i < zip_.entries.size(); ++i) {
    if (!IsManifestFileName(zip_.entries[i].name)) continue;
    names.push_back(zip_.entries[i].name);
    index.push_back(i);
  }
  const int pick = PickManifest(names);
  return pick < 0 ? -1 : int(index[size_t(pick)]);
}

std::vector<size_t> TJarScan::FileOrder() const {
  std::vector<size_t> order(zip_.entries.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return zip_.entries[a].localHeaderPos < zip_.entries[b].localHeaderPos;
  });
  return order;
}

std::vector<std::string> TJarScan::MemberNames() const {
  std::vector<std::string> names;
  names.reserve(zip_.entries.size());
  for (const ZipEntry& e : zip_.entries) names.push_back(e.name);
  return names;
}

bool TJarScan::HasMember(const std::string& name) const {
  return std::binary_search(sortedNames_.begin(), sortedNames_.end(), name);
}

// ------------------------------------------------------------- structure

// Bit 3 promises a data descriptor after the data; some writers set it and
// write none, so the next record follows at once. Java's stream reader and
// Info-ZIP's unzip then take the next header for the descriptor and fail.
bool TJarScan::DescriptorAbsent(const ZipEntry& e) {
  if (!e.localFound || !((e.flags | e.local.flags) & kFlagDataDescriptor)) return false;
  if (e.dataEnd < 0 || e.dataEnd + 4 > source_.Size()) return false;
  uint8_t b[4];
  if (source_.ReadAt(e.dataEnd, b, 4) != 4) return false;
  const uint32_t sig = GetLE32(b);
  return sig == kSigLocal || sig == kSigCentral || sig == kSigEnding || sig == kSigZip64Ending;
}

// Bytes in front of the first local header (a self-extractor's stub, a
// download page) and a central directory whose recorded offset is wrong.
void TJarScan::CheckPrefix(std::vector<AuditFinding>& findings) const {
  int64_t first = -1;
  for (const ZipEntry& e : zip_.entries)
    if (e.localFound && (first < 0 || e.localHeaderPos < first)) first = e.localHeaderPos;
  if (first > 0)
    findings.push_back({"prefix-bytes", AuditSeverity::error,
                        std::to_string(first) + " bytes stand before the first local header; Java's stream reader "
                        "and many phones find no members"});
  // The directory's recorded offset is wrong unless it is off by exactly the
  // bytes in front (an archive that was prefixed after it was written).
  const int64_t off = where_.HasDirectory() ? where_.directoryStart - where_.recordedStart : 0;
  if (off != 0 && off != first)
    findings.push_back({"bad-directory-offset", AuditSeverity::error,
                        "the end record puts the central directory at offset " + std::to_string(where_.recordedStart) +
                            ", it starts at " + std::to_string(where_.directoryStart)});
  else if (zip_.layout.offsetCorrection != 0)
    findings.push_back({"bad-directory-offset", AuditSeverity::error,
                        "the central directory's entries give local header offsets that are off by " +
                            std::to_string(zip_.layout.offsetCorrection) + " bytes"});
}

void TJarScan::CheckStructure(std::vector<AuditFinding>& findings) {
  std::vector<std::string> noDescriptor;
  for (const ZipEntry& e : zip_.entries)
    if (DescriptorAbsent(e)) noDescriptor.push_back(e.name);
  {
    MemberFindings members(findings);
    for (const std::string& name : noDescriptor)
      members.Add("descriptor-flag-without-descriptor", AuditSeverity::error,
                  Quoted(name) + ": the header says a data descriptor follows the data, but none does");
    for (const Finding& f : zip_.findings) {
      std::string code = f.code;
      if (code == "bytes-before-archive") continue;  // told by CheckPrefix
      const bool descriptor = code == "descriptor-missing" || code == "descriptor-mismatch";
      if (descriptor && std::find(noDescriptor.begin(), noDescriptor.end(), f.member) != noDescriptor.end()) continue;
      if (code == "end-record-missing" || code == "data-beyond-file" || code == "descriptor-missing") code = "truncated";
      if (code == "directory-missing") code = "bad-directory-offset";
      if (f.member.empty())
        findings.push_back({code, SeverityOf(f.severity), f.text});
      else
        members.Add(code, SeverityOf(f.severity), Quoted(f.member) + ": " + f.text);
    }
  }
  CheckPrefix(findings);
}

// ------------------------------------------------------------- members

// Decodes one member; its bytes go nowhere, or up to limit of them to keep.
TMemberResult TJarScan::Decode(const ZipEntry& e, TArchiveStream& in, std::vector<uint8_t>* keep, size_t limit) {
  in.SetPosition(e.dataStart);
  TInflateJob job;
  job.Archive = &in;
  job.CompressedSize = int64_t(std::min<uint64_t>(e.compressedSize, uint64_t(source_.Size() - e.dataStart)));
  job.UncompressedSize = int64_t(std::min<uint64_t>(e.uncompressedSize, uint64_t(INT64_MAX)));
  job.Output = [keep, limit](const uint8_t* b, uint32_t n) -> uint32_t {
    if (keep && keep->size() < limit) keep->insert(keep->end(), b, b + std::min<size_t>(n, limit - keep->size()));
    return n;
  };
  return DecodeMember(std::move(job), e.method, e.crc32);
}

void TJarScan::DecodeMembers(std::vector<AuditFinding>& findings) {
  TArchiveStream in(source_);
  size_t deflate64 = 0;
  std::string firstDeflate64;
  {
    MemberFindings members(findings);
    for (size_t i : FileOrder()) {
      const ZipEntry& e = zip_.entries[i];
      if (e.method == 9 && deflate64++ == 0) firstDeflate64 = e.name;
      // Members whose data cannot be reached have findings of their own.
      if (!e.localFound || e.dataStart < 0 || e.dataEnd > source_.Size() || e.Encrypted()) continue;
      const bool isManifest = int(i) == manifestIndex_;
      const TMemberResult r = Decode(e, in, isManifest ? &manifest : nullptr, kAuditManifestLimit);
      if (isManifest) {
        manifestIntact = r.ok();
        manifestCut = r.written > int64_t(kAuditManifestLimit);
      }
      if (r.status == TMemberStatus::msCrcMismatch)
        members.Add("crc-error", AuditSeverity::error, Quoted(e.name) + ": fails its CRC check");
      else if (r.status == TMemberStatus::msShort)
        members.Add("bad-member", AuditSeverity::error,
                    Quoted(e.name) + ": decodes to " + std::to_string(r.written) + " of " +
                        std::to_string(e.uncompressedSize) + " bytes");
      else if (r.status == TMemberStatus::msUnsupportedMethod)
        members.Add("bad-member", AuditSeverity::error,
                    Quoted(e.name) + ": compression method " + std::to_string(e.method) + " cannot be decoded");
    }
  }
  if (deflate64 > 0)
    findings.push_back({"deflate64", AuditSeverity::error,
                        std::to_string(deflate64) + (deflate64 == 1 ? " member is" : " members are") +
                            " compressed with Deflate64 (" + Quoted(firstDeflate64) +
                            (deflate64 == 1 ? "" : " and others") + "), which the JDK and most phones cannot read"});
}

bool TJarScan::ReadMember(const std::string& name, std::vector<uint8_t>& bytes, size_t limit) {
  bytes.clear();
  for (const ZipEntry& e : zip_.entries) {
    if (e.name != name) continue;
    if (!e.localFound || e.dataStart < 0 || e.dataEnd > source_.Size() || e.uncompressedSize > limit) return false;
    TArchiveStream in(source_);
    return Decode(e, in, &bytes, limit).ok();
  }
  return false;
}

// ------------------------------------------------------------- manifest place

void TJarScan::CheckManifestPlace(std::vector<AuditFinding>& findings) const {
  if (!manifestFound) {
    findings.push_back({"no-manifest", AuditSeverity::error, "the JAR has no META-INF/MANIFEST.MF"});
    return;
  }
  if (manifestName != "META-INF/MANIFEST.MF") {
    const bool caseOnly = SameTextAscii(manifestName, "META-INF/MANIFEST.MF");
    findings.push_back({"manifest-misnamed", caseOnly ? AuditSeverity::warning : AuditSeverity::error,
                        "the manifest is stored as " + Quoted(manifestName) +
                            (caseOnly ? "; Java finds it, phones that compare names exactly do not"
                                      : "; Java and phones look for META-INF/MANIFEST.MF")});
    if (!caseOnly) return;
  }
  // Java's JarInputStream takes the manifest only from the first entry, or
  // the second when the first is the folder META-INF/.
  const std::vector<size_t> order = FileOrder();
  size_t at = 0;
  if (order.size() > 1 && SameTextAscii(zip_.entries[order[0]].name, "META-INF/")) at = 1;
  if (int(order[at]) != manifestIndex_)
    findings.push_back({"manifest-not-first", AuditSeverity::warning,
                        "the manifest is not the first entry (or the second after META-INF/), so Java's "
                        "JarInputStream does not find it"});
}

}  // namespace parcelix
