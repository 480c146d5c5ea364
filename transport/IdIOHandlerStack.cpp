#include "transport/IdIOHandlerStack.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <iterator>

#include "transport/IdStack.h"
#include "transport/IdStackUnix.h"

namespace brv {

TIdIOHandlerStack::TIdIOHandlerStack(TComponent* AOwner) : TIdIOHandlerSocket(AOwner) {}

// A failing receive is reported as -1 with its error number kept, so the read routine closes
// the handler and keeps what was already buffered before it raises the stack's error.
int TIdIOHandlerStack::ReadRawData(TIdBytes& VBuffer) {
  try {
    return FBinding->Receive(VBuffer);
  } catch (const EIdSocketError& e) {
    FLastSocketError = e.LastError();
    return -1;
  }
}

int TIdIOHandlerStack::WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) {
  const int timeout = WriteTimeout();
  auto* stack = dynamic_cast<TIdStackBSDBase*>(GStack);
  try {
    if ((timeout < 0 && !FDeadline.Bounded()) || stack == nullptr)
      return FBinding->Send(ABuffer, AOffset, ALength);
    // With a limit the send never blocks: it takes what fits, waiting for the socket to take
    // some only when it is full, so a peer that stops reading ends the write when the limit
    // passes. The first try goes without a wait: a socket with room takes the bytes at once,
    // and a poll before it would only cost a system call per request.
    const TIdDeadline limit = FDeadline.ForWait(timeout);
    const std::int64_t offset = std::clamp<std::int64_t>(AOffset, 0, std::ssize(ABuffer));
    const int count = static_cast<int>(std::min<std::int64_t>(
        ALength < 0 ? std::ssize(ABuffer) - offset : ALength, std::ssize(ABuffer) - offset));
    for (bool wait = false;; wait = true) {
      if (!BindingAllocated()) throw EIdConnClosedGracefully();
      if (wait && TIdStackUnix::WaitFor(FBinding->Handle(), POLLOUT, limit) == 0) {
        FDeadline.Check();
        FLastSocketError = Id_WSAETIMEDOUT;
        return -1;
      }
      try {
        return stack->WSTransmit(FBinding->Handle(), ABuffer.data() + offset, count, MSG_DONTWAIT);
      } catch (const EIdSocketError& e) {
        // Full: wait until it can take some (again, when ready by poll yet full after all).
        if (e.LastError() != Id_WSAETIMEDOUT && e.LastError() != Id_WSAEWOULDBLOCK) throw;
      }
    }
  } catch (const EIdSocketError& e) {
    FLastSocketError = e.LastError();
    return -1;
  }
}

bool TIdIOHandlerStack::Connected() {
  // Unread bytes make the answer yes whatever the socket holds; only an empty buffer needs the
  // look at the socket (a poll, and a receive when something arrived).
  if (FInputBuffer->Size() == 0) FillInputBuffer(false, 0, false);
  return TIdIOHandlerSocket::Connected();
}

void TIdIOHandlerStack::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  bool lost;
  if (FClosedGracefully) {
    if (BindingAllocated()) {
      Close();
      DoStatus(hsDisconnected);
    }
    lost = true;
  } else {
    lost = !BindingAllocated();
  }
  if (lost && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || FInputBuffer->Size() == 0)) {
    RaiseClosedGracefully();
  }
}

bool TIdIOHandlerStack::Readable(int AMSec) {
  if (!FBinding) throw EIdConnClosedGracefully();
  // Without a limit the answer is yes at once: the blocking receive that follows waits for the
  // data itself, and polling first would only cost a system call per block.
  if (AMSec == IdTimeoutDefault || AMSec == IdTimeoutInfinite) {
    if (!FBinding->HandleAllocated()) throw EIdConnClosedGracefully();
    if (!FDeadline.Bounded()) return true;
    AMSec = IdTimeoutInfinite;
  }
  if (!FDeadline.Bounded()) return FBinding->Readable(AMSec);
  if (!FBinding->HandleAllocated()) throw EIdConnClosedGracefully();
  if (TIdStackUnix::WaitFor(FBinding->Handle(), POLLIN, FDeadline.ForWait(AMSec)) != 0) return true;
  if (AMSec != 0) FDeadline.Check();
  return false;
}

void TIdIOHandlerStack::ConnectToPeer() {
  TIdIOHandlerSocket::ConnectToPeer();
  std::string host = FHost;
  int port = FPort;
  TIdIPVersion version = FIPVersion;
  TIdCustomTransparentProxy* proxy = EnabledProxy();
  if (proxy != nullptr) {
    host = proxy->Host();
    port = proxy->Port();
    version = proxy->IPVersion();
  }
  std::string address;
  if (version == Id_IPv6) {
    if (!TIdStack::CanonicalIPv6Text(host).empty()) {
      address = host;
    } else {
      DoStatus(hsResolving, host);
      address = GStack->ResolveHost(host, Id_IPv6);
    }
  } else {
    if (GStack->IsIP(host)) {
      address = host;
    } else {
      DoStatus(hsResolving, host);
      address = GStack->ResolveHost(host, Id_IPv4);
    }
  }
  FBinding->SetPeer(address, static_cast<std::uint16_t>(port), version);
  DoStatus(hsConnecting, FBinding->PeerIP());
  FDeadline.Check();
  int timeout = FConnectTimeout;
  if (timeout == 0 || timeout == IdTimeoutDefault) timeout = IdTimeoutInfinite;
  if (timeout == IdTimeoutInfinite && !FDeadline.Bounded()) {
    FBinding->Connect();
  } else {
    ConnectWithTimeout(timeout);
  }
  if (proxy != nullptr) proxy->Connect(this, FHost, static_cast<std::uint16_t>(FPort), FIPVersion);
}

void TIdIOHandlerStack::ConnectWithTimeout(int ATimeout) {
  if (!FBinding->ConnectWithTimeout(FDeadline.ForWait(ATimeout))) {
    Close();
    FDeadline.Check();
    throw EIdConnectTimeout();
  }
}

}  // namespace brv
