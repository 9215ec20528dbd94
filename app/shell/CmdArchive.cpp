// The archive commands of the command line: list, test, extract, manifest.
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/shell/Cli.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxUnZip.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

bool IsZipType(TArcType t) {
  return t == atZip || t == atZipExe || t == atJar || t == atJarExe || t == atZipMV || t == atZipDS;
}

// A JSON string: quotes, backslashes and control characters escaped; bytes
// that are not UTF-8 become U+FFFD so that the output is always valid JSON.
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
          } else {
            out += char(c);
          }
      }
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (len > 1 && i + len <= s.size() && IsValidUtf8(std::string_view(s).substr(i, len))) {
      out.append(s, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out += '"';
  return out;
}

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

std::string MemberJson(const MemberInfo& m) {
  return "{\"name\": " + JsonString(m.name) + ", \"method\": " + std::to_string(m.method) +
         ", \"compressed\": " + std::to_string(m.compressedSize) + ", \"size\": " + std::to_string(m.uncompressedSize) +
         ", \"crc\": \"" + Hex8(m.crc32) + "\", \"flags\": " + std::to_string(m.flags);
}

bool HasFinding(const TUnZip& z, const std::string& code, const std::string& member) {
  return std::any_of(z.Findings().begin(), z.Findings().end(),
                     [&](const Finding& f) { return f.code == code && (member.empty() || f.member == member); });
}

// A report of the engine that a finding already explains in better words:
// a missing local header, and the password an encrypted member would need.
bool ExplainedByFinding(const TUnZip& z, const ErrorRecord& e) {
  if (e.code == kErrBadLocalOffset) return HasFinding(z, "local-header-missing", e.fileName);
  if ((e.code == kErrEventNotAssigned && e.extendedMsg == "OnGetPassword") || e.code == kErrInvalidPassword)
    return HasFinding(z, "encrypted", "");
  return false;
}

// One line per report of the engine: its message, then what it concerns.
// Returns how many were printed.
size_t PrintErrors(CliContext& ctx, const TZipCommon& z) {
  const auto* reader = dynamic_cast<const TUnZip*>(&z);
  size_t printed = 0;
  for (const ErrorRecord& e : z.Errors()) {
    if (reader && ExplainedByFinding(*reader, e)) continue;
    *ctx.err << "parcelix: " << ErrorMessage(e.code);
    if (!e.fileName.empty()) *ctx.err << ": " << e.fileName;
    if (!e.extendedMsg.empty()) *ctx.err << " (" << e.extendedMsg << ")";
    *ctx.err << "\n";
    ++printed;
  }
  return printed;
}

// Each finding once, in plain words: "warning:" or "error:", the member it
// concerns, what was expected and found.
void PrintFindings(CliContext& ctx, const TUnZip& z) {
  for (const Finding& f : z.Findings()) {
    *ctx.err << "parcelix: " << (f.severity == TSeverity::error ? "error: " : "warning: ");
    if (!f.member.empty() || f.code.starts_with("name-")) *ctx.err << "\"" << f.member << "\": ";
    *ctx.err << f.text << " [" << f.code << "]\n";
  }
}

std::string FindingsJson(const TUnZip& z) {
  std::string out = "[";
  for (const Finding& f : z.Findings()) {
    if (out.size() > 1) out += ", ";
    out += "{\"code\": " + JsonString(f.code) + ", \"severity\": \"" +
           (f.severity == TSeverity::error ? "error" : "warning") + "\", \"member\": " + JsonString(f.member) +
           ", \"text\": " + JsonString(f.text) + "}";
  }
  return out + "]";
}

MemberInfo InfoOf(const ZipEntry& e) {
  MemberInfo m;
  m.name = e.name;
  m.method = e.method;
  m.compressedSize = e.compressedSize;
  m.uncompressedSize = e.uncompressedSize;
  m.crc32 = e.crc32;
  m.flags = e.flags;
  m.dosDateTime = e.central.dosDateTime;
  m.localHeaderPosition = e.localHeaderPos;
  return m;
}

// Splits the arguments into the --json flag and the positional ones.
// False (usage error) for an unknown option.
bool ParseArgs(CliContext& ctx, const std::vector<std::string>& args, bool allowJson, bool& json,
               std::vector<std::string>& positional) {
  json = false;
  bool optionsDone = false;
  for (const std::string& a : args) {
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && allowJson && a == "--json") {
      json = true;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      *ctx.err << "parcelix: unknown option " << a << "\n";
      return false;
    } else {
      positional.push_back(a);
    }
  }
  return true;
}

// False when the run could not open the archive at all.
bool Opened(const TZipCommon& z) {
  const auto& errors = z.Errors();
  return std::none_of(errors.begin(), errors.end(),
                      [](const ErrorRecord& e) { return e.code == kErrFileNotFound || e.code == kErrOpenFile; });
}

int Usage(CliContext& ctx, const char* line) {
  *ctx.err << "Usage: parcelix " << line << "\n";
  return 2;
}

// Reports a file that holds no ZIP archive; true when that was the case.
bool NotZip(CliContext& ctx, const TUnZip& z, const std::string& path) {
  if (IsZipType(z.ArcType())) return false;
  *ctx.err << "parcelix: " << path << ": not a ZIP archive\n";
  return true;
}

}  // namespace

