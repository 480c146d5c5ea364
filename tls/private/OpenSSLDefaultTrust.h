// The library's default trust locations in a certificate store, with the default certificate
// file read on first need (private to tls/).
//
// X509_STORE_set_default_paths parses the whole default file (the system's bundle of some
// 140 roots) into the store at once, which costs more than a handshake. The store made here
// holds the same locations, in the same order, but its default file is read by a lookup of
// ours the first time a verification asks for a subject the store does not already hold.
// A chain that ends at a certificate loaded into the store beforehand (a root file) never
// reads it; any other verification sees the file exactly as before.
#pragma once

#include "tls/private/OpenSSLAPI.h"

namespace brv::ossl {

// The lookup method that reads the default file on first need; null when the library lacks
// what it needs (custom lookups came with 1.1.0i), and the stores then read the file at once.
X509_LOOKUP_METHOD* CreateDeferredFileLookupMethod(const Functions& f);
void FreeDeferredFileLookupMethod(const Functions& f, X509_LOOKUP_METHOD* method);

// A new store holding the library's default locations: the default file (through
// ADeferredFile when given, else read now), the default certificate directory and, with
// OpenSSL 3, the default certificate store, each honouring the SSL_CERT_FILE and SSL_CERT_DIR
// environment variables as the library does. Null when the store could not be made.
X509_STORE* NewDefaultTrustStore(const Functions& f, X509_LOOKUP_METHOD* ADeferredFile);

}  // namespace brv::ossl
