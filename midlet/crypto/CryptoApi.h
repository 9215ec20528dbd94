// The table of entry points of the crypto module (parcelix-crypto.so): digests,
// certificate reading and RSA-SHA1 verification. Plain C types only, so the
// program and the module meet at a fixed binary interface; the program loads
// the module only when a command verifies or digests something.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Raised whenever the table changes, so a stale module is refused.
inline constexpr int kCryptoAbi = 1;

enum ParcelixDigestKind : int { kDigestSha1 = 1, kDigestSha256 = 2, kDigestSha384 = 3, kDigestSha512 = 4 };
inline constexpr size_t kMaxDigestSize = 64;

enum ParcelixKeyKind : int { kKeyOther = 0, kKeyRsa = 1, kKeyDsa = 2, kKeyEc = 3 };

// What the program shows of a certificate. Texts are NUL-terminated UTF-8,
// cut at their buffer's size.
struct ParcelixCertificateInfo {
  char subject[512];
  char issuer[512];
  int64_t notBefore;  // seconds since 1970 (UTC)
  int64_t notAfter;
  int keyKind;        // ParcelixKeyKind
  int keyBytes;       // the size of a signature made with the key, in bytes
};

// Results of verifyRsaSha1.
enum ParcelixVerifyResult : int {
  kVerifyValid = 1,
  kVerifyMismatch = 0,    // the signature does not belong to this digest
  kVerifyNotDer = -1,     // the certificate cannot be read
  kVerifyNotRsa = -2,     // its key is not an RSA key
  kVerifyBadLength = -3,  // the signature's length is not the key's
  kVerifyFailed = -4,     // the library failed for another reason
};

struct ParcelixCryptoApi {
  int abi;           // kCryptoAbi
  size_t tableSize;  // sizeof(ParcelixCryptoApi)
  // A running digest; null for an unknown kind or when memory runs out.
  void* (*digestNew)(int kind);
  // False when the library reports a failure (the digest is then useless).
  bool (*digestUpdate)(void* digest, const uint8_t* data, size_t size);
  // Writes the digest to out (at least kMaxDigestSize bytes); its length, 0 on failure.
  size_t (*digestFinal)(void* digest, uint8_t* out);
  void (*digestFree)(void* digest);
  // Reads a DER certificate; false when it is none.
  bool (*certificateRead)(const uint8_t* der, size_t size, ParcelixCertificateInfo* info);
  // Verifies an RSA PKCS#1 v1.5 signature over a SHA-1 digest (20 bytes)
  // with the public key of a DER certificate: a ParcelixVerifyResult.
  int (*verifyRsaSha1)(const uint8_t* der, size_t derSize, const uint8_t* sha1, const uint8_t* signature,
                       size_t signatureSize);
};

// The module's one exported entry point: its table.
inline constexpr const char* kCryptoApiSymbol = "parcelix_crypto_api";
using ParcelixCryptoApiFn = const ParcelixCryptoApi* (*)();

// The OpenSSL implementation (the module, and unit tests that link it).
const ParcelixCryptoApi* parcelix_crypto_openssl();

}  // extern "C"
