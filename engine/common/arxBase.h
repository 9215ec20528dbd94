// The component base shared by the archive reader and writer: error reports,
// the cancel flag, progress and the "process pending messages" hook.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/read/Err_Msgs.h"

namespace parcelix {

// The engine's one exception, of its fatal reports: it carries the table
// code; its message is the table text.
class E_RAISE : public std::runtime_error {
 public:
  E_RAISE(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }
  std::error_code error() const { return EngineError(code_); }

 private:
  int code_;
};

// One report as the error event received it.
struct ErrorRecord {
  std::string fileName;
  std::string extendedMsg;
  std::string volumeId;
  int code = 0;
  std::error_code error() const { return EngineError(code); }
};

class TZipCommon;
using TOnError = std::function<void(TZipCommon& sender, const std::string& fileName,
                                    const std::string& extendedMsg, const std::string& volumeId,
                                    int code)>;
using TOnProgress = std::function<void(TZipCommon& sender, uint8_t byFile, uint8_t byArchive)>;

class TZipCommon {
 public:
  virtual ~TZipCommon() = default;

  // Events; all empty by default.
  TOnError OnError;
  TOnProgress OnProgress;
  std::function<void(TZipCommon& sender)> OnActivate;
  std::function<void(TZipCommon& sender)> OnDeactivate;
  std::function<void(TZipCommon& sender, double seconds)> OnElapsedTime;
  // Called once per chunk or scanned entry so that a window can repaint and
  // take a cancel click; what it does is the caller's business.
  std::function<void()> ProcessMessages;

  // The cancel flag. Setting it makes a plain report of "User canceled"
  // naming the current member.
  bool Cancel() const { return cancel_ != 0; }
  void SetCancel(bool value) {
    cancel_ = value ? 1 : 0;
    if (value) ReportError(currentName_, "", volumeId_, kErrUserCanceled);
  }
  uint8_t* CancelFlag() { return &cancel_; }

  // Every report of the last run, kept so that a command line can tell the
  // user without an event handler. Cleared at the start of each run.
  const std::vector<ErrorRecord>& Errors() const { return errors_; }
  void ClearErrors() { errors_.clear(); }

  // Plain report: keeps the record and calls OnError; nothing else happens.
  virtual void ReportError(const std::string& fileName, const std::string& extendedMsg,
                           const std::string& volumeId, int code) {
    if (cancel_) code = kErrUserCanceled;
    errors_.push_back({fileName, extendedMsg, volumeId, code});
    if (OnError) OnError(*this, fileName, extendedMsg, volumeId, code);
  }
  // Fatal report: as the plain one, then throws E_RAISE unless cancelled.
  virtual void RaiseError(const std::string& fileName, const std::string& extendedMsg,
                          const std::string& volumeId, int code) {
    ReportError(fileName, extendedMsg, volumeId, code);
    if (!cancel_) throw E_RAISE(code, ErrorMessage(code));
  }
  void PumpMessages() {
    if (ProcessMessages) ProcessMessages();
  }

 protected:
  uint8_t cancel_ = 0;
  std::string currentName_;  // member or file being processed, for reports
  std::string volumeId_;     // archive path of the current run
  std::vector<ErrorRecord> errors_;
};

}  // namespace parcelix
