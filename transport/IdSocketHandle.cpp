#include "transport/IdSocketHandle.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <exception>

#include "transport/IdException.h"

namespace brv {

TIdSocketHandle::TIdSocketHandle() : FReadSocketList(TIdSocketList::CreateSocketList()) {
  // A handle can live outside any component, so it holds a use of the stack of its own.
  TIdStack::IncUsage();
}

TIdSocketHandle::~TIdSocketHandle() {
  try {
    CloseSocket();
  } catch (...) {
    // Closing ignores the results of the calls; nothing may escape a destructor.
  }
  TIdStack::DecUsage();
}

void TIdSocketHandle::AllocateSocket(int ASocketType, int AProtocol) {
  if (FHandleAllocated) {
    CloseSocket();
    Reset(false);
  }
  SetHandle(GStack->NewSocketHandle(ASocketType, AProtocol, FIPVersion, FOverLapped));
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle AHandle) {
  if (FHandle != Id_INVALID_SOCKET) FReadSocketList->Remove(FHandle);
  FHandle = AHandle;
  FHandleAllocated = AHandle != Id_INVALID_SOCKET;
  if (!FHandleAllocated) {
    FSocketType = 0;
    return;
  }
  FReadSocketList->Add(FHandle);
  GStack->GetSocketOption(FHandle, SOL_SOCKET, SO_TYPE, FSocketType);
  if (FSocketType == Id_SOCK_STREAM) {
    int no_delay = 0;
    GStack->GetSocketOption(FHandle, IPPROTO_TCP, TCP_NODELAY, no_delay);
    FUseNagle = no_delay == 0;
  }
}

bool TIdSocketHandle::TryBindPort(std::uint16_t APort) {
  try {
    GStack->Bind(FHandle, FIP, APort, FIPVersion);
    FPort = APort;
    UpdateBindingLocal();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void TIdSocketHandle::Bind() {
  GStack->SetSocketOption(FHandle, SOL_SOCKET, SO_REUSEADDR, FReuseSocket == rsTrue ? 1 : 0);
  if (FPort == 0 && FClientPortMin != 0 && FClientPortMax != 0) {
    if (FClientPortMin > FClientPortMax) {
      throw EIdInvalidPortRange(
          Format("Invalid Port Range (%d - %d)", FClientPortMin, FClientPortMax));
    }
    for (int port = FClientPortMax; port >= FClientPortMin; --port) {
      if (TryBindPort(static_cast<std::uint16_t>(port))) return;
    }
    throw EIdCanNotBindPortInRange(
        Format("Can not bind in port range (%d - %d)", FClientPortMin, FClientPortMax));
  }
  try {
    GStack->Bind(FHandle, FIP, FPort, FIPVersion);
    UpdateBindingLocal();
  } catch (const Exception&) {
    // The cause stays reachable as the nested exception.
    std::throw_with_nested(EIdCouldNotBindSocket());
  }
}

void TIdSocketHandle::Connect() {
  GStack->Connect(FHandle, FPeerIP, FPeerPort, FIPVersion);
  RefreshAfterConnect();
}

void TIdSocketHandle::RefreshAfterConnect() {
  std::lock_guard<std::recursive_mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  UpdateBindingLocal();
  try {
    UpdateBindingPeer();
  } catch (const EIdSocketError& e) {
    // A peer that resets right after accepting leaves no peer name to read. The connect did
    // succeed: the peer fields keep the address connected to, and the next read or write
    // reports the reset itself.
    if (e.LastError() != Id_WSAENOTCONN) throw;
  }
}

bool TIdSocketHandle::ConnectWithTimeout(const TIdDeadline& ALimit) {
  auto* stack = dynamic_cast<TIdStackBSDBase*>(GStack);
  if (stack == nullptr) {
    Connect();
    return true;
  }
  if (!stack->ConnectWithTimeout(FHandle, FPeerIP, FPeerPort, FIPVersion, ALimit)) return false;
  RefreshAfterConnect();
  return true;
}

void TIdSocketHandle::CloseSocket() {
  std::lock_guard<std::recursive_mutex> guard(FConnectionHandle);
  if (!FHandleAllocated) return;
  FHandleAllocated = false;
  DisconnectSocket();
  SetHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::DisconnectSocket() {
  if (FHandle != Id_INVALID_SOCKET) GStack->Disconnect(FHandle);
}

int TIdSocketHandle::Receive(TIdBytes& VBuffer) {
  return GStack->Receive(FHandle, VBuffer);
}

int TIdSocketHandle::Send(const TIdBytes& ABuffer, int AOffset, int ASize) {
  return GStack->Send(FHandle, ABuffer, AOffset, ASize);
}

bool TIdSocketHandle::Readable(int AMSec) {
  if (AMSec == IdTimeoutDefault) AMSec = IdTimeoutInfinite;
  if (!FHandleAllocated) throw EIdConnClosedGracefully();
  return Select(AMSec);
}

bool TIdSocketHandle::Select(int ATimeout) {
  return FReadSocketList->SelectRead(ATimeout);
}

void TIdSocketHandle::SetPeer(const std::string& AIP, std::uint16_t APort,
                              TIdIPVersion AIPVersion) {
  FPeerIP = AIP;
  FPeerPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::SetBinding(const std::string& AIP, std::uint16_t APort,
                                 TIdIPVersion AIPVersion) {
  FIP = AIP;
  FPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::Reset(bool AResetLocal) {
  // A socket still open is closed rather than forgotten, so no descriptor leaks.
  CloseSocket();
  SetHandle(Id_INVALID_SOCKET);
  FPeerIP.clear();
  FPeerPort = 0;
  FIPVersion = Id_IPv4;
  if (AResetLocal) {
    FIP.clear();
    FPort = 0;
  }
}

void TIdSocketHandle::UpdateBindingLocal() {
  GStack->GetSocketName(FHandle, FIP, FPort, FIPVersion);
}

void TIdSocketHandle::UpdateBindingPeer() {
  GStack->GetPeerName(FHandle, FPeerIP, FPeerPort, FIPVersion);
}

void TIdSocketHandle::GetSockOpt(int ALevel, int AOptName, int& VOptVal) {
  GStack->GetSocketOption(FHandle, ALevel, AOptName, VOptVal);
}

void TIdSocketHandle::SetSockOpt(int ALevel, int AOptName, int AOptVal) {
  GStack->SetSocketOption(FHandle, ALevel, AOptName, AOptVal);
}

void TIdSocketHandle::SetNagleOpt(bool AEnabled) {
  SetSockOpt(IPPROTO_TCP, TCP_NODELAY, AEnabled ? 0 : 1);
}

void TIdSocketHandle::SetUseNagle(bool AValue) {
  if (AValue == FUseNagle) return;
  FUseNagle = AValue;
  if (FHandleAllocated && FSocketType == Id_SOCK_STREAM) SetNagleOpt(AValue);
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion AValue) {
  if (AValue == FIPVersion) return;
  if (FHandleAllocated) throw EIdCannotSetIPVersionWhenConnected();
  FIPVersion = AValue;
}

void TIdSocketHandle::Listen(int AQueueCount) {
  GStack->Listen(FHandle, AQueueCount);
}

bool TIdSocketHandle::Accept(TIdStackSocketHandle ASocket) {
  Reset();
  std::string ip;
  std::uint16_t port = 0;
  TIdIPVersion version = Id_IPv4;
  const TIdStackSocketHandle accepted = GStack->Accept(ASocket, ip, port, version);
  if (accepted == Id_INVALID_SOCKET) return false;
  SetHandle(accepted);
  SetPeer(ip, port, version);
  UpdateBindingLocal();
  return true;
}

void TIdSocketHandle::SetKeepAliveValues(bool AEnabled, int ATimeMS, int AInterval) {
  GStack->SetKeepAliveValues(FHandle, AEnabled, ATimeMS, AInterval);
}

void TIdSocketHandle::Assign(const TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TIdSocketHandle*>(Source)) {
    FIP = other->FIP;
    FPort = other->FPort;
    FPeerIP = other->FPeerIP;
    FPeerPort = other->FPeerPort;
    FIPVersion = other->FIPVersion;
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace brv
