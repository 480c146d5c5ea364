// Making the TLS I/O handler of a component from its TLS options: the engine the options name,
// configured as the HTTP component's EnsureTLSHandler asks (client mode, TLS from the first
// byte, version, files, verification, ALPN list and the key password).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tls/IdSSLIOHandlerSocketBase.h"
#include "tls/brvTCP_TLS_Options.h"

namespace brv {

// Answers the engine's request for the key password.
using TTLSPasswordRequest = std::function<void(std::string& VPassword)>;

// A new, configured TLS handler for AOptions.IOHandler: the OpenSSL engine or the second engine
// (which takes only the version, verification and the root certificates file). Creating and
// configuring raises nothing; loading OpenSSL, reading the files and the handshake happen when
// the connection opens. Both engines are part of the TLS layer, so neither needs registering.
std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeTLSHandler(const TbrvTCPTLS_Options& AOptions,
                                                          TTLSPasswordRequest AOnGetPassword,
                                                          TComponent* AOwner = nullptr);

}  // namespace brv
