// The crypto module's table on OpenSSL's libcrypto: digests, certificate
// reading and RSA-SHA1 verification over a digest computed by the caller.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "midlet/crypto/CryptoApi.h"

namespace {

template <auto Free>
struct Freer {
  template <class T>
  void operator()(T* p) const {
    Free(p);
  }
};
using X509Ptr = std::unique_ptr<X509, Freer<X509_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO_free>>;

const EVP_MD* DigestOf(int kind) {
  switch (kind) {
    case kDigestSha1: return EVP_sha1();
    case kDigestSha256: return EVP_sha256();
    case kDigestSha384: return EVP_sha384();
    case kDigestSha512: return EVP_sha512();
  }
  return nullptr;
}

void* DigestNew(int kind) {
  const EVP_MD* md = DigestOf(kind);
  if (!md) return nullptr;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx && EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

bool DigestUpdate(void* digest, const uint8_t* data, size_t size) {
  return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(digest), data, size) == 1;
}

size_t DigestFinal(void* digest, uint8_t* out) {
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(digest), out, &n) != 1) return 0;
  return n;
}

void DigestFree(void* digest) { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(digest)); }

// A DER certificate that covers the whole input; null otherwise.
X509Ptr ReadDer(const uint8_t* der, size_t size) {
  if (!der || size == 0 || size > size_t(INT32_MAX)) return nullptr;
  const unsigned char* p = der;
  X509Ptr cert(d2i_X509(nullptr, &p, long(size)));
  if (cert && p != der + size) return nullptr;  // bytes after the certificate
  return cert;
}

// "C=FI, O=Example, CN=Signer" in UTF-8, cut to cap bytes with its NUL.
void PrintName(const X509_NAME* name, char* out, size_t cap) {
  out[0] = '\0';
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || !name) return;
  const unsigned long flags = (XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SPC_EQ) | ASN1_STRFLGS_UTF8_CONVERT;
  if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) return;
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  if (n <= 0 || !data) return;
  size_t len = std::min(size_t(n), cap - 1);
  // Do not cut a UTF-8 sequence in two.
  while (len > 0 && len < size_t(n) && (uint8_t(data[len]) & 0xC0) == 0x80) --len;
  std::memcpy(out, data, len);
  out[len] = '\0';
}

int64_t TimeOf(const ASN1_TIME* t) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  return int64_t(timegm(&tm));
}

int KeyKindOf(const EVP_PKEY* key) {
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA: return kKeyRsa;
    case EVP_PKEY_DSA: return kKeyDsa;
    case EVP_PKEY_EC: return kKeyEc;
  }
  return kKeyOther;
}

bool CertificateRead(const uint8_t* der, size_t size, ParcelixCertificateInfo* info) {
  X509Ptr cert = ReadDer(der, size);
  if (!cert || !info) return false;
  PrintName(X509_get_subject_name(cert.get()), info->subject, sizeof info->subject);
  PrintName(X509_get_issuer_name(cert.get()), info->issuer, sizeof info->issuer);
  info->notBefore = TimeOf(X509_get0_notBefore(cert.get()));
  info->notAfter = TimeOf(X509_get0_notAfter(cert.get()));
  const EVP_PKEY* key = X509_get0_pubkey(cert.get());
  info->keyKind = key ? KeyKindOf(key) : kKeyOther;
  info->keyBytes = key ? EVP_PKEY_get_size(key) : 0;
  return true;
}

int VerifyRsaSha1(const uint8_t* der, size_t derSize, const uint8_t* sha1, const uint8_t* signature,
                  size_t signatureSize) {
  X509Ptr cert = ReadDer(der, derSize);
  if (!cert) return kVerifyNotDer;
  EVP_PKEY* key = X509_get0_pubkey(cert.get());
  if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return kVerifyNotRsa;
  if (EVP_PKEY_get_size(key) <= 0 || size_t(EVP_PKEY_get_size(key)) != signatureSize) return kVerifyBadLength;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) != 1)
    return kVerifyFailed;
  return EVP_PKEY_verify(ctx.get(), signature, signatureSize, sha1, 20) == 1 ? kVerifyValid : kVerifyMismatch;
}

const ParcelixCryptoApi kOpenSslApi = {
    kCryptoAbi,   sizeof(ParcelixCryptoApi), DigestNew,       DigestUpdate, DigestFinal,
    DigestFree,   CertificateRead,           VerifyRsaSha1,
};

}  // namespace

extern "C" const ParcelixCryptoApi* parcelix_crypto_openssl() { return &kOpenSslApi; }
