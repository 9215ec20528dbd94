// One run of the archive reader (list, extraction to files,
// to memory or to nowhere): the state that lives from opening to closing.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "engine/codec/Crc32.h"
#include "engine/read/ArchiveSource.h"
#include "engine/read/arxUnZip.h"

namespace parcelix {

struct TUnZip::Run {
  enum Mode { kList, kFiles, kMemory, kTest };

  Run(TUnZip& owner, Mode runMode);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Reset, OnActivate, timer, open the archive. False when it cannot be
  // opened (the error is reported).
  bool Start();
  // Closes the archive, fires OnElapsedTime and OnDeactivate.
  void Finish();

  // ---- directory (arxUnZip.cpp)
  // Opens the archive's directory into the owner's archive_; false when the
  // file is no ZIP.
  bool Open();
  // Builds `entries` from the central directory or the local headers.
  int BuildList();

  // The directory entry of a member the selection took.
  static DirectoryEntry MakeEntry(const ZipEntry& ze, int64_t pos);
  static MemberInfo InfoOf(const DirectoryEntry& e);
  void AddEntry(DirectoryEntry&& e);
  // The canonical name with every '/' as '\\': the name selection and
  // extraction use.
  static std::string ConvertName(std::string stored);

  // ---- extraction (arxExtract.cpp)
  int Extract();
  void ExtractMember(const DirectoryEntry& e);
  bool ResolveTarget(const std::string& storedName, std::string& target, std::vector<std::string>& parts);
  int OpenTargetFile(const std::string& target, const std::vector<std::string>& parts, bool fromHandler);
  int DirectoryFd(const std::vector<std::string>& parts, size_t count, bool create);
  bool CreateStoredDirectory(const std::string& target, const std::vector<std::string>& parts);
  void Decode(const DirectoryEntry& e, int64_t dataStart, uint16_t method, int64_t csize, int64_t usize);
  uint32_t WriteOut(const uint8_t* buffer, uint32_t count);
  void Progress(int64_t fileDone);
  void CloseDirectoryCache();

  TUnZip& z;
  Mode mode;
  TArchiveSource* src = nullptr;
  bool opened = false;
  std::chrono::steady_clock::time_point started;

  // Directory walk results.
  std::vector<DirectoryEntry> entries;
  // Selected central entries left out for a missing local header, with the
  // number of entries before them (test results keep the archive's order).
  std::vector<std::pair<size_t, MemberInfo>> omitted;
  int64_t sumCompressed = 0;
  int64_t sumUncompressed = 0;
  uint32_t newestDate = 0;
  TMemberSelector selector;

  // Extraction state.
  TArchiveStream* stream = nullptr;  // the archive as the decoders read it
  TDecompMemoryStream* memory = nullptr;
  std::vector<MemberResult>* results = nullptr;
  int count = 0;
  TCrcRegister crc;
  int outFd = -1;             // the file being written (files mode)
  int64_t memberWritten = 0;  // bytes handed to the destination for this member
  int64_t memberLimit = 0;    // the member's uncompressed size: never more is written
  int64_t archiveDone = 0;    // compressed bytes of earlier members, for progress
  int64_t memberCompressed = 0;
  std::string currentTarget;
  int rootFd = -1;
  std::map<std::string, int> dirFds;  // directories opened below the root, by relative path
  std::map<uint32_t, int64_t> dosTimes;  // DOS date -> time_t, converted once per run
};

}  // namespace parcelix
