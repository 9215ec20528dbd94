// The desktop window lives in a module of its own (parcelix-window.so) that
// the program loads only when a window or a message box is wanted, so a
// command-line run never pays for loading the Qt libraries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/shell/Cli.h"

namespace parcelix {

// The module's entry points (C linkage, looked up by name).
inline constexpr const char* kWindowRunSymbol = "parcelix_window_run";
inline constexpr const char* kWindowMessageSymbol = "parcelix_window_message";
inline constexpr const char* kWindowAbiSymbol = "parcelix_window_abi";
// Raised whenever the entry points change, so a stale module is refused.
inline constexpr int kWindowAbi = 1;
using WindowRunFn = int (*)(int argc, char** argv);
// Returns 1 when the box was shown, 0 when no display could be opened.
using WindowMessageFn = int (*)(const char* title, const char* text, int icon);

// The file name of the module and where it is looked for: beside the program
// (a build tree or a portable install), then in ../lib/parcelix/.
inline constexpr const char* kWindowModuleName = "parcelix-window.so";
std::vector<std::string> WindowModuleCandidates(const std::string& programPath);

class TWindowModule {
 public:
  // Loads the module beside `programPath`; Loaded() tells whether it worked
  // and Error() why not.
  explicit TWindowModule(const std::string& programPath);
  ~TWindowModule();
  TWindowModule(const TWindowModule&) = delete;
  TWindowModule& operator=(const TWindowModule&) = delete;

  bool Loaded() const { return run_ != nullptr && message_ != nullptr; }
  const std::string& Error() const { return error_; }

  int RunWindow(int argc, char** argv) const { return run_(argc, argv); }
  bool ShowMessage(const UserMessage& m) const;

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  WindowRunFn run_ = nullptr;
  WindowMessageFn message_ = nullptr;
  std::string error_;
};

}  // namespace parcelix
