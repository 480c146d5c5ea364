// Enumerations shared by the TLS options and the TLS I/O handlers.
#pragma once

namespace brv {

// Protocol version asked of a TLS engine; tlsUndefined leaves the engine's own default.
enum TwsTLSVersions : int { tlsUndefined = 0, tls1_0 = 1, tls1_1 = 2, tls1_2 = 3, tls1_3 = 4 };

// Which TLS engine an HTTP component uses for https URLs.
enum TwsTLSIOHandler : int { iohOpenSSL = 0, iohSChannel = 1 };

// The OpenSSL interface generation the options were written for (carried and copied only).
enum TwsOpenSSLAPI : int { oslAPI_1_0 = 0, oslAPI_1_1 = 1 };

}  // namespace brv
