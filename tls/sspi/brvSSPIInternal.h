// Private pieces shared by the security calls and the certificate calls of the security
// interface layer. Not for use outside tls/sspi/.
#pragma once

#include "tls/sspi/brvSSPI.h"
#include "tls/sspi/GnuTLSBinding.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brv::sspi::detail {

using Bytes = std::vector<std::uint8_t>;

// What a client credential needs of a certificate: the certificate, the chain sent with it
// and its private key.
struct ClientCertMaterial {
  std::vector<Bytes> chain;  // DER, the certificate first
  Bytes key;                 // the private key as found
  gnutls_x509_crt_fmt_t keyFormat = GNUTLS_X509_FMT_PEM;
};

// The UTF-8 text of a NUL-terminated UTF-16 string (null gives ""). A surrogate pair is one
// character; a lone surrogate is written as it comes.
std::string Utf16ToUtf8(const char16_t* s);

// A certificate context of a new in-memory store holding certs (the first is the one
// returned, the others are its store's companions, as the peer sent them). Null on error.
PCCERT_CONTEXT MakePeerCertContext(const gnutls_datum_t* certs, unsigned count);

// The key material of a certificate context, or null when it has no private key.
std::shared_ptr<const ClientCertMaterial> KeyMaterialOf(PCCERT_CONTEXT cert);

}  // namespace brv::sspi::detail
