// The fix of a JAR written: examined, written beside it, read back and
// tested, then put in its place in one rename.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <system_error>

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "engine/read/ArchiveSource.h"
#include "engine/read/Err_Msgs.h"
#include "midlet/JarFix.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarSignature.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

// A JAD larger than this is no JAD.
constexpr size_t kMaxJad = 1 << 20;

// Members decoded on one thread at most: more bytes than this spread over
// the cores.
constexpr uint64_t kDecodeAlone = 8u << 20;
constexpr unsigned kMaxDecoders = 4;

// Decodes every entry of the archive at path, each on its own reader, on as
// many threads as its size is worth; the index of the first entry (in the
// archive's order) that does not decode to its CRC, or -1.
int FirstUndecodable(const std::string& path, const std::vector<ZipEntry>& entries) {
  uint64_t total = 0;
  for (const ZipEntry& e : entries) total += e.uncompressedSize;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned threads = total <= kDecodeAlone ? 1 : std::min({cores, kMaxDecoders, unsigned(entries.size())});
  std::vector<char> bad(entries.size(), 0);
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto decode = [&] {
    TArchiveSource source;
    if (!source.Open(path)) {
      failed = true;
      return;
    }
    for (size_t i = next++; i < entries.size() && !failed; i = next++)
      if (!DecodeEntry(source, entries[i]).ok()) {
        bad[i] = 1;
        failed = true;
      }
  };
  {
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(decode);
    decode();
  }
  const auto first = std::find(bad.begin(), bad.end(), 1);
  if (first != bad.end()) return int(first - bad.begin());
  return failed ? 0 : -1;  // a reader that could not open the file: the first entry stands for it
}

// Why the archive written at path is not what the plan wrote ("" when it
// is): it opens without an error finding, holds `count` members, and each
// decodes to its CRC.
std::string ReadBack(const std::string& path, size_t count) {
  TArchiveSource source;
  if (!source.Open(path)) return std::string("it cannot be opened again: ") + std::strerror(source.Errno());
  ZipArchive zip;
  if (!OpenZip(source, OpenOptions{}, zip)) return "it has no ZIP structure";
  ReadLocalHeaders(source, zip);
  for (const Finding& f : zip.findings)
    if (f.severity == TSeverity::error) return (f.member.empty() ? "" : f.member + ": ") + f.text;
  if (zip.entries.size() != count)
    return "it holds " + std::to_string(zip.entries.size()) + " members, not " + std::to_string(count);
  if (const int i = FirstUndecodable(path, zip.entries); i >= 0)
    return zip.entries[size_t(i)].name + " does not decode to its CRC";
  return "";
}

// Flushes the file's data on a thread of its own, so that the disk writes
// while the read-back decodes; Wait() gives errno of the flush, or 0.
class TEarlyFlush {
 public:
  explicit TEarlyFlush(int fd) : thread_([this, fd] { errno_ = ::fdatasync(fd) == 0 ? 0 : errno; }) {}
  int Wait() {
    if (thread_.joinable()) thread_.join();
    return errno_;
  }

 private:
  int errno_ = 0;
  std::jthread thread_;
};

size_t KeptCount(const std::vector<TPlanStep>& steps) {
  size_t n = 0;
  for (const TPlanStep& s : steps) n += s.kind != TPlanStep::Kind::Drop;
  return n;
}

// Writes the plan into file; "" or why it could not.
std::string WritePlan(JarExamination& exam, TNewFile& file) {
  const int fd = ::dup(file.Fd());
  if (fd < 0) return std::strerror(errno);
  THandleStream32 out(fd);
  TPlanWriter writer(out, exam.old.get());
  writer.KeepPrefix = false;
  writer.Level = dtDeflateX;
  writer.Comment = exam.old->Comment();
  std::string problem;
  writer.Report = [&problem](const std::string& name, int code, const std::string& text) {
    if (problem.empty())
      problem = (name.empty() ? "" : name + ": ") + (text.empty() ? std::string(ErrorMessage(code)) : text);
  };
  try {
    if (!writer.Run(exam.plan.steps) && problem.empty()) problem = "the new JAR could not be written";
  } catch (const std::exception& e) {
    problem = e.what();
  }
  if (problem.empty() && out.LastErrno()) problem = std::strerror(out.LastErrno());
  return problem;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0666;
}

}  // namespace

