// The crypto module's exported entry point: the table of its OpenSSL implementation.
#include "midlet/crypto/CryptoApi.h"

extern "C" __attribute__((visibility("default"))) const ParcelixCryptoApi* parcelix_crypto_api() {
  return parcelix_crypto_openssl();
}
