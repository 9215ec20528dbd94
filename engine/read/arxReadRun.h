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
#include "engine/read/ZipMember.h"
#include "engine/read/arxUnZip.h"

namespace parcelix {

// The folder an extraction writes into: its directories are opened once,
// level by level, and kept open for the members that follow.
class TTargetTree {
 public:
  TTargetTree() = default;
  ~TTargetTree();
  TTargetTree(const TTargetTree&) = delete;
  TTargetTree& operator=(const TTargetTree&) = delete;
  void SetRoot(const std::string& root) { root_ = root; }
  // The descriptor of root/parts[0..count), created when create is set; -1
  // when a level cannot be opened or is a symbolic link.
  int Directory(const std::vector<std::string>& parts, size_t count, bool create);
  // Creates the file at parts (or at target, a path a handler chose).
  int OpenFile(const std::string& target, const std::vector<std::string>& parts, bool fromHandler);
  bool MakeDirectory(const std::vector<std::string>& parts) { return Directory(parts, parts.size(), true) >= 0; }
  void Close();

 private:
  std::string root_;
  int rootFd_ = -1;
  std::map<std::string, int> dirs_;  // directories opened below the root, by relative path
};

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
  // The state of one member step.
  struct MemberStep {
    explicit MemberStep(const DirectoryEntry& entry) : e(entry) {}
    const DirectoryEntry& e;
    LocalHeader lh;
    int64_t dataStart = 0;
    uint16_t method = 0;
    int64_t csize = 0, usize = 0;
    uint32_t storedCrc = 0;
    bool isDirName = false;
    uint32_t attr = 0;
    std::string target;              // the file (files mode) or the member's name
    std::vector<std::string> parts;  // the target's path below ExtractDir
    bool fromHandler = false;        // the target was named by an event handler
    bool skip = false;               // enciphered: nothing is decoded
    bool checked = true;             // false: a failure already reported stands for the check
    bool skippedOut = false;         // refused before the output was opened
    int memoryIndex = -1;
    // Reports name the file written, or (test, memory) the member with '/'.
    const std::string& Who(Mode mode) const { return mode == kFiles ? target : e.storedName; }
  };
  // A member decoded ahead into memory by the worker of a files run, with
  // the facts it was decoded from; decoded is false for a member the worker
  // left to the member step (too large, encrypted, a directory, no local header).
  struct DecodedAhead {
    bool decoded = false;
    int64_t dataStart = 0, csize = 0, usize = 0;
    uint16_t method = 0;
    uint32_t storedCrc = 0;
    std::vector<uint8_t> bytes;
    TMemberResult result;
  };
  int Extract();
  void ExtractMember(const DirectoryEntry& e);
  void ExtractAll();
  DecodedAhead DecodeAhead(TArchiveStream& in, const DirectoryEntry& e) const;
  bool WriteDecoded(const MemberStep& m, TMemberResult& r);
  // Fills m from the local header at its entry's offset; false when there is none.
  static bool ReadLocalFacts(TStream32& in, MemberStep& m);
  bool ReadLocal(MemberStep& m);
  void TakeHandlerTarget(MemberStep& m, const std::string& path);
  bool ConfirmOverwrite(MemberStep& m, bool exists);
  bool PreCheck(MemberStep& m);
  bool OpenOutput(MemberStep& m);
  bool WriteMember(MemberStep& m);
  void FinishFile(MemberStep& m);
  bool ResolveTarget(const std::string& storedName, std::string& target, std::vector<std::string>& parts);
  TMemberResult Decode(const MemberStep& m);
  uint32_t WriteOut(const uint8_t* buffer, uint32_t count);
  void Progress(int64_t fileDone);

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
  DecodedAhead* ahead = nullptr;     // the current member as the worker decoded it (files mode)
  TDecompMemoryStream* memory = nullptr;
  std::vector<MemberResult>* results = nullptr;
  int count = 0;
  int outFd = -1;             // the file being written (files mode)
  int64_t memberWritten = 0;  // bytes handed to the destination for this member
  int64_t archiveDone = 0;    // compressed bytes of earlier members, for progress
  int64_t memberCompressed = 0;
  std::string currentTarget;
  TTargetTree tree;
  std::map<uint32_t, int64_t> dosTimes;  // DOS date -> time_t, converted once per run
};

}  // namespace parcelix
