#include "tls/TLSHandlerFactory.h"

#include <mutex>

#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

namespace brv {
namespace {

std::mutex& MakerLock() {
  static std::mutex lock;
  return lock;
}

TSChannelHandlerMaker& SChannelMaker() {
  static TSChannelHandlerMaker maker;
  return maker;
}

}  // namespace

void SetSChannelHandlerMaker(TSChannelHandlerMaker AMaker) {
  std::lock_guard<std::mutex> guard(MakerLock());
  SChannelMaker() = std::move(AMaker);
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeTLSHandler(const TbrvTCPTLS_Options& AOptions,
                                                          TTLSPasswordRequest AOnGetPassword,
                                                          TComponent* AOwner) {
  if (AOptions.IOHandler == iohSChannel) {
    TSChannelHandlerMaker maker;
    {
      std::lock_guard<std::mutex> guard(MakerLock());
      maker = SChannelMaker();
    }
    // No files, password or ALPN list reach the second engine.
    return maker ? maker(AOptions, AOwner) : nullptr;
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