JarExamination ExamineJar(const std::string& jar, JarFixOptions options) {
  JarExamination exam;
  exam.jar = jar;
  const std::string jad = JadPathOf(jar);
  if (jad != jar && FileExists(jad) && ReadWholeFile(jad, exam.jadText, kMaxJad)) {
    exam.jadPath = jad;
    options.midpSigned = HasMidpSignature(ParseJadAttributes(exam.jadText));
  }
  exam.old = std::make_unique<TOldArchive>();
  const bool opened = options.salvage ? exam.old->OpenForSalvage(jar) : exam.old->Open(jar);
  if (!opened) {
    exam.plan.verdict = TFixVerdict::Refused;
    exam.plan.refusal = exam.old->Problem() + (options.salvage || !exam.old->Opened()
                                                   ? ""
                                                   : "; --salvage writes what can be read");
    return exam;
  }
  exam.plan = PlanJarFix(*exam.old, options);
  return exam;
}

JarFixResult FixJar(JarExamination& exam, const JarFixOptions& options) {
  JarFixResult res;
  if (exam.plan.verdict != TFixVerdict::NeedsFix) return res;
  const std::string target = ResolveLinkTarget(exam.jar);
  try {
    TNewFile file(ExtractFilePath(target), ExtractFileName(target), ModeOf(target));
    res.error = WritePlan(exam, file);
    if (res.error.empty()) {
      TEarlyFlush flush(file.Fd());
      const std::string why = ReadBack(file.Name(), KeptCount(exam.plan.steps));
      if (const int e = flush.Wait()) res.error = std::strerror(e);
      if (!why.empty()) res.error = "the new JAR does not read back clean (" + why + ")";
      if (!why.empty() && !exam.plan.membersChecked) {
        // The copied members were first decoded by that read-back: a member
        // damaged in the JAR itself fails there, and the full check says so
        // in the words a dry run uses.
        JarFixOptions full = options;
        full.checkOnReadBack = false;
        JarFixPlan checked = PlanJarFix(*exam.old, full);
        if (checked.verdict == TFixVerdict::Refused) {
          res.error = checked.refusal;
          exam.plan = std::move(checked);
        }
      }
    }
    if (!res.error.empty()) return res;
    res.newSize = ::lseek(file.Fd(), 0, SEEK_END);
    // The JAD's new text waits, complete, for the JAR's rename.
    std::unique_ptr<TNewFile> jad;
    if (!exam.jadPath.empty())
      if (const auto text = UpdateJadJarSize(exam.jadText, exam.old->Size(), res.newSize)) {
        const std::string jadTarget = ResolveLinkTarget(exam.jadPath);
        jad = std::make_unique<TNewFile>(ExtractFilePath(jadTarget), ExtractFileName(jadTarget),
                                         ModeOf(jadTarget));
        if (!WriteAll(jad->Fd(), text->data(), text->size())) throw std::system_error(errno, std::generic_category());
      }
    if (!exam.old->StillNames(exam.jar)) {
      res.error = "the JAR changed while it was being fixed";
      return res;
    }
    if (options.backup) {
      // The old file itself becomes the backup: the fix never writes into it.
      res.backupPath = BackupPathOf(exam.jar);
      LinkOrCopyReplacing(target, res.backupPath);
    }
    file.Commit(target, TPlace::Replace, true);
    res.written = true;
    if (jad) {
      jad->Commit(ResolveLinkTarget(exam.jadPath), TPlace::Replace, true);
      res.jadUpdated = true;
    }
  } catch (const std::system_error& e) {
    if (!res.written && !res.backupPath.empty()) {
      ::unlink(res.backupPath.c_str());
      res.backupPath.clear();
    }
    res.error = res.written ? std::string("the JAR was fixed, but its JAD could not be updated: ") + e.what()
                            : e.what();
  }
  return res;
}

}  // namespace parcelix
