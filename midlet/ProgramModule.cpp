#include "midlet/ProgramModule.h"

#include <dlfcn.h>
#include <unistd.h>

namespace parcelix {

std::vector<std::string> ProgramModuleCandidates(const std::string& programPath, const std::string& moduleName) {
  const auto slash = programPath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : programPath.substr(0, slash);
  return {dir + "/" + moduleName, dir + "/../lib/parcelix/" + moduleName};
}

void TProgramModule::Closer::operator()(void* handle) const {
  // Loaded with RTLD_NODELETE: the libraries a module brings (Qt, libcrypto)
  // stay mapped until the process ends and their exit handlers run then;
  // this only drops the reference.
  dlclose(handle);
}

TProgramModule::TProgramModule(const std::string& programPath, const std::string& moduleName) {
  for (const std::string& path : ProgramModuleCandidates(programPath, moduleName)) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    path_ = path;
    handle_.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle_) {
      const char* why = dlerror();
      error_ = why ? why : ("cannot load " + path);
    }
    return;
  }
  error_ = moduleName + " is not installed beside the program or in ../lib/parcelix/";
}

TProgramModule::~TProgramModule() = default;

void* TProgramModule::Symbol(const char* name) const { return handle_ ? dlsym(handle_.get(), name) : nullptr; }

void TProgramModule::Refuse(const std::string& why) {
  handle_.reset();
  error_ = why;
}

}  // namespace parcelix
