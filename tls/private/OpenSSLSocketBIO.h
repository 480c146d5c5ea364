// A BIO of our own over a connected socket (private to tls/).
//
// OpenSSL's own socket BIO writes with plain send(), which raises SIGPIPE when the peer has
// gone, and blocks without limit. Ours never blocks and never signals: reads use recv with
// MSG_DONTWAIT and writes send with MSG_NOSIGNAL | MSG_DONTWAIT; when the socket is not ready
// the BIO asks OpenSSL to retry, and the caller waits with poll() for the time it has left.
#pragma once

#include "tls/private/OpenSSLAPI.h"

namespace brv::ossl {

// What the BIO knows of its socket.
struct SocketBIOState {
  int fd = -1;
  int last_error = 0;  // errno of the last failing recv or send, 0 when none
  // While set, reads ask OpenSSL to retry without looking at the socket: the caller has
  // work to do before the peer's answer is read.
  bool hold_reads = false;
};

// Makes the BIO method table (once per binding) and frees it at release.
BIO_METHOD* CreateSocketBIOMethod(const Functions& api);
void FreeSocketBIOMethod(const Functions& api, BIO_METHOD* method);

// A new BIO over `state` (not owned; it must outlive the BIO). Null when OpenSSL fails.
BIO* NewSocketBIO(SocketBIOState* state);

}  // namespace brv::ossl
