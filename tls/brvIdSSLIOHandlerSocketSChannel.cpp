#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

#include <algorithm>

#include "base/IdURI.h"
#include "tls/private/SChannelLink.h"
#include "transport/IdStack.h"

namespace brv {

namespace {

std::string StripBrackets(const std::string& AHost) {
  if (AHost.size() >= 2 && AHost.front() == '[' && AHost.back() == ']')
    return AHost.substr(1, AHost.size() - 2);
  return AHost;
}

}  // namespace

TbrvIdSSLIOHandlerSocketSChannel::TbrvIdSSLIOHandlerSocketSChannel(TComponent* aOwner)
    : TIdSSLIOHandlerSocketBase(aOwner) {}

TbrvIdSSLIOHandlerSocketSChannel::~TbrvIdSSLIOHandlerSocketSChannel() {
  FreeLink();
}

std::string TbrvIdSSLIOHandlerSocketSChannel::GetALPNProtocol() {
  return SChannelGetALPN(FSSL.get());
}

int TbrvIdSSLIOHandlerSocketSChannel::LinkTimeout() const {
  return ReadTimeout() > 0 ? ReadTimeout() : -1;
}

void TbrvIdSSLIOHandlerSocketSChannel::CredentialsCallBack(TSSLInfo*, void* AUserData) {
  auto* self = static_cast<TbrvIdSSLIOHandlerSocketSChannel*>(AUserData);
  if (self != nullptr && self->OnCredentials) self->OnCredentials(self);
}

std::string TbrvIdSSLIOHandlerSocketSChannel::GetTargetHost() {
  if (!FURIToCheck.empty()) {
    const std::string host = StripBrackets(TIdURI(FURIToCheck).Host());
    if (!host.empty()) return host;
  }
  if (TIdCustomTransparentProxy* proxy = EnabledProxy()) {
    while (proxy->ChainedProxy() != nullptr && proxy->ChainedProxy()->Enabled())
      proxy = proxy->ChainedProxy();
    if (!proxy->Host().empty()) return StripBrackets(proxy->Host());
  }
  return StripBrackets(Host());
}

void TbrvIdSSLIOHandlerSocketSChannel::StartLink() {
  FreeLink();
  const std::string name = GetTargetHost();
  const int timeout = LinkTimeout();
  FSSL = SChannelConnect(Binding()->Handle(), name, FTLSVersion, ALPNProtocols(),
                         FVerifyCertificate, OnCredentials ? &CredentialsCallBack : nullptr, this,
                         FRootCertFile, timeout > 0 ? timeout : 0, FDeadline);
  if (!FSSL) {
    // A handshake that the deadline or a cancel cut short says so, not "time-out".
    FDeadline.Check();
    throw SChannelError("SChannel initialization error: " + SChannelLastError(),
                        SChannelCertStatus());
  }
  // From now on the event is looked at whenever the link asks, so setting or clearing it
  // takes effect for the rest of the connection (a renegotiation may ask again).
  SChannelSetCallback(FSSL.get(), &CredentialsCallBack, this);
}

void TbrvIdSSLIOHandlerSocketSChannel::FreeLink() {
  SChannelClose(FSSL);
  FDeferred = false;
  FDeferredResult = 0;
}

void TbrvIdSSLIOHandlerSocketSChannel::ConnectToPeer() {
  ConnectInClear();
  StartSSL();
}

void TbrvIdSSLIOHandlerSocketSChannel::StartSSL() {
  if (!fPassThrough) StartLink();
}

void TbrvIdSSLIOHandlerSocketSChannel::SetPassThrough(bool Value) {
  if (fPassThrough == Value) return;
  if (!Value && BindingAllocated()) StartLink();
  fPassThrough = Value;
}

void TbrvIdSSLIOHandlerSocketSChannel::Close() {
  FreeLink();
  TIdSSLIOHandlerSocketBase::Close();
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TbrvIdSSLIOHandlerSocketSChannel::Clone() {
  return std::make_unique<TbrvIdSSLIOHandlerSocketSChannel>();
}

bool TbrvIdSSLIOHandlerSocketSChannel::Readable(int AMSec) {
  if (fPassThrough || !FSSL) return TIdIOHandlerStack::Readable(AMSec);
  if (FDeferred || FSSL->DataCount - FSSL->DataStart > 0) return true;
  int wait = AMSec;
  if (wait == IdTimeoutDefault) {
    wait = ReadTimeout();
    if (wait == IdTimeoutDefault || wait == 0) wait = IdTimeoutInfinite;
  }
  // Wait for the next record with data, within the time given; records without data
  // (session tickets, key updates) are taken on the way.
  SChannelSetTimeout(FSSL.get(), wait < 0 ? -1 : wait, FDeadline);
  FFailure = TFailure::None;
  const int n = FSSL->Readable();
  SChannelSetTimeout(FSSL.get(), -1);
  if (n > 0) return true;
  if (n < 0 && FSSL->TimedOut) {
    // A partial record stays for the next wait; a look without waiting never raises.
    if (wait != 0) FDeadline.Check();
    return false;
  }
  if (n < 0) NoteFailure();
  FDeferred = true;
  FDeferredResult = n;
  return true;
}

bool TbrvIdSSLIOHandlerSocketSChannel::Connected() {
  if (fPassThrough) return TIdIOHandlerStack::Connected();
  if (!FSSL) return false;
  // Takes what has arrived without waiting, so a peer that closed is noticed here.
  FillInputBuffer(false, 0, false);
  return FSSL != nullptr || FInputBuffer->Size() > 0;
}

int TbrvIdSSLIOHandlerSocketSChannel::ReadDecrypted(TIdBytes& VBuffer) {
  if (FDeferred) {
    FDeferred = false;
    return FDeferredResult;
  }
  if (!FSSL) return 0;
  FFailure = TFailure::None;
  SChannelSetTimeout(FSSL.get(), LinkTimeout(), FDeadline);
  const int n = SChannelRead(FSSL.get(), VBuffer.data(), static_cast<int>(VBuffer.size()));
  if (FSSL) SChannelSetTimeout(FSSL.get(), -1);
  if (n < 0) NoteFailure();
  return n;
}

int TbrvIdSSLIOHandlerSocketSChannel::WriteEncrypted(const TIdBytes& ABuffer, int AOffset,
                                                     int ALength) {
  if (!FSSL) return 0;
  FFailure = TFailure::None;
  SChannelSetTimeout(FSSL.get(), LinkTimeout(), FDeadline);
  int offset = AOffset;
  int remaining = ALength;
  int result = ALength;
  while (remaining > 0) {
    const int n = SChannelWrite(FSSL.get(), ABuffer.data() + offset, remaining);
    if (n <= 0) {
      if (n < 0) NoteFailure();
      result = n;
      break;
    }
    offset += n;
    remaining -= n;
  }
  SChannelSetTimeout(FSSL.get(), -1);
  return result;
}

void TbrvIdSSLIOHandlerSocketSChannel::NoteFailure() {
  if (!FSSL) return;
  if (FSSL->TimedOut) {
    // The deadline or a cancel, rather than the time-out, may have ended the wait.
    FDeadline.Check();
    FFailure = TFailure::TimedOut;
    FFailureError = Id_WSAETIMEDOUT;
  } else if (FSSL->SocketFailed) {
    FFailure = TFailure::Socket;
    FFailureError = static_cast<int>(FSSL->Error);
  } else {
    FFailure = TFailure::Security;
    // A number no socket error has, so the error hooks know it again.
    FFailureError = FSSL->Error != 0 ? static_cast<int>(FSSL->Error) : -1;
  }
  FFailureText = SChannelLastError();
}

int TbrvIdSSLIOHandlerSocketSChannel::CheckTransportError(int ALastResult) {
  if (fPassThrough || FFailure == TFailure::None)
    return TIdSSLIOHandlerSocketBase::CheckTransportError(ALastResult);
  switch (FFailure) {
    case TFailure::TimedOut:
      FFailure = TFailure::None;
      return Id_WSAETIMEDOUT;
    case TFailure::Socket:
      FFailure = TFailure::None;
      FLastSocketError = FFailureError;
      return TIdSSLIOHandlerSocketBase::CheckTransportError(-1);
    default:
      return FFailureError;  // RaiseTransportError raises it once the handler closed
  }
}

void TbrvIdSSLIOHandlerSocketSChannel::RaiseTransportError(int AError) {
  if (FFailure == TFailure::Security && AError == FFailureError) {
    FFailure = TFailure::None;
    throw SChannelError(FFailureText, 0);
  }
  TIdSSLIOHandlerSocketBase::RaiseTransportError(AError);
}

// =============================================================================================

std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeSChannelHandler(const TbrvTCPTLS_Options& AOptions,
                                                               TComponent* AOwner) {
  auto handler = std::make_unique<TbrvIdSSLIOHandlerSocketSChannel>(AOwner);
  handler->SetTLSVersion(AOptions.Version);
  handler->SetVerifyCertificate(AOptions.VerifyCertificate);
  handler->SetRootCertFile(AOptions.RootCertFile);
  return handler;
}

}  // namespace brv
