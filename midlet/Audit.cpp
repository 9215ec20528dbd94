// The collection audit of one JAR: the archive (AuditJarScan.cpp), then the
// manifest's text and MIDP attributes, then the JAD beside it (AuditJad.cpp),
// then the signatures.
#include "midlet/Audit.h"

#include <sys/stat.h>

#include <algorithm>
#include <span>
#include <vector>

#include "engine/common/arxGbls.h"
#include "midlet/AuditJarScan.h"
#include "midlet/CodePage.h"
#include "midlet/AuditSteps.h"
#include "midlet/JadText.h"
#include "midlet/JarSignature.h"

namespace parcelix {

bool AuditResult::HasError() const {
  return std::any_of(findings.begin(), findings.end(),
                     [](const AuditFinding& f) { return f.severity == AuditSeverity::error; });
}

namespace {

constexpr size_t kSignatureMemberLimit = 16u << 20;

// What Java's manifest reader and the JAR rules make of the text itself.
void CheckManifestText(const AttributeText& t, bool cut, std::vector<AuditFinding>& out) {
  if (cut)
    out.push_back({"manifest-too-large", AuditSeverity::warning,
                   "the manifest is larger than " + std::to_string(kAuditManifestLimit >> 20) +
                       " MiB; only its start was checked"});
  if (t.bom)
    out.push_back({"manifest-bom", AuditSeverity::warning,
                   "the manifest begins with a byte-order mark, which Java takes for part of the first name"});
  if (t.nul)
    out.push_back({"manifest-nul", AuditSeverity::error,
                   "the manifest holds a NUL byte; readers stop there or refuse the manifest"});
  if (t.longestWithEnd > 512)
    out.push_back({"manifest-long-line", AuditSeverity::error,
                   "a line of " + std::to_string(t.longestLine) +
                       " bytes; Java's manifest reader fails on lines over 512 bytes"});
  else if (t.longestLine > 72)
    out.push_back({"manifest-long-line", AuditSeverity::warning,
                   "a line of " + std::to_string(t.longestLine) + " bytes; the JAR rules allow 72"});
  if (!t.finalLineEnd)
    out.push_back({"manifest-no-final-newline", AuditSeverity::error,
                   "the manifest's last line has no line end; Java's manifest reader drops or refuses it"});
  if (!t.validUtf8)
    out.push_back({"not-utf8", AuditSeverity::warning,
                   "the manifest holds bytes that are not UTF-8; Java and phones show them garbled"});
  if (t.malformedLines > 0)
    out.push_back({"manifest-bad-line", AuditSeverity::error,
                   std::to_string(t.malformedLines) + " line(s) of the main section are not \"Name: value\""});
}

// The attributes every MIDlet suite carries, in the manifest (the first
// three) or in the manifest or the JAD (the others).
void CheckRequired(const AttributeText& mf, const AttributeText* jad, std::vector<AuditFinding>& out) {
  for (const char* name : {"MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor"})
    if (!FindAttribute(mf.attributes, name))
      out.push_back({"missing-attribute", AuditSeverity::error, std::string("the manifest has no ") + name});
  for (const char* name : {"MIDlet-1", "MicroEdition-Profile", "MicroEdition-Configuration"})
    if (!FindAttribute(mf.attributes, name) && !(jad && FindAttribute(jad->attributes, name)))
      out.push_back({"missing-attribute", AuditSeverity::error,
                     std::string("neither the manifest nor a JAD has ") + name});
  const std::string* version = FindAttribute(mf.attributes, "MIDlet-Version");
  if (version && !IsMidletVersion(*version))
    out.push_back({"bad-version", AuditSeverity::error,
                   "MIDlet-Version \"" + *version + "\" is not major.minor[.micro] with parts 0-99"});
}

bool IsMidletNumber(const std::string& name) {
  return name.size() > 7 && name.starts_with("MIDlet-") &&
         std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void CheckIcon(const TJarScan& scan, const std::string& attribute, std::string_view icon,
               std::vector<AuditFinding>& out) {
  icon = TrimBlanks(icon);
  if (icon.empty()) return;
  const std::string member(icon.starts_with('/') ? icon.substr(1) : icon);
  if (!scan.HasMember(member))
    out.push_back({"missing-icon", AuditSeverity::warning,
                   attribute + " names the icon \"" + std::string(icon) + "\", which is not in the JAR"});
}

// MIDlet-<n>: "Name, Icon, Class"; the class and the icon must be members.
void CheckMidlets(const TJarScan& scan, const JadAttributes& attributes, std::vector<AuditFinding>& out) {
  for (const auto& [name, value] : attributes) {
    if (name == "MIDlet-Icon") CheckIcon(scan, name, value, out);
    if (!IsMidletNumber(name)) continue;
    const size_t c1 = value.find(','), c2 = c1 == std::string::npos ? c1 : value.find(',', c1 + 1);
    if (c2 == std::string::npos) {
      out.push_back({"missing-class", AuditSeverity::error, name + " is not \"Name, Icon, Class\": \"" + value + "\""});
      continue;
    }
    CheckIcon(scan, name, std::string_view(value).substr(c1 + 1, c2 - c1 - 1), out);
    const std::string cls(TrimBlanks(std::string_view(value).substr(c2 + 1)));
    std::string member = cls;
    std::replace(member.begin(), member.end(), '.', '/');
    if (cls.empty() || !scan.HasMember(member + ".class"))
      out.push_back({"missing-class", AuditSeverity::error,
                     name + " names the class \"" + cls + "\", which is not in the JAR"});
  }
}

void CheckSignatures(TSignatureChecker& checker, TJarScan& scan, const AttributeText* jad, AuditResult& r) {
  SignatureSubject s;
  s.jarPath = r.path;
  s.jad = jad ? &jad->attributes : nullptr;
  s.manifest = scan.manifest;
  s.memberNames = scan.MemberNames();
  s.readMember = [&scan](const std::string& name, std::vector<uint8_t>& bytes) {
    return scan.ReadMember(name, bytes, kSignatureMemberLimit);
  };
  for (AuditFinding& f : checker.Check(s)) r.findings.push_back(std::move(f));
}

// The manifest's bytes to read: when it was cut at the limit, up to its last
// complete line, so the cut itself is not taken for a line without an end.
std::span<const uint8_t> WholeLines(const std::vector<uint8_t>& bytes, bool cut) {
  size_t n = bytes.size();
  if (cut)
    while (n > 0 && bytes[n - 1] != '\n' && bytes[n - 1] != '\r') --n;
  return {bytes.data(), n};
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
}

// A manifest in a legacy code page: its name, vendor and version as UTF-8
// text, and the code page said in the not-utf8 finding. What the detector
// cannot place keeps its U+FFFD marks.
void ReadInCodePage(TManifestCodec& codec, const std::vector<uint8_t>& manifest, AuditResult& r) {
  std::string page;
  try {
    page = codec.CodePageOf(manifest);
  } catch (const std::exception&) {
    return;  // no converter for it: the bytes stay as they are
  }
  if (page.empty() || page == "UTF-8") return;
  for (std::string* v : {&r.name, &r.vendor, &r.version}) *v = codec.Text(*v, page);
  for (AuditFinding& f : r.findings)
    if (f.code == "not-utf8" && f.text.find("likely") == std::string::npos)
      f.text += " (likely " + page + ")";
}

}  // namespace

std::string FindJadBeside(const std::string& jarPath) {
  const size_t slash = jarPath.rfind('/');
  const size_t dot = jarPath.rfind('.');
  const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                               ? jarPath.substr(0, dot)
                               : jarPath;
  for (const char* ext : {".jad", ".JAD", ".Jad"}) {
    struct stat st {};
    const std::string jad = stem + ext;
    if (::stat(jad.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return jad;
  }
  return "";
}

AuditResult AuditJar(const std::string& path, TSignatureChecker* signatures, TManifestCodec* codec) {
  AuditResult r;
  r.path = path;
  r.jadPath = FindJadBeside(path);
  TJarScan scan;
  const bool opened = scan.Open(path, r.findings);
  r.size = opened ? scan.Size() : FileSize(path);
  AttributeText jad;
  const bool haveJad = !r.jadPath.empty() && ReadJad(r.jadPath, jad, r.findings);
  if (!opened) return r;
  scan.CheckStructure(r.findings);
  scan.DecodeMembers(r.findings);
  scan.CheckManifestPlace(r.findings);
  AttributeText mf;
  if (scan.manifestFound) {
    mf = ParseManifestText(WholeLines(scan.manifest, scan.manifestCut));
    CheckManifestText(mf, scan.manifestCut, r.findings);
    if (const std::string* v = FindAttribute(mf.attributes, "MIDlet-Name")) r.name = *v;
    if (const std::string* v = FindAttribute(mf.attributes, "MIDlet-Vendor")) r.vendor = *v;
    if (const std::string* v = FindAttribute(mf.attributes, "MIDlet-Version")) r.version = *v;
    if (codec && !mf.validUtf8) ReadInCodePage(*codec, scan.manifest, r);
    CheckRequired(mf, haveJad ? &jad : nullptr, r.findings);
    const bool midletsInManifest = std::any_of(mf.attributes.begin(), mf.attributes.end(),
                                               [](const auto& a) { return IsMidletNumber(a.first); });
    CheckMidlets(scan, midletsInManifest || !haveJad ? mf.attributes : jad.attributes, r.findings);
  }
  if (haveJad) CheckJad(jad, scan.manifestFound ? &mf : nullptr, r, r.findings);
  if (signatures) CheckSignatures(*signatures, scan, haveJad ? &jad : nullptr, r);
  return r;
}

}  // namespace parcelix
