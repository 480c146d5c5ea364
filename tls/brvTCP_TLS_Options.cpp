#include "tls/brvTCP_TLS_Options.h"

namespace brv {

void TbrvTCPOpenSSL_Options::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TbrvTCPOpenSSL_Options*>(Source)) {
    APIVersion = src->APIVersion;
    return;
  }
  TPersistent::Assign(Source);
}

void TbrvTCPTLS_Options_Base::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TbrvTCPTLS_Options_Base*>(Source)) {
    CertFile = src->CertFile;
    KeyFile = src->KeyFile;
    Password = src->Password;
    RootCertFile = src->RootCertFile;
    VerifyCertificate = src->VerifyCertificate;
    VerifyDepth = src->VerifyDepth;
    Version = src->Version;
    return;
  }
  TPersistent::Assign(Source);
}

TbrvTCPTLS_Options::TbrvTCPTLS_Options()
    : alpn_protocols_(std::make_unique<TStringList>()),
      openssl_options_(std::make_unique<TbrvOpenSSLClient_Options>()) {}

TbrvTCPTLS_Options::~TbrvTCPTLS_Options() = default;

void TbrvTCPTLS_Options::Assign(const TPersistent* Source) {
  TbrvTCPTLS_Options_Base::Assign(Source);
  if (const auto* src = dynamic_cast<const TbrvTCPTLS_Options*>(Source)) {
    IOHandler = src->IOHandler;
    alpn_protocols_->Assign(src->alpn_protocols_.get());
    openssl_options_->Assign(src->openssl_options_.get());
  }
}

void TbrvTCPTLS_Options::SetALPNProtocols(const TStringList* Value) {
  if (Value == nullptr) {
    alpn_protocols_->Clear();
    return;
  }
  alpn_protocols_->Assign(Value);
}

void TbrvTCPTLS_Options::SetOpenSSL_Options(const TbrvTCPOpenSSL_Options* Value) {
  openssl_options_->Assign(Value);
}

}  // namespace brv
