// TIdSocketHandle: one socket of the stack together with its local and peer address, port and
// IP version. The socket I/O handler owns one as its binding.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/Classes.h"
#include "transport/IdGlobal.h"
#include "transport/IdStack.h"

namespace brv {

class TIdSocketHandle : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdSocketHandle)
  TIdSocketHandle();
  // Closes the socket.
  ~TIdSocketHandle() override;

  // Closes any open socket and opens a new one of the handle's IP version.
  void AllocateSocket(int ASocketType = Id_SOCK_STREAM, int AProtocol = 0);
  // Binds IP and Port (or a port of the client range). Raises EIdCouldNotBindSocket,
  // EIdCanNotBindPortInRange or EIdInvalidPortRange.
  void Bind();
  // Connects to PeerIP:PeerPort, then refreshes the local and peer addresses.
  virtual void Connect();
  // Connects without blocking the thread beyond ALimit (or its cancel); false when the limit
  // passed or the wait was cancelled (the socket is left to be closed by the caller).
  bool ConnectWithTimeout(const TIdDeadline& ALimit);
  // Shuts down sending and closes the socket; a second call does nothing.
  virtual void CloseSocket();
  // Shutdown of sending and close, through the stack.
  virtual void DisconnectSocket();
  // One receive into VBuffer; returns the count (0: the peer closed).
  int Receive(TIdBytes& VBuffer);
  // One send; returns the count taken.
  int Send(const TIdBytes& ABuffer, int AOffset = 0, int ASize = -1);
  // Waits for readability (-1 and -2: no limit). EIdConnClosedGracefully without a socket.
  bool Readable(int AMSec = IdTimeoutDefault);
  bool Select(int ATimeout = IdTimeoutInfinite);
  void SetPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion = Id_IPv4);
  void SetBinding(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion = Id_IPv4);
  // Clears the handle and the peer fields (and the local ones with AResetLocal).
  void Reset(bool AResetLocal = true);
  void UpdateBindingLocal();
  void UpdateBindingPeer();
  void GetSockOpt(int ALevel, int AOptName, int& VOptVal);
  void SetSockOpt(int ALevel, int AOptName, int AOptVal);
  // TCP_NODELAY set to the inverse of AEnabled.
  void SetNagleOpt(bool AEnabled);
  // Server side.
  void Listen(int AQueueCount = 15);
  // Accepts a connection into this (unallocated) handle; false when none was accepted.
  bool Accept(TIdStackSocketHandle ASocket);
  void SetKeepAliveValues(bool AEnabled, int ATimeMS, int AInterval);
  // Copies IP, Port, PeerIP, PeerPort and IPVersion from another handle.
  void Assign(const TPersistent* Source) override;

  // ---- properties ----
  bool BroadcastEnabled() const { return FBroadcastEnabled; }
  void SetBroadcastEnabled(bool AValue) { FBroadcastEnabled = AValue; }
  std::uint16_t ClientPortMin() const { return FClientPortMin; }
  void SetClientPortMin(std::uint16_t AValue) { FClientPortMin = AValue; }
  std::uint16_t ClientPortMax() const { return FClientPortMax; }
  void SetClientPortMax(std::uint16_t AValue) { FClientPortMax = AValue; }
  const std::string& IP() const { return FIP; }
  void SetIP(const std::string& AValue) { FIP = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  // Raises EIdCannotSetIPVersionWhenConnected for a different value while a socket is open.
  void SetIPVersion(TIdIPVersion AValue);
  std::uint16_t Port() const { return FPort; }
  void SetPort(std::uint16_t AValue) { FPort = AValue; }
  TIdReuseSocket ReuseSocket() const { return FReuseSocket; }
  void SetReuseSocket(TIdReuseSocket AValue) { FReuseSocket = AValue; }
  bool UseNagle() const { return FUseNagle; }
  void SetUseNagle(bool AValue);
  TIdStackSocketHandle Handle() const { return FHandle; }
  bool HandleAllocated() const { return FHandleAllocated; }
  bool OverLapped() const { return FOverLapped; }
  const std::string& PeerIP() const { return FPeerIP; }
  std::uint16_t PeerPort() const { return FPeerPort; }
  int SocketType() const { return FSocketType; }

 protected:
  void SetHandle(TIdStackSocketHandle AHandle);
  bool TryBindPort(std::uint16_t APort);
  // Refreshes the local and peer addresses after a connect, under the connection lock.
  void RefreshAfterConnect();

  std::uint16_t FClientPortMin = 0;
  std::uint16_t FClientPortMax = 0;
  TIdStackSocketHandle FHandle = Id_INVALID_SOCKET;
  bool FHandleAllocated = false;
  std::string FIP;
  std::string FPeerIP;
  std::uint16_t FPort = 0;
  std::uint16_t FPeerPort = 0;
  std::unique_ptr<TIdSocketList> FReadSocketList;
  int FSocketType = 0;
  bool FOverLapped = false;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::recursive_mutex FConnectionHandle;
  bool FBroadcastEnabled = false;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
};

}  // namespace brv
