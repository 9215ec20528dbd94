// The archive half of the audit: one JAR opened once, its structure judged,
// every member decoded once (in file order, to nowhere) and the manifest's
// bytes kept on the way. Used by Audit.cpp only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/read/ArchiveSource.h"
#include "engine/read/ZipArchive.h"
#include "engine/read/ZipMember.h"
#include "midlet/AuditFinding.h"

namespace parcelix {

class TJarScan {
 public:
  // Opens the JAR and reads its directory and local headers; false (with a
  // finding) when there is no ZIP archive to look at.
  bool Open(const std::string& path, std::vector<AuditFinding>& findings);
  // What is wrong with the archive's records, in the audit's codes.
  void CheckStructure(std::vector<AuditFinding>& findings);
  // Decodes every member; reports those that fail and the Deflate64 ones,
  // and keeps the manifest's bytes (up to the audit's limit).
  void DecodeMembers(std::vector<AuditFinding>& findings);
  // Where the manifest is and whether Java finds it there.
  void CheckManifestPlace(std::vector<AuditFinding>& findings) const;

  int64_t Size() const { return source_.Size(); }
  const ZipArchive& Archive() const { return zip_; }
  // The member names, with '/'.
  std::vector<std::string> MemberNames() const;
  bool HasMember(const std::string& name) const;

  // The manifest: found, its name, its bytes (cut at the limit) and whether
  // they decoded in full with the right CRC.
  bool manifestFound = false;
  std::string manifestName;
  std::vector<uint8_t> manifest;
  bool manifestCut = false;
  bool manifestIntact = false;

  // Decodes one member whole, up to limit bytes; false when it is missing,
  // larger than limit or damaged.
  bool ReadMember(const std::string& name, std::vector<uint8_t>& bytes, size_t limit);

 private:
  int ManifestIndex() const;
  TMemberResult Decode(const ZipEntry& e, TArchiveStream& in, std::vector<uint8_t>* keep, size_t limit);
  void CheckPrefix(std::vector<AuditFinding>& findings) const;
  bool DescriptorAbsent(const ZipEntry& e);
  std::vector<size_t> FileOrder() const;

  TArchiveSource source_;
  EndLocation where_;
  ZipArchive zip_;
  int manifestIndex_ = -1;
  std::vector<std::string> sortedNames_;
};

}  // namespace parcelix
