// The roads the end-to-end tests take to the local SQS service: plain HTTP, and HTTPS through
// each TLS engine with the server's certificate verified against the service's test CA.
// A new engine is one more row here.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tls/brvWebSocket_Types.h"

namespace brv::testing {

struct TE2ETransport {
  const char* Name;        // the test-name suffix
  bool TLS;                // HTTPS (verified) rather than plain HTTP
  TwsTLSIOHandler Engine;  // TLSOptions.IOHandler
  const char* EngineName;  // the command line's --tls-engine value
};

inline std::vector<TE2ETransport> E2ETransports() {
  return {{"http", false, iohOpenSSL, "openssl"},
          {"https_openssl", true, iohOpenSSL, "openssl"},
          {"https_schannel", true, iohSChannel, "gnutls"}};
}

// How a transport appears in test output.
inline void PrintTo(const TE2ETransport& Transport, std::ostream* Out) {
  *Out << Transport.Name;
}

inline std::string E2ETransportName(const ::testing::TestParamInfo<TE2ETransport>& Info) {
  return Info.param.Name;
}

}  // namespace brv::testing
