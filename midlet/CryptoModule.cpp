#include "midlet/CryptoModule.h"

#include <dlfcn.h>
#include <unistd.h>

namespace parcelix {

std::vector<std::string> CryptoModuleCandidates(const std::string& programPath) {
  const auto slash = programPath.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : programPath.substr(0, slash);
  return {dir + "/" + kCryptoModuleName, dir + "/../lib/parcelix/" + kCryptoModuleName};
}

// libcrypto registers exit handlers; RTLD_NODELETE keeps it mapped until the
// process ends, so closing only drops the reference.
void TCryptoModule::Closer::operator()(void* handle) const { dlclose(handle); }

TCryptoModule::TCryptoModule(const std::string& programPath) {
  for (const std::string& path : CryptoModuleCandidates(programPath)) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    handle_.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle_) {
      const char* why = dlerror();
      error_ = why ? why : ("cannot load " + path);
      return;
    }
    const auto entry = reinterpret_cast<ParcelixCryptoApiFn>(dlsym(handle_.get(), kCryptoApiSymbol));
    const ParcelixCryptoApi* api = entry ? entry() : nullptr;
    if (!api || api->abi != kCryptoAbi || api->tableSize != sizeof(ParcelixCryptoApi)) {
      error_ = path + " belongs to another version of the program";
      handle_.reset();
      return;
    }
    api_ = api;
    return;
  }
  error_ = std::string(kCryptoModuleName) + " is not installed beside the program or in ../lib/parcelix/";
}

TCryptoModule::~TCryptoModule() = default;

}  // namespace parcelix
