// The hash hooks filled with OpenSSL's digest and HMAC functions (private to tls/).
#pragma once

#include "base/brvIdHashHooks.h"

namespace brv::ossl {

// The table InstallOpenSSLHashHooks installs. Every availability hook answers false
// until EnsureOpenSSLLoaded has bound the functions it needs.
TIdHashHooks OpenSSLHashHookTable();

}  // namespace brv::ossl
