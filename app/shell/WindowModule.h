// The desktop window lives in a module of its own (parcelix-window.so) that
// the program loads only when a window or a message box is wanted, so a
// command-line run never pays for loading the Qt libraries.
#pragma once

#include <string>

#include "app/shell/Cli.h"
#include "midlet/ProgramModule.h"

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

// The file name of the module, looked for as every module of the program is.
inline constexpr const char* kWindowModuleName = "parcelix-window.so";

class TWindowModule {
 public:
  // Loads the module beside `programPath`; Loaded() tells whether it worked
  // and Error() why not.
  explicit TWindowModule(const std::string& programPath);

  bool Loaded() const { return run_ != nullptr && message_ != nullptr; }
  const std::string& Error() const { return module_.Error(); }

  int RunWindow(int argc, char** argv) const { return run_(argc, argv); }
  bool ShowMessage(const UserMessage& m) const;

 private:
  TProgramModule module_;
  WindowRunFn run_ = nullptr;
  WindowMessageFn message_ = nullptr;
};

}  // namespace parcelix
