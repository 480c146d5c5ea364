// Throw-away keys and certificates for tests and benchmarks that talk TLS to real peers, made
// with the openssl command-line tool (P-256 keys, 30 days unless expired) in one folder.
#pragma once

#include <initializer_list>
#include <string>

namespace brv::test {

// A certificate and its private key, as PEM files.
struct KeyPair {
  std::string Cert;
  std::string Key;
};

// What a certificate made by CertificateMaker says.
struct CertificateRequest {
  std::string CommonName;
  std::string SubjectAltName;  // e.g. "DNS:localhost,IP:127.0.0.1"; empty for none
  std::string Usage;           // extendedKeyUsage ("serverAuth", "clientAuth"); empty for none
  bool Expired = false;        // valid only in January 2020
};

// Makes files <name>.pem and <name>.key in one folder. Every call raises std::runtime_error
// naming what it was making when openssl fails; openssl's output is in <folder>/openssl.log.
class CertificateMaker {
 public:
  explicit CertificateMaker(std::string ADir);

  // A root that may sign certificates.
  KeyPair Root(const std::string& AName, const std::string& ACommonName) const;
  // A certificate signed by AIssuer (a root made here).
  KeyPair Issue(const KeyPair& AIssuer, const std::string& AName,
                const CertificateRequest& ARequest) const;
  // A certificate signed by its own key.
  KeyPair SelfSigned(const std::string& AName, const CertificateRequest& ARequest) const;
  // APair's key again, encrypted with APassword; the file's path.
  std::string EncryptedKey(const KeyPair& APair, const std::string& AName,
                           const std::string& APassword) const;
  // APair and AIssuer's certificate as PKCS#12, protected by APassword; the file's path.
  std::string Pkcs12(const KeyPair& APair, const KeyPair& AIssuer, const std::string& AName,
                     const std::string& APassword) const;

  const std::string& Dir() const { return dir_; }
  // Dir()/AName.
  std::string File(const std::string& AName) const { return dir_ + "/" + AName; }

 private:
  void Openssl(std::initializer_list<std::string> AArgs, const std::string& AWhat) const;
  std::string NewKey(const std::string& AName) const;
  std::string Extensions(const std::string& AName, const CertificateRequest& ARequest) const;

  std::string dir_;
};

// The test root and the two server certificates a scripted TLS peer needs, made once per program
// in a folder removed when the program ends: one for "localhost" and 127.0.0.1, one for
// "other.example" only.
struct ServerCertificates {
  std::string CA;  // the root the client trusts
  KeyPair Localhost;
  KeyPair OtherName;
  std::string Error;  // why they could not be made; empty when they were
  static const ServerCertificates& Get();
};

}  // namespace brv::test
