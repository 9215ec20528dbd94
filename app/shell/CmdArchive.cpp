// The archive commands of the command line: list, test, extract, manifest.
#include <algorithm>
#include <memory>
#include <cstdio>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/shell/CliCommands.h"
#include "app/shell/CliJson.h"
#include "app/shell/Progress.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxUnZip.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

std::string Hex8(uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

Json MemberJson(const MemberInfo& m) {
  Json j;
  PutText(j, "name", m.name);
  j["method"] = m.method;
  j["compressed"] = m.compressedSize;
  j["size"] = m.uncompressedSize;
  j["crc"] = Hex8(m.crc32);
  j["flags"] = m.flags;
  return j;
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

// One line per report of the engine: the file or member it concerns (the
// archive when it names none), then its message.
// Returns how many were printed.
size_t PrintErrors(CliContext& ctx, const TZipCommon& z, const std::string& path) {
  const auto* reader = dynamic_cast<const TUnZip*>(&z);
  size_t printed = 0;
  for (const ErrorRecord& e : z.Errors()) {
    if (reader && ExplainedByFinding(*reader, e)) continue;
    std::string message = ErrorMessage(e.code);
    if (!e.extendedMsg.empty()) message += " (" + e.extendedMsg + ")";
    ReportError(ctx, e.fileName.empty() ? path : e.fileName, message);
    ++printed;
  }
  return printed;
}

// Each finding once, in plain words: "warning:" or "error:", the member it
// concerns, what was expected and found.
void PrintFindings(CliContext& ctx, const TUnZip& z) {
  for (const Finding& f : z.Findings()) {
    std::string message = f.severity == TSeverity::error ? "error: " : "warning: ";
    if (!f.member.empty() || f.code.starts_with("name-")) message += "\"" + f.member + "\": ";
    ReportError(ctx, z.ArchiveFile(), message + f.text + " [" + f.code + "]");
  }
}

Json FindingsJson(const TUnZip& z) {
  Json out = Json::array();
  for (const Finding& f : z.Findings()) {
    Json j;
    j["code"] = f.code;
    j["severity"] = f.severity == TSeverity::error ? "error" : "warning";
    PutText(j, "member", f.member);
    PutText(j, "text", f.text);
    out.push_back(std::move(j));
  }
  return out;
}

// The start of the JSON object of list and test: the archive and its type.
Json ArchiveJson(const TUnZip& z, const std::string& path) {
  Json j;
  PutText(j, "archive", path);
  j["type"] = ArcTypeName(z.ArcType());
  return j;
}

// The progress line of test and extract on a terminal: members begun of
// those in the archive's directory, drawn once the archive is open.
void FollowProgress(CliContext& ctx, TUnZip& z, std::unique_ptr<TProgress>& line) {
  if (!ctx.stderrIsTerminal || ctx.quiet) return;
  z.OnBegin = [&ctx, &line](TUnZip& sender, const std::string& name, int count, bool&) {
    if (!line) line = std::make_unique<TProgress>(*ctx.err, true, sender.Archive().entries.size(), "files");
    line->Update(uint64_t(count > 0 ? count - 1 : 0), ExtractFileName(name));
  };
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

// False when the run could not open the archive at all.
bool Opened(const TZipCommon& z) {
  const auto& errors = z.Errors();
  return std::none_of(errors.begin(), errors.end(),
                      [](const ErrorRecord& e) { return e.code == kErrFileNotFound || e.code == kErrOpenFile; });
}

// Reports a file that holds no ZIP archive; true when that was the case.
bool NotZip(CliContext& ctx, const TUnZip& z, const std::string& path) {
  if (IsZipFamily(z.ArcType())) return false;
  ReportError(ctx, path, "not a ZIP archive");
  return true;
}

}  // namespace

int RunList(CliContext& ctx, const ArchiveOptions& o) {
  const std::string& path = o.archive;
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberInfo> members;
  if (!z.List(members)) {
    PrintErrors(ctx, z, path);
    return 1;
  }
  if (NotZip(ctx, z, path)) return 1;
  // Every entry of the directory, also those no mask selects (an empty name).
  members.clear();
  for (const ZipEntry& e : z.Archive().entries) members.push_back(InfoOf(e));
  if (o.json) {
    Json doc = ArchiveJson(z, path);
    doc["members"] = Json::array();
    for (const MemberInfo& m : members) doc["members"].push_back(MemberJson(m));
    doc["findings"] = FindingsJson(z);
    WriteJsonLine(*ctx.out, doc);
  } else {
    for (const MemberInfo& m : members) *ctx.out << m.name << "\n";
  }
  PrintFindings(ctx, z);
  const size_t printed = PrintErrors(ctx, z, path);
  return printed == 0 && !z.Archive().HasError() ? 0 : 1;
}

int RunTest(CliContext& ctx, const ArchiveOptions& o) {
  const std::string& path = o.archive;
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberResult> results;
  bool readable = true;
  std::unique_ptr<TProgress> progress;
  FollowProgress(ctx, z, progress);
  try {
    z.Test(&results);
  } catch (const std::exception& e) {
    progress.reset();
    readable = false;
    ReportError(ctx, path, e.what());
  }
  progress.reset();
  const auto& errors = z.Errors();
  const bool opened = Opened(z);
  if (!opened) {
    PrintErrors(ctx, z, path);
    return 1;
  }
  if (NotZip(ctx, z, path)) return 1;
  bool ok = readable && errors.empty() && !z.Archive().HasError();
  for (const MemberResult& r : results) ok = ok && r.ok;
  if (o.json) {
    Json doc = ArchiveJson(z, path);
    doc["ok"] = ok;
    doc["members"] = Json::array();
    for (const MemberResult& r : results) {
      Json m = MemberJson(r.info);
      m["ok"] = r.ok;
      doc["members"].push_back(std::move(m));
    }
    doc["findings"] = FindingsJson(z);
    WriteJsonLine(*ctx.out, doc);
  } else {
    for (const MemberResult& r : results) {
      if (ctx.quiet && r.ok) continue;  // -q: only the members that failed
      const bool encrypted = r.info.flags & kFlagEncrypted;
      *ctx.out << (r.ok ? "OK      " : encrypted ? "SKIPPED " : "FAILED  ") << r.info.name << "\n";
    }
  }
  PrintFindings(ctx, z);
  PrintErrors(ctx, z, path);
  if (!o.json && !ctx.quiet) *ctx.out << (ok ? "No errors detected in " : "Errors detected in ") << path << "\n";
  return ok ? 0 : 1;
}

int RunExtract(CliContext& ctx, const ArchiveOptions& o) {
  const std::string& path = o.archive;
  TUnJar z;
  z.SetArchiveFile(path);
  z.SetExtractDir(o.dir);
  if (!o.masks.empty()) z.FileSpec = o.masks;
  else z.FileSpec = {"*.*"};
  z.CreateStoredDirs = true;
  bool failed = false;
  std::vector<std::string> crcFailures;
  std::unique_ptr<TProgress> progress;
  FollowProgress(ctx, z, progress);
  z.OnEnd = [&](TUnZip&, const std::string& file, bool pass) {
    if (!pass) {
      failed = true;
      crcFailures.push_back(file);
    } else if (!ctx.quiet && !file.empty() && file.back() != '/' && file.back() != '\\' && z.ArcType() != atNA) {
      if (progress) progress->Clear();
      *ctx.out << file << "\n";
    }
  };
  try {
    z.Extract();
    progress.reset();
  } catch (const std::exception& e) {
    progress.reset();
    PrintFindings(ctx, z);
    PrintErrors(ctx, z, path);
    ReportError(ctx, path, e.what());
    return 1;
  }
  const auto& errors = z.Errors();
  const bool opened = Opened(z);
  if (opened && NotZip(ctx, z, path)) return 1;
  PrintFindings(ctx, z);
  const size_t printed = PrintErrors(ctx, z, path);
  // A failed check whose cause was not reported already.
  std::set<std::string> reported;
  for (const ErrorRecord& e : errors) reported.insert(e.fileName);
  for (const std::string& f : crcFailures)
    if (!reported.count(f)) ReportError(ctx, f, ErrorMessage(kErrCrcCheck));
  return failed || printed > 0 || z.Archive().HasError() ? 1 : 0;
}

int RunManifest(CliContext& ctx, const ArchiveOptions& o) {
  const std::string& path = o.archive;
  // The one manifest read that rename, JAD and the editor use.
  TUnJar z;
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadJarManifest(z, path);
  } catch (const EManifestMissing&) {
    PrintErrors(ctx, z, path);
    if (Opened(z) && !NotZip(ctx, z, path)) ReportError(ctx, path, "no MANIFEST.MF");
    return 1;
  } catch (const std::exception& e) {
    ReportError(ctx, path, e.what());
    return 1;
  }
  ctx.out->write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  ctx.out->flush();
  return 0;
}

}  // namespace parcelix
