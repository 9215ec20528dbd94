// Loads the crypto module (parcelix-crypto.so) with dlopen, as the window
// module is loaded: beside the program, then in ../lib/parcelix/.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midlet/crypto/CryptoApi.h"

namespace parcelix {

inline constexpr const char* kCryptoModuleName = "parcelix-crypto.so";
// Where the module is looked for, in order.
std::vector<std::string> CryptoModuleCandidates(const std::string& programPath);

class TCryptoModule {
 public:
  // Loads the module found first; Api() is null and Error() says why when
  // none could be loaded.
  explicit TCryptoModule(const std::string& programPath);
  ~TCryptoModule();
  TCryptoModule(const TCryptoModule&) = delete;
  TCryptoModule& operator=(const TCryptoModule&) = delete;

  const ParcelixCryptoApi* Api() const { return api_; }
  const std::string& Error() const { return error_; }

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  std::unique_ptr<void, Closer> handle_;
  const ParcelixCryptoApi* api_ = nullptr;
  std::string error_;
};

}  // namespace parcelix
