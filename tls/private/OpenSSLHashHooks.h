// The hash hooks filled with OpenSSL's digest and HMAC functions (private to tls/).
#pragma once

#include "base/brvIdHashHooks.h"

namespace brv::ossl {

// The table InstallOpenSSLHashHooks installs. Every availability hook answers false
// until EnsureOpenSSLLoaded has bound the functions it needs.
TIdHashHooks OpenSSLHashHookTable();

struct Functions;
// Frees the digest and HMAC contexts the calling thread keeps for its next hashes; the binding
// calls it with its functions before it releases the library. Other threads' kept contexts
// are abandoned then (never used with another binding).
void FreeThreadHashContexts(const Functions& AFunctions);

}  // namespace brv::ossl
