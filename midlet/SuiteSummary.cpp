// What a list of JARs shows of each suite: manifest, names, icon, signed JAD.
#include "midlet/SuiteSummary.h"

#include <optional>
#include <string_view>

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/JadText.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarSignature.h"
#include "midlet/ManifestModel.h"

namespace parcelix {

namespace {

// The raw value of a main-section attribute (name compared without case).
std::optional<std::string_view> RawAttribute(const ManifestDoc& main, std::string_view name) {
  const auto value = MainAttribute(main, name);
  if (!value) return std::nullopt;
  return TrimBlanks(*value);
}

std::string IconPath(std::string_view value) {
  value = TrimBlanks(value);
  while (!value.empty() && value.front() == '/') value.remove_prefix(1);
  return std::string(value);
}

bool JadIsSigned(const std::string& jarFile) {
  std::string jad;
  return ReadWholeFile(JadPathOf(jarFile), jad, kMaxJadSize) && HasMidpSignature(ParseJadAttributes(jad));
}

// Why a file in which the reader found no manifest is damaged, or empty when
// it is a sound ZIP that simply holds none. Text named .jar, a JAR cut short
// (no end record) and a directory that is not where the records say are
// damaged files, not suites without a manifest.
std::string WhyNoArchive(const TUnZip& reader) {
  if (!IsZipFamily(reader.ArcType())) return "not a ZIP archive";
  for (const Finding& f : reader.Findings())
    if (f.severity == TSeverity::error) return f.text;
  return {};
}

}  // namespace

std::string IconMemberOf(const ManifestDoc& main) {
  if (auto icon = RawAttribute(main, "MIDlet-Icon"); icon && !TrimBlanks(*icon).empty()) return IconPath(*icon);
  const auto first = RawAttribute(main, "MIDlet-1");
  if (!first) return {};
  const size_t comma = first->find(',');
  if (comma == std::string_view::npos) return {};
  std::string_view rest = first->substr(comma + 1);
  return IconPath(rest.substr(0, rest.find(',')));
}

bool ReadJarMember(TUnZip& reader, const std::string& jarFile, const std::string& member, int64_t limit,
                   std::vector<uint8_t>& bytes) {
  // The reader tests stored names with '\' between folders; the exact name
  // selects the member, and only in its own folder.
  std::string spec = member;
  for (char& c : spec)
    if (c == '/') c = '\\';
  // The reader's selection and limit go back as they were: it is shared with
  // the manifest read.
  struct Restore {
    TUnZip& r;
    decltype(TUnZip::FileSpec) spec = r.FileSpec;
    bool recurse = r.RecurseDirs;
    int64_t max = r.MaxMemoryMemberSize;
    ~Restore() {
      r.FileSpec = spec;
      r.RecurseDirs = recurse;
      r.MaxMemoryMemberSize = max;
    }
  } restore{reader};
  reader.FileSpec = {spec};
  reader.RecurseDirs = false;
  reader.MaxMemoryMemberSize = limit;
  reader.ClearErrors();
  TDecompMemoryStream stream;
  try {
    if (reader.ArchiveFile() != jarFile) reader.SetArchiveFile(jarFile);
    reader.ExtractToMemoryStream(&stream);
  } catch (const std::exception&) {
    return false;
  }
  for (int i = 0; i < stream.Count(); ++i) {
    if (SlashName(stream.EntryName(i)) != member) continue;
    try {
      bytes = DecodedEntryBytes(reader, stream, i);
      return true;
    } catch (const EJarDamaged&) {
      return false;
    }
  }
  return false;
}

TSuiteSummary ReadSuiteSummary(TUnZip& reader, TManifestCodec& codec, const std::string& jarFile) {
  TSuiteSummary s;
  try {
    s.manifest = ReadJarManifestAndIdentity(reader, jarFile).bytes;
  } catch (const EJarDamaged& e) {
    s.error = std::string("damaged: ") + e.what();
  } catch (const EManifestMissing&) {
    const std::string why = WhyNoArchive(reader);
    s.error = why.empty() ? "no META-INF/MANIFEST.MF" : "damaged: " + why;
  } catch (const std::exception& e) {
    s.error = e.what();
  }
  if (s.error.empty()) {
    const ManifestDoc main = SplitManifest(s.manifest).main;
    const std::string codePage = codec.CodePageOf(s.manifest);
    const auto text = [&](std::string_view name) {
      const auto raw = RawAttribute(main, name);
      return raw ? codec.Text(*raw, codePage) : std::string();
    };
    s.hasName = RawAttribute(main, "MIDlet-Name").has_value();
    s.name = text("MIDlet-Name");
    s.vendor = text("MIDlet-Vendor");
    s.version = text("MIDlet-Version");
    s.icon = IconMemberOf(main);
    if (!s.icon.empty() && !ReadJarMember(reader, jarFile, s.icon, kMaxIconBytes, s.iconBytes)) s.iconBytes.clear();
  }
  s.signedJad = JadIsSigned(jarFile);
  return s;
}

}  // namespace parcelix
