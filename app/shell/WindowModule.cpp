#include "app/shell/WindowModule.h"

#include <dlfcn.h>
#include <unistd.h>

namespace parcelix {

std::vector<std::string> WindowModuleCandidates(const std::string& programPath) {
  const auto slash = programPath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : programPath.substr(0, slash);
  return {dir + "/" + kWindowModuleName, dir + "/../lib/parcelix/" + kWindowModuleName};
}

void TWindowModule::Closer::operator()(void* handle) const {
  // Loaded with RTLD_NODELETE: the Qt libraries stay mapped until the process
  // ends (their exit handlers run then), this only drops the reference.
  dlclose(handle);
}

TWindowModule::TWindowModule(const std::string& programPath) {
  for (const std::string& path : WindowModuleCandidates(programPath)) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    handle_.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle_) {
      const char* why = dlerror();
      error_ = why ? why : ("cannot load " + path);
      return;
    }
    const auto* abi = static_cast<const int*>(dlsym(handle_.get(), kWindowAbiSymbol));
    if (!abi || *abi != kWindowAbi) {
      error_ = path + " belongs to another version of the program";
      handle_.reset();
      return;
    }
    run_ = reinterpret_cast<WindowRunFn>(dlsym(handle_.get(), kWindowRunSymbol));
    message_ = reinterpret_cast<WindowMessageFn>(dlsym(handle_.get(), kWindowMessageSymbol));
    if (!Loaded()) error_ = path + " lacks its entry points";
    return;
  }
  error_ = std::string(kWindowModuleName) + " is not installed beside the program or in ../lib/parcelix/";
}

TWindowModule::~TWindowModule() = default;

bool TWindowModule::ShowMessage(const UserMessage& m) const {
  return Loaded() && message_(m.title.c_str(), m.text.c_str(), static_cast<int>(m.icon)) != 0;
}

}  // namespace parcelix