int CmdList(CliContext& ctx, const std::vector<std::string>& args) {
  bool json;
  std::vector<std::string> pos;
  if (!ParseArgs(ctx, args, true, json, pos) || pos.size() != 1) return Usage(ctx, "list [--json] ARCHIVE");
  const std::string& path = pos[0];
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberInfo> members;
  if (!z.List(members)) {
    PrintErrors(ctx, z);
    return 1;
  }
  if (NotZip(ctx, z, path)) return 1;
  // Every entry of the directory, also those no mask selects (an empty name).
  members.clear();
  for (const ZipEntry& e : z.Archive().entries) members.push_back(InfoOf(e));
  if (json) {
    *ctx.out << "{\"archive\": " << JsonString(path) << ", \"type\": \"" << ArcTypeName(z.ArcType())
             << "\", \"members\": [";
    for (size_t i = 0; i < members.size(); ++i) *ctx.out << (i ? ", " : "") << MemberJson(members[i]) << "}";
    *ctx.out << "], \"findings\": " << FindingsJson(z) << "}\n";
  } else {
    for (const MemberInfo& m : members) *ctx.out << m.name << "\n";
  }
  PrintFindings(ctx, z);
  const size_t printed = PrintErrors(ctx, z);
  return printed == 0 && !z.Archive().HasError() ? 0 : 1;
}

int CmdTest(CliContext& ctx, const std::vector<std::string>& args) {
  bool json;
  std::vector<std::string> pos;
  if (!ParseArgs(ctx, args, true, json, pos) || pos.size() != 1) return Usage(ctx, "test [--json] ARCHIVE");
  const std::string& path = pos[0];
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberResult> results;
  bool readable = true;
  try {
    z.Test(&results);
  } catch (const std::exception& e) {
    readable = false;
    *ctx.err << "parcelix: " << e.what() << "\n";
  }
  const auto& errors = z.Errors();
  const bool opened = Opened(z);
  if (!opened) {
    PrintErrors(ctx, z);
    return 1;
  }
  if (NotZip(ctx, z, path)) return 1;
  bool ok = readable && errors.empty() && !z.Archive().HasError();
  for (const MemberResult& r : results) ok = ok && r.ok;
  if (json) {
    *ctx.out << "{\"archive\": " << JsonString(path) << ", \"type\": \"" << ArcTypeName(z.ArcType())
             << "\", \"ok\": " << (ok ? "true" : "false") << ", \"members\": [";
    for (size_t i = 0; i < results.size(); ++i)
      *ctx.out << (i ? ", " : "") << MemberJson(results[i].info) << ", \"ok\": " << (results[i].ok ? "true" : "false")
               << "}";
    *ctx.out << "], \"findings\": " << FindingsJson(z) << "}\n";
  } else {
    for (const MemberResult& r : results) {
      const bool encrypted = r.info.flags & kFlagEncrypted;
      *ctx.out << (r.ok ? "OK      " : encrypted ? "SKIPPED " : "FAILED  ") << r.info.name << "\n";
    }
  }
  PrintFindings(ctx, z);
  PrintErrors(ctx, z);
  if (!json) *ctx.out << (ok ? "No errors detected in " : "Errors detected in ") << path << "\n";
  return ok ? 0 : 1;
}

int CmdExtract(CliContext& ctx, const std::vector<std::string>& args) {
  bool json;
  std::vector<std::string> pos;
  if (!ParseArgs(ctx, args, false, json, pos) || pos.size() < 2)
    return Usage(ctx, "extract ARCHIVE DIR [MASK...]");
  const std::string& path = pos[0];
  TUnJar z;
  z.SetArchiveFile(path);
  z.SetExtractDir(pos[1]);
  if (pos.size() > 2) z.FileSpec.assign(pos.begin() + 2, pos.end());
  else z.FileSpec = {"*.*"};
  z.CreateStoredDirs = true;
  bool failed = false;
  std::vector<std::string> crcFailures;
  z.OnEnd = [&](TUnZip&, const std::string& file, bool pass) {
    if (!pass) {
      failed = true;
      crcFailures.push_back(file);
    } else if (!file.empty() && file.back() != '/' && file.back() != '\\' && z.ArcType() != atNA) {
      *ctx.out << file << "\n";
    }
  };
  try {
    z.Extract();
  } catch (const std::exception& e) {
    PrintFindings(ctx, z);
    PrintErrors(ctx, z);
    *ctx.err << "parcelix: " << e.what() << "\n";
    return 1;
  }
  const auto& errors = z.Errors();
  const bool opened = Opened(z);
  if (opened && NotZip(ctx, z, path)) return 1;
  PrintFindings(ctx, z);
  const size_t printed = PrintErrors(ctx, z);
  // A failed check whose cause was not reported already.
  std::set<std::string> reported;
  for (const ErrorRecord& e : errors) reported.insert(e.fileName);
  for (const std::string& f : crcFailures)
    if (!reported.count(f)) *ctx.err << "parcelix: " << ErrorMessage(kErrCrcCheck) << ": " << f << "\n";
  return failed || printed > 0 || z.Archive().HasError() ? 1 : 0;
}

int CmdManifest(CliContext& ctx, const std::vector<std::string>& args) {
  bool json;
  std::vector<std::string> pos;
  if (!ParseArgs(ctx, args, false, json, pos) || pos.size() != 1) return Usage(ctx, "manifest ARCHIVE");
  const std::string& path = pos[0];
  // The one manifest read that rename, JAD and the editor use.
  TUnJar z;
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadJarManifest(z, path);
  } catch (const EManifestMissing&) {
    PrintErrors(ctx, z);
    if (Opened(z) && !NotZip(ctx, z, path)) *ctx.err << "parcelix: " << path << ": no MANIFEST.MF\n";
    return 1;
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: " << path << ": " << e.what() << "\n";
    return 1;
  }
  ctx.out->write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ctx.out->flush();
  return 0;
}

}  // namespace parcelix
