// The stack over the POSIX socket interface of Linux.
//
// Platform facts handled here:
// - errno values are translated into the stack's error numbering (ECONNREFUSED -> 10061, ...),
//   getaddrinfo's EAI_* results into 11001 and friends;
// - waiting uses poll, never select (a descriptor of 1024 or more would overrun an fd_set), and
//   a wait interrupted by a signal (EINTR) resumes with the time that is left;
// - sends pass MSG_NOSIGNAL, so a peer that resets never raises SIGPIPE;
// - a receive or send that hits SO_RCVTIMEO/SO_SNDTIMEO on a blocking socket reports 10060
//   (timed out) rather than "would block";
// - names under the reserved top-level domain "invalid" never resolve (RFC 6761), without asking
//   the resolver; other names go through getaddrinfo with AI_IDN.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/IdStack.h"

namespace brv {

// A set of sockets waited on with poll; it has no size limit.
class TIdSocketListUnix : public TIdSocketList {
 public:
  BRV_CLASS_NAME(TIdSocketListUnix)
  TIdStackSocketHandle GetItem(int AIndex) const override;
  void Add(TIdStackSocketHandle AHandle) override;
  std::unique_ptr<TIdSocketList> Clone() const override;
  int Count() const override;
  void Remove(TIdStackSocketHandle AHandle) override;
  void Clear() override;
  bool ContainsSocket(TIdStackSocketHandle AHandle) const override;
  bool SelectRead(int ATimeout = IdTimeoutInfinite) override;
  bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                      int ATimeout = IdTimeoutInfinite) override;

 protected:
  bool DoSelect(TIdSocketList* AReadList, TIdSocketList* AWriteList, TIdSocketList* AExceptList,
                int ATimeout) override;

 private:
  std::vector<TIdStackSocketHandle> FHandles;
};

class TIdStackUnix : public TIdStackBSDBase {
 public:
  BRV_CLASS_NAME(TIdStackUnix)
  TIdStackUnix();
  ~TIdStackUnix() override;

  std::string LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) override;
  std::string QueryLocalHostName() override;
  TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                              TIdIPVersion& VIPVersion) override;
  void Bind(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
            TIdIPVersion AIPVersion = Id_IPv4) override;
  // A blocking connect; a connect interrupted by a signal is waited out, not reported.
  void Connect(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
               TIdIPVersion AIPVersion = Id_IPv4) override;
  void Disconnect(TIdStackSocketHandle ASocket) override;
  int IOControl(TIdStackSocketHandle s, unsigned long cmd, unsigned long& arg) override;
  void GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                   TIdIPVersion& VIPVersion) override;
  void GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                     TIdIPVersion& VIPVersion) override;
  std::string HostByAddress(const std::string& AAddress, TIdIPVersion AIPVersion) override;
  void Listen(TIdStackSocketHandle ASocket, int ABackLog) override;
  int WSGetLastError() override;
  void WSSetLastError(int AErr) override;
  // Adds 11001 "Host not found." to the common table.
  std::string WSTranslateSocketErrorMsg(int AErr) override;
  int ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                  std::uint16_t& VPort, TIdIPVersion& VIPVersion) override;
  int SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset, int ASize,
             const std::string& AIP, std::uint16_t APort,
             TIdIPVersion AIPVersion = Id_IPv4) override;
  bool SupportsIPv4() override;
  bool SupportsIPv6() override;
  void SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int ATimeMS,
                          int AInterval) override;
  void GetLocalAddressList(TStringList& AAddresses) override;

  int WSClose(TIdStackSocketHandle ASocket) override;
  int WSReceive(TIdStackSocketHandle ASocket, void* ABuffer, int ABufferLength,
                int AFlags) override;
  int WSTransmit(TIdStackSocketHandle ASocket, const void* ABuffer, int ABufferLength,
                 int AFlags) override;
  int WSHalfClose(TIdStackSocketHandle ASocket, int AHow) override;
  bool CheckIPVersionSupport(TIdIPVersion AIPVersion) override;
  using TIdStackBSDBase::GetSocketOption;
  using TIdStackBSDBase::SetSocketOption;
  void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, void* AOptVal,
                       int& AOptLen) override;
  void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, const void* AOptVal,
                       int AOptLen) override;
  TIdStackSocketHandle WSSocket(int AFamily, int AStruct, int AProtocol,
                                bool ANonBlocking = false) override;
  void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) override;
  bool WouldBlock(int AResult) override;
  bool ConnectWithTimeout(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                          TIdIPVersion AIPVersion, const TIdDeadline& ALimit) override;
  int WSGetLastErrorOn(TIdStackSocketHandle ASocket) override { return LastErrorOn(ASocket); }

  // The stack's error number for an errno value.
  static int TranslateErrno(int AErrno);
  // The stack's error number for a getaddrinfo result.
  static int TranslateAddrInfoError(int AResult, int AErrno);
  // The last error of a failed call on ASocket: a time-out of SO_RCVTIMEO or SO_SNDTIMEO on a
  // blocking socket counts as 10060.
  int LastErrorOn(TIdStackSocketHandle ASocket);
  // Waits until ASocket is ready for APollEvents (poll flags), ALimit passes or its cancellation
  // is raised (which wakes the wait at once), resuming after EINTR. Returns the poll revents, 0
  // when the limit passed or the wait was cancelled (tell which from ALimit), -1 with errno set
  // when poll failed. Safe to call without a stack.
  static int Poll(TIdStackSocketHandle ASocket, short APollEvents,
                  const TIdDeadline& ALimit) noexcept;
  // Poll, raising the stack's error when poll fails.
  static int WaitFor(TIdStackSocketHandle ASocket, short APollEvents, const TIdDeadline& ALimit);
  // WaitFor with a limit of ATimeout milliseconds from now (negative: no limit).
  static int WaitFor(TIdStackSocketHandle ASocket, short APollEvents, int ATimeout);
};

}  // namespace brv
