#include "transport/IdIOHandlerSocket.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "transport/IdStack.h"

namespace brv {

// ---------------------------------------------------------------------------------------------
// Transparent proxy hook

void TIdCustomTransparentProxy::Connect(TIdIOHandler*, const std::string&, std::uint16_t,
                                        TIdIPVersion) {}

void TIdCustomTransparentProxy::Assign(const TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TIdCustomTransparentProxy*>(Source)) {
    FHost = other->FHost;
    FPort = other->FPort;
    FIPVersion = other->FIPVersion;
    FChainedProxy = other->FChainedProxy;
    return;
  }
  TIdComponent::Assign(Source);
}

std::unique_ptr<TIdCustomTransparentProxy> TIdCustomTransparentProxy::CloneEmpty() const {
  return std::make_unique<TIdCustomTransparentProxy>();
}

// ---------------------------------------------------------------------------------------------
// Socket handler

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* AOwner) : TIdIOHandler(AOwner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  try {
    if (FBinding) FBinding->CloseSocket();
  } catch (...) {
    // Nothing may escape a destructor; the socket is closed either way.
  }
  if (FTransparentProxy != nullptr && !FImplicitTransparentProxy) {
    RemoveFreeNotification(FTransparentProxy);
  }
}

std::string TIdIOHandlerSocket::Destination() const {
  if (FPort > 0 && FPort != FDefaultPort) return FHost + ":" + std::to_string(FPort);
  return FHost;
}

void TIdIOHandlerSocket::SetDestination(const std::string& AValue) {
  TIdIOHandler::SetDestination(AValue);
  const std::size_t colon = AValue.rfind(':');
  if (colon == std::string::npos) return;
  SetHost(AValue.substr(0, colon));
  const std::string port_text = TrimText(AValue.substr(colon + 1)).substr(0, 255);
  char* end = nullptr;
  const long port = port_text.empty() ? -1 : std::strtol(port_text.c_str(), &end, 10);
  if (port_text.empty() || *end != '\0' || port < 0 || port > 65535) {
    SetPort(FDefaultPort);
  } else {
    SetPort(static_cast<int>(port));
  }
}

int TIdIOHandlerSocket::CheckTransportError(int ALastResult) {
  if (ALastResult != -1) return ALastResult;
  int err = FLastSocketError;
  FLastSocketError = 0;
  if (err == 0) {
    err = BindingAllocated() ? GStack->WSGetLastErrorOn(FBinding->Handle())
                             : GStack->WSGetLastError();
  }
  if (err != Id_WSAESHUTDOWN && err != Id_WSAECONNABORTED && err != Id_WSAECONNRESET &&
      err != Id_WSAETIMEDOUT) {
    GStack->RaiseSocketError(err);
  }
  return err;
}

void TIdIOHandlerSocket::RaiseTransportError(int AError) {
  GStack->RaiseSocketError(AError);
}

void TIdIOHandlerSocket::AfterAccept() {
  TIdIOHandler::AfterAccept();
  if (FBinding) FIPVersion = FBinding->IPVersion();
}

bool TIdIOHandlerSocket::Connected() {
  const bool connected = TIdIOHandler::Connected();
  return (BindingAllocated() && connected) || FInputBuffer->Size() > 0;
}

void TIdIOHandlerSocket::Close() {
  if (FBinding) FBinding->CloseSocket();
  TIdIOHandler::Close();
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (!FBinding) {
    FBinding = std::make_unique<TIdSocketHandle>();
  } else {
    FBinding->Reset(true);
  }
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  if (!FHost.empty() && FPort > 0) ConnectToPeer();
}

void TIdIOHandlerSocket::ConnectToPeer() {
  FireBeforeBind();
  FBinding->SetIPVersion(FIPVersion);
  FBinding->AllocateSocket(Id_SOCK_STREAM, 0);
  FireSocketAllocated();
  if (!FBoundIP.empty()) FBinding->SetIP(FBoundIP);
  FBinding->SetPort(FBoundPort);
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  FBinding->SetReuseSocket(FReuseSocket);
  FBinding->Bind();
  FBinding->SetUseNagle(FUseNagle);
  FireAfterBind();
}

void TIdIOHandlerSocket::FireBeforeBind() {
  if (OnBeforeBind) OnBeforeBind(this);
}
void TIdIOHandlerSocket::FireAfterBind() {
  if (OnAfterBind) OnAfterBind(this);
}
void TIdIOHandlerSocket::FireSocketAllocated() {
  if (OnSocketAllocated) OnSocketAllocated(this);
}

std::int64_t TIdIOHandlerSocket::WriteFile(const std::string& AFile, bool AEnableTransferFile) {
  struct stat info {};
  if (::stat(AFile.c_str(), &info) != 0) return 0;
  return TIdIOHandler::WriteFile(AFile, AEnableTransferFile);
}

bool TIdIOHandlerSocket::BindingAllocated() const {
  return FBinding && FBinding->HandleAllocated();
}

TIdReuseSocket TIdIOHandlerSocket::ReuseSocket() const {
  return FBinding ? FBinding->ReuseSocket() : FReuseSocket;
}

void TIdIOHandlerSocket::SetReuseSocket(TIdReuseSocket AValue) {
  FReuseSocket = AValue;
  if (FBinding) FBinding->SetReuseSocket(AValue);
}

bool TIdIOHandlerSocket::UseNagle() const {
  return FBinding ? FBinding->UseNagle() : FUseNagle;
}

void TIdIOHandlerSocket::SetUseNagle(bool AValue) {
  FUseNagle = AValue;
  if (FBinding) FBinding->SetUseNagle(AValue);
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::TransparentProxy() {
  if (FTransparentProxy == nullptr) {
    FImplicitProxy = std::make_unique<TIdCustomTransparentProxy>();
    FTransparentProxy = FImplicitProxy.get();
    FImplicitTransparentProxy = true;
  }
  return FTransparentProxy;
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* AProxy) {
  if (AProxy == FTransparentProxy) return;
  // Let go of the current one.
  if (FImplicitTransparentProxy) {
    FImplicitProxy.reset();
  } else if (FTransparentProxy != nullptr) {
    RemoveFreeNotification(FTransparentProxy);
  }
  FTransparentProxy = nullptr;
  FImplicitTransparentProxy = false;
  if (AProxy == nullptr) return;
  if (AProxy->Owner() != nullptr) {
    FTransparentProxy = AProxy;
    FreeNotification(AProxy);
  } else {
    FImplicitProxy = AProxy->CloneEmpty();
    FImplicitProxy->Assign(AProxy);
    FTransparentProxy = FImplicitProxy.get();
    FImplicitTransparentProxy = true;
  }
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::EnabledProxy() const {
  return FTransparentProxy != nullptr && FTransparentProxy->Enabled() ? FTransparentProxy : nullptr;
}

void TIdIOHandlerSocket::Notification(TComponent* AComponent, TOperation Operation) {
  TIdIOHandler::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FTransparentProxy &&
      !FImplicitTransparentProxy) {
    FTransparentProxy = nullptr;
  }
}

}  // namespace brv
