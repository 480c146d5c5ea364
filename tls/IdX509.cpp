#include "tls/IdX509.h"

#include <cstdio>

#include "base/Hex.h"
#include "tls/private/OpenSSLAPI.h"

namespace brv {

using ossl::API;

std::string TIdX509Name::OneLine() const {
  if (FName == nullptr || API().X509_NAME_oneline == nullptr) return {};
  char buffer[1024] = {};
  API().X509_NAME_oneline(FName, buffer, sizeof buffer);
  return buffer;
}

unsigned long TIdX509Name::Hash() const {
  const ossl::Functions& f = API();
  if (FName == nullptr) return 0;
  if (f.X509_NAME_hash_ex != nullptr) return f.X509_NAME_hash_ex(FName, nullptr, nullptr, nullptr);
  if (f.X509_NAME_hash != nullptr) return f.X509_NAME_hash(FName);
  return 0;
}

std::string TIdX509Name::HashAsString() const {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08lx", Hash());
  return buffer;
}

TIdX509::TIdX509(ossl::X509* AX509, bool ACanFreeX509) : FX509(AX509), FCanFreeX509(ACanFreeX509) {}

TIdX509::~TIdX509() {
  if (FCanFreeX509 && FX509 != nullptr && API().X509_free != nullptr) API().X509_free(FX509);
}

TIdX509Name* TIdX509::Subject() {
  if (!FSubject) {
    const auto fn = API().X509_get_subject_name;
    FSubject =
        std::make_unique<TIdX509Name>(fn != nullptr && FX509 != nullptr ? fn(FX509) : nullptr);
  }
  return FSubject.get();
}

TIdX509Name* TIdX509::Issuer() {
  if (!FIssuer) {
    const auto fn = API().X509_get_issuer_name;
    FIssuer =
        std::make_unique<TIdX509Name>(fn != nullptr && FX509 != nullptr ? fn(FX509) : nullptr);
  }
  return FIssuer.get();
}

TIdBytes TIdX509::Fingerprint(const std::string& ADigest) const {
  const ossl::Functions& f = API();
  if (FX509 == nullptr || f.X509_digest == nullptr) return {};
  const ossl::EVP_MD* (*md)() = nullptr;
  if (ADigest == "MD5")
    md = f.EVP_md5;
  else if (ADigest == "SHA1")
    md = f.EVP_sha1;
  else if (ADigest == "SHA224")
    md = f.EVP_sha224;
  else if (ADigest == "SHA256")
    md = f.EVP_sha256;
  else if (ADigest == "SHA384")
    md = f.EVP_sha384;
  else if (ADigest == "SHA512")
    md = f.EVP_sha512;
  if (md == nullptr) return {};
  unsigned char buffer[64];
  unsigned int length = 0;
  if (f.X509_digest(FX509, md(), buffer, &length) != 1) {
    f.ERR_clear_error();
    return {};
  }
  return TIdBytes(buffer, buffer + length);
}

std::string TIdX509::FingerprintAsString(const std::string& ADigest) const {
  std::string text;
  for (std::uint8_t b : Fingerprint(ADigest)) {
    if (!text.empty()) text += ':';
    AppendHexByte(text, b, true);
  }
  return text;
}

std::string TIdX509::SerialNumber() const {
  const ossl::Functions& f = API();
  if (FX509 == nullptr || f.X509_get_serialNumber == nullptr || f.ASN1_INTEGER_to_BN == nullptr ||
      f.BN_bn2hex == nullptr || f.BN_free == nullptr || f.CRYPTO_free == nullptr)
    return {};
  ossl::BIGNUM* bn = f.ASN1_INTEGER_to_BN(f.X509_get_serialNumber(FX509), nullptr);
  if (bn == nullptr) return {};
  char* hex = f.BN_bn2hex(bn);
  std::string text = hex != nullptr ? hex : "";
  if (hex != nullptr) f.CRYPTO_free(hex, __FILE__, __LINE__);
  f.BN_free(bn);
  return text;
}

long TIdX509::Version() const {
  const auto fn = API().X509_get_version;
  return fn != nullptr && FX509 != nullptr ? fn(FX509) : -1;
}

namespace {

std::tm ToTm(const ossl::ASN1_TIME* ATime) {
  std::tm result{};
  const auto fn = API().ASN1_TIME_to_tm;
  if (ATime != nullptr && fn != nullptr) fn(ATime, &result);
  return result;
}

}  // namespace

std::tm TIdX509::NotBefore() const {
  const auto fn = API().X509_get0_notBefore;
  return ToTm(fn != nullptr && FX509 != nullptr ? fn(FX509) : nullptr);
}

std::tm TIdX509::NotAfter() const {
  const auto fn = API().X509_get0_notAfter;
  return ToTm(fn != nullptr && FX509 != nullptr ? fn(FX509) : nullptr);
}

std::string TIdX509::SignatureAlgorithm() const {
  const ossl::Functions& f = API();
  if (FX509 == nullptr || f.X509_get_signature_nid == nullptr || f.OBJ_nid2ln == nullptr) return {};
  const char* name = f.OBJ_nid2ln(f.X509_get_signature_nid(FX509));
  return name != nullptr ? name : "";
}

std::string TIdX509::DisplayInfo() const {
  const ossl::Functions& f = API();
  if (FX509 == nullptr || f.BIO_s_mem == nullptr || f.X509_print == nullptr ||
      f.BIO_ctrl == nullptr)
    return {};
  ossl::BIO* bio = f.BIO_new(f.BIO_s_mem());
  if (bio == nullptr) return {};
  std::string text;
  if (f.X509_print(bio, FX509) == 1) {
    char* data = nullptr;
    const long length = f.BIO_ctrl(bio, ossl::BIO_CTRL_INFO, 0, &data);
    if (data != nullptr && length > 0) text.assign(data, static_cast<std::size_t>(length));
  }
  f.BIO_free(bio);
  return text;
}

}  // namespace brv
