#include "tls/TLSHandlerFactory.h"

#include "tls/IdSSLIOHandlerSocketOpenSSL.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

namespace brv {

std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeTLSHandler(const TbrvTCPTLS_Options& AOptions,
                                                          TTLSPasswordRequest AOnGetPassword,
                                                          TComponent* AOwner) {
  if (AOptions.IOHandler == iohSChannel) {
    // No files, password or ALPN list reach the second engine.
    return MakeSChannelHandler(AOptions, AOwner);
  }

  auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>(AOwner);
  handler->SetPassThrough(false);
  TIdSSLOptions* ssl = handler->SSLOptions();
  switch (AOptions.Version) {
    case tls1_0:
      ssl->SetMethod(sslvTLSv1);
      break;
    case tls1_1:
      ssl->SetMethod(sslvTLSv1_1);
      break;
    case tls1_2:
      ssl->SetMethod(sslvTLSv1_2);
      break;
    case tls1_3:
      ssl->SetMethod(sslvTLSv1_3);
      break;
    case tlsUndefined:
      break;  // the handler's own default stays
  }
  handler->ALPNProtocols()->Assign(AOptions.ALPNProtocols());
  ssl->SetMode(sslmClient);
  ssl->SetRootCertFile(AOptions.RootCertFile);
  ssl->SetCertFile(AOptions.CertFile);
  ssl->SetKeyFile(AOptions.KeyFile);
  ssl->SetVerifyMode(AOptions.VerifyCertificate ? SSLVerifyBit(sslvrfPeer) : 0);
  if (AOnGetPassword) handler->OnGetPassword = std::move(AOnGetPassword);
  return handler;
}

}  // namespace brv
