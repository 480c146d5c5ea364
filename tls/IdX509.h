// TIdX509: a read-only view of one certificate held by OpenSSL (subject, issuer, fingerprints,
// serial number, validity, signature algorithm and a printable dump).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "base/Classes.h"
#include "transport/IdGlobal.h"

namespace brv {

namespace ossl {
struct X509;
struct X509_NAME;
}  // namespace ossl

// A distinguished name of a certificate.
class TIdX509Name : public TObject {
 public:
  BRV_CLASS_NAME(TIdX509Name)
  explicit TIdX509Name(const ossl::X509_NAME* AName) : FName(AName) {}
  // The name on one line ("/C=DE/O=Example/CN=localhost").
  std::string OneLine() const;
  // OpenSSL's hash of the name (the file name stem of a hashed certificate directory).
  unsigned long Hash() const;
  std::string HashAsString() const;

 private:
  const ossl::X509_NAME* FName;
};

class TIdX509 : public TObject {
 public:
  BRV_CLASS_NAME(TIdX509)
  // A view of AX509; with ACanFreeX509 the view frees the certificate when it goes.
  TIdX509(ossl::X509* AX509, bool ACanFreeX509 = true);
  ~TIdX509() override;

  TIdX509Name* Subject();
  TIdX509Name* Issuer();
  // Fingerprints: the raw digest, and as upper-case hexadecimal pairs joined by ":".
  TIdBytes Fingerprint(const std::string& ADigest) const;
  std::string FingerprintAsString(const std::string& ADigest) const;
  TIdBytes MD5Fingerprint() const { return Fingerprint("MD5"); }
  TIdBytes SHA1Fingerprint() const { return Fingerprint("SHA1"); }
  TIdBytes SHA224Fingerprint() const { return Fingerprint("SHA224"); }
  TIdBytes SHA256Fingerprint() const { return Fingerprint("SHA256"); }
  TIdBytes SHA384Fingerprint() const { return Fingerprint("SHA384"); }
  TIdBytes SHA512Fingerprint() const { return Fingerprint("SHA512"); }
  // Upper-case hexadecimal serial number.
  std::string SerialNumber() const;
  // The certificate's version number as written in it (0 for v1, 2 for v3).
  long Version() const;
  // Start and end of validity, UTC.
  std::tm NotBefore() const;
  std::tm NotAfter() const;
  // Long name of the signature algorithm ("sha256WithRSAEncryption").
  std::string SignatureAlgorithm() const;
  // OpenSSL's printable dump of the whole certificate.
  std::string DisplayInfo() const;
  ossl::X509* Certificate() const { return FX509; }

 private:
  ossl::X509* FX509;
  bool FCanFreeX509;
  std::unique_ptr<TIdX509Name> FSubject;
  std::unique_ptr<TIdX509Name> FIssuer;
};

}  // namespace brv
