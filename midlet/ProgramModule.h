// A module of the program: a shared object loaded with dlopen only when a
// command needs it (the window, the cryptography), so runs that never need
// it do not pay for loading its libraries. It is looked for beside the
// program (a build tree or a portable install), then in ../lib/parcelix/.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace parcelix {

std::vector<std::string> ProgramModuleCandidates(const std::string& programPath, const std::string& moduleName);

class TProgramModule {
 public:
  // Loads the first candidate that exists; Loaded() is false and Error()
  // says why when none could be loaded.
  TProgramModule(const std::string& programPath, const std::string& moduleName);
  ~TProgramModule();
  TProgramModule(const TProgramModule&) = delete;
  TProgramModule& operator=(const TProgramModule&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  // An exported symbol; null when it is not there or nothing is loaded.
  void* Symbol(const char* name) const;
  // Gives up a module that is not the one expected (another version, entry
  // points missing): Loaded() becomes false and Error() says why.
  void Refuse(const std::string& why);

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  std::string path_;
  std::string error_;
};

}  // namespace parcelix
