#include "tests/support/Certificates.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace brv::test {

CertificateMaker::CertificateMaker(std::string ADir) : dir_(std::move(ADir)) {
  // A configuration of our own, so the system's defaults add no extensions.
  WriteTextFile(File("req.cnf"),
                "[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n");
}

void CertificateMaker::Openssl(std::initializer_list<std::string> AArgs,
                               const std::string& AWhat) const {
  std::vector<std::string> args{"openssl"};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  if (RunProgram(args, File("openssl.log")) != 0)
    throw std::runtime_error("openssl could not make " + AWhat + " (see " + File("openssl.log") +
                             ")");
}

std::string CertificateMaker::NewKey(const std::string& AName) const {
  const std::string key = File(AName + ".key");
  Openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key},
          "the key " + AName);
  return key;
}

std::string CertificateMaker::Extensions(const std::string& AName,
                                         const CertificateRequest& ARequest) const {
  std::string text = "basicConstraints=CA:FALSE\n";
  if (!ARequest.SubjectAltName.empty()) text += "subjectAltName=" + ARequest.SubjectAltName + "\n";
  if (!ARequest.Usage.empty()) text += "extendedKeyUsage=" + ARequest.Usage + "\n";
  const std::string file = File(AName + ".ext");
  WriteTextFile(file, text);
  return file;
}

KeyPair CertificateMaker::Root(const std::string& AName, const std::string& ACommonName) const {
  KeyPair root{File(AName + ".pem"), NewKey(AName)};
  Openssl({"req", "-x509", "-new", "-config", File("req.cnf"), "-key", root.Key, "-subj",
           "/CN=" + ACommonName, "-days", "30", "-addext", "basicConstraints=critical,CA:TRUE",
           "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-out", root.Cert},
          "the root " + AName);
  return root;
}

KeyPair CertificateMaker::Issue(const KeyPair& AIssuer, const std::string& AName,
                                const CertificateRequest& ARequest) const {
  KeyPair pair{File(AName + ".pem"), NewKey(AName)};
  const std::string csr = File(AName + ".csr");
  Openssl({"req", "-new", "-config", File("req.cnf"), "-key", pair.Key, "-subj",
           "/CN=" + ARequest.CommonName, "-out", csr},
          "the request " + AName);
  const std::string ext = Extensions(AName, ARequest);
  if (!ARequest.Expired) {
    Openssl({"x509", "-req", "-in", csr, "-CA", AIssuer.Cert, "-CAkey", AIssuer.Key,
             "-CAcreateserial", "-days", "30", "-extfile", ext, "-out", pair.Cert},
            "the certificate " + AName);
    return pair;
  }
  // The "ca" command is the one that takes validity dates in the past.
  const std::string db = File(AName + ".db");
  std::filesystem::create_directories(db);
  WriteTextFile(db + "/index.txt", "");
  WriteTextFile(db + "/serial", "1000\n");
  WriteTextFile(db + "/ca.cnf", "[ca]\ndefault_ca = test_ca\n[test_ca]\ndatabase = " + db +
                                    "/index.txt\nnew_certs_dir = " + db + "\nserial = " + db +
                                    "/serial\ndefault_md = sha256\npolicy = any\n"
                                    "unique_subject = no\n[any]\ncommonName = supplied\n");
  Openssl({"ca", "-batch", "-config", db + "/ca.cnf", "-cert", AIssuer.Cert, "-keyfile",
           AIssuer.Key, "-in", csr, "-startdate", "20200101000000Z", "-enddate", "20200201000000Z",
           "-extfile", ext, "-notext", "-out", pair.Cert},
          "the expired certificate " + AName);
  return pair;
}

KeyPair CertificateMaker::SelfSigned(const std::string& AName,
                                     const CertificateRequest& ARequest) const {
  KeyPair pair{File(AName + ".pem"), NewKey(AName)};
  if (ARequest.SubjectAltName.empty()) {
    Openssl({"req", "-x509", "-new", "-config", File("req.cnf"), "-key", pair.Key, "-subj",
             "/CN=" + ARequest.CommonName, "-days", "30", "-out", pair.Cert},
            "the self-signed certificate " + AName);
  } else {
    Openssl({"req", "-x509", "-new", "-config", File("req.cnf"), "-key", pair.Key, "-subj",
             "/CN=" + ARequest.CommonName, "-days", "30", "-addext",
             "subjectAltName=" + ARequest.SubjectAltName, "-out", pair.Cert},
            "the self-signed certificate " + AName);
  }
  return pair;
}

std::string CertificateMaker::EncryptedKey(const KeyPair& APair, const std::string& AName,
                                           const std::string& APassword) const {
  const std::string key = File(AName + ".key");
  Openssl({"pkey", "-in", APair.Key, "-aes-256-cbc", "-passout", "pass:" + APassword, "-out", key},
          "the encrypted key " + AName);
  return key;
}

std::string CertificateMaker::Pkcs12(const KeyPair& APair, const KeyPair& AIssuer,
                                     const std::string& AName, const std::string& APassword) const {
  const std::string p12 = File(AName + ".p12");
  Openssl({"pkcs12", "-export", "-in", APair.Cert, "-inkey", APair.Key, "-certfile", AIssuer.Cert,
           "-passout", "pass:" + APassword, "-out", p12},
          "the PKCS#12 file " + AName);
  return p12;
}

const ServerCertificates& ServerCertificates::Get() {
  // Removed when the program ends.
  static std::unique_ptr<testing::TTempDir> dir;
  static const ServerCertificates certificates = [] {
    ServerCertificates c;
    try {
      dir = std::make_unique<testing::TTempDir>("brv-server-certs");
      const CertificateMaker maker(dir->Path());
      const KeyPair root = maker.Root("ca", "BRV Test Root");
      c.CA = root.Cert;
      c.Localhost = maker.Issue(root, "localhost",
                                {"localhost", "DNS:localhost,IP:127.0.0.1", "serverAuth", false});
      c.OtherName = maker.Issue(root, "other.example",
                                {"other.example", "DNS:other.example", "serverAuth", false});
    } catch (const std::exception& e) {
      c.Error = e.what();
    }
    return c;
  }();
  return certificates;
}

}  // namespace brv::test
