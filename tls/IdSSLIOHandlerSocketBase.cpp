#include "tls/IdSSLIOHandlerSocketBase.h"

namespace brv {

TIdSSLIOHandlerSocketBase::TIdSSLIOHandlerSocketBase(TComponent* AOwner)
    : TIdIOHandlerStack(AOwner) {}

TStringList* TIdSSLIOHandlerSocketBase::ALPNProtocols() {
  if (!FALPNProtocols) FALPNProtocols = std::make_unique<TStringList>();
  return FALPNProtocols.get();
}

void TIdSSLIOHandlerSocketBase::SetALPNProtocols(const TStringList* Value) {
  if (!FALPNProtocols) return;
  if (Value == nullptr)
    FALPNProtocols->Clear();
  else
    FALPNProtocols->Assign(Value);
}

void TIdSSLIOHandlerSocketBase::ConnectInClear() {
  const bool pass_through = fPassThrough;
  fPassThrough = true;
  try {
    TIdIOHandlerStack::ConnectToPeer();
  } catch (...) {
    fPassThrough = pass_through;
    throw;
  }
  fPassThrough = pass_through;
}

int TIdSSLIOHandlerSocketBase::ReadRawData(TIdBytes& VBuffer) {
  if (fPassThrough) return TIdIOHandlerStack::ReadRawData(VBuffer);
  return ReadDecrypted(VBuffer);
}

int TIdSSLIOHandlerSocketBase::WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (fPassThrough) return TIdIOHandlerStack::WriteRawData(ABuffer, AOffset, ALength);
  return WriteEncrypted(ABuffer, AOffset, ALength);
}

}  // namespace brv
