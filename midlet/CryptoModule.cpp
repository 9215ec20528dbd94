#include "midlet/CryptoModule.h"

namespace parcelix {

TCryptoModule::TCryptoModule(const std::string& programPath) : module_(programPath, kCryptoModuleName) {
  if (!module_.Loaded()) return;
  const auto entry = reinterpret_cast<ParcelixCryptoApiFn>(module_.Symbol(kCryptoApiSymbol));
  const ParcelixCryptoApi* api = entry ? entry() : nullptr;
  if (!api || api->abi != kCryptoAbi || api->tableSize != sizeof(ParcelixCryptoApi)) {
    module_.Refuse(module_.Path() + " belongs to another version of the program");
    return;
  }
  api_ = api;
}

}  // namespace parcelix
