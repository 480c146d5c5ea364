// TLS option groups: which engine, protocol version, certificate, key and trust files,
// peer verification and the ALPN protocols to offer.
#pragma once

#include <memory>
#include <string>

#include "base/Classes.h"
#include "base/StringList.h"
#include "tls/brvWebSocket_Types.h"

namespace brv {

// Settings that only the OpenSSL engine reads.
class TbrvTCPOpenSSL_Options : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvTCPOpenSSL_Options)
  // Copies APIVersion from another OpenSSL options group; anything else is the default copy.
  void Assign(const TPersistent* Source) override;

  // Carried and copied; the binding always speaks to the library it finds.
  TwsOpenSSLAPI APIVersion = oslAPI_1_0;
};

// The OpenSSL settings of a client connection.
class TbrvOpenSSLClient_Options : public TbrvTCPOpenSSL_Options {
 public:
  BRV_CLASS_NAME(TbrvOpenSSLClient_Options)
};

// The settings both TLS engines share.
class TbrvTCPTLS_Options_Base : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvTCPTLS_Options_Base)
  // Copies the seven fields below from another TLS options group of any kind.
  void Assign(const TPersistent* Source) override;

  // Client certificate file (OpenSSL only).
  std::string CertFile;
  // Private key file of the client certificate (OpenSSL only).
  std::string KeyFile;
  // Password of the key, given to OpenSSL when it asks.
  std::string Password;
  // Trusted root certificates file (OpenSSL only); empty means the system's trust store.
  std::string RootCertFile;
  // Verify the server's certificate chain and its name.
  bool VerifyCertificate = false;
  // Deepest chain the verification accepts; 0 or below means the engine's default.
  int VerifyDepth = 0;
  // Protocol version; tlsUndefined keeps the engine's default.
  TwsTLSVersions Version = tlsUndefined;
};

// The TLS settings of a component: engine choice, ALPN list and OpenSSL settings added.
class TbrvTCPTLS_Options : public TbrvTCPTLS_Options_Base {
 public:
  BRV_CLASS_NAME(TbrvTCPTLS_Options)
  TbrvTCPTLS_Options();
  ~TbrvTCPTLS_Options() override;

  // Copies every field the source has: the base fields from any TLS options group, and
  // IOHandler, the ALPN items and the OpenSSL APIVersion from a TbrvTCPTLS_Options.
  void Assign(const TPersistent* Source) override;

  // Protocols offered by ALPN (OpenSSL only); owned.
  TStringList* ALPNProtocols() const { return alpn_protocols_.get(); }
  // Copies the given list into the owned one.
  void SetALPNProtocols(const TStringList* Value);

  // OpenSSL settings; owned.
  TbrvOpenSSLClient_Options* OpenSSL_Options() const { return openssl_options_.get(); }
  // Copies the given group into the owned one.
  void SetOpenSSL_Options(const TbrvTCPOpenSSL_Options* Value);

  // Which TLS engine to use.
  TwsTLSIOHandler IOHandler = iohOpenSSL;

 private:
  std::unique_ptr<TStringList> alpn_protocols_;
  std::unique_ptr<TbrvOpenSSLClient_Options> openssl_options_;
};

}  // namespace brv
