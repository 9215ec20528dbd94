// Loads the crypto module (parcelix-crypto.so) with dlopen, as the window
// module is loaded: beside the program, then in ../lib/parcelix/.
#pragma once

#include <string>

#include "midlet/ProgramModule.h"
#include "midlet/crypto/CryptoApi.h"

namespace parcelix {

inline constexpr const char* kCryptoModuleName = "parcelix-crypto.so";

class TCryptoModule {
 public:
  // Loads the module found first; Api() is null and Error() says why when
  // none could be loaded.
  explicit TCryptoModule(const std::string& programPath);

  const ParcelixCryptoApi* Api() const { return api_; }
  const std::string& Error() const { return module_.Error(); }

 private:
  TProgramModule module_;
  const ParcelixCryptoApi* api_ = nullptr;
};

}  // namespace parcelix
