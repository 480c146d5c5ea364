// The socket stack: the transport's single gateway to the operating system's sockets. One
// process-wide instance (GStack) resolves names, converts address text, creates, binds,
// connects, shuts down and closes sockets, sends and receives, waits for readiness, reads and
// writes options, and turns every failing call into an exception with a fixed, numbered message.
//
// Error numbers follow one numbering on every platform (10061 "Connection refused.", 11001
// "Host not found.", ...); the platform's last subclass translates its own codes into it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "transport/IdDeadline.h"
#include "transport/IdException.h"
#include "transport/IdGlobal.h"

namespace brv {

// A socket of the operating system.
using TIdStackSocketHandle = int;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// Socket types and levels in the stack's numbering.
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_SOCK_DGRAM = 2;

// Error numbers of the stack.
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEBADF = 10009;
inline constexpr int Id_WSAEACCES = 10013;
inline constexpr int Id_WSAEFAULT = 10014;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAEMFILE = 10024;
inline constexpr int Id_WSAEWOULDBLOCK = 10035;
inline constexpr int Id_WSAEINPROGRESS = 10036;
inline constexpr int Id_WSAEALREADY = 10037;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAEDESTADDRREQ = 10039;
inline constexpr int Id_WSAEMSGSIZE = 10040;
inline constexpr int Id_WSAEPROTOTYPE = 10041;
inline constexpr int Id_WSAENOPROTOOPT = 10042;
inline constexpr int Id_WSAEPROTONOSUPPORT = 10043;
inline constexpr int Id_WSAESOCKTNOSUPPORT = 10044;
inline constexpr int Id_WSAEOPNOTSUPP = 10045;
inline constexpr int Id_WSAEPFNOSUPPORT = 10046;
inline constexpr int Id_WSAEAFNOSUPPORT = 10047;
inline constexpr int Id_WSAEADDRINUSE = 10048;
inline constexpr int Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int Id_WSAENETDOWN = 10050;
inline constexpr int Id_WSAENETUNREACH = 10051;
inline constexpr int Id_WSAENETRESET = 10052;
inline constexpr int Id_WSAECONNABORTED = 10053;
inline constexpr int Id_WSAECONNRESET = 10054;
inline constexpr int Id_WSAENOBUFS = 10055;
inline constexpr int Id_WSAEISCONN = 10056;
inline constexpr int Id_WSAENOTCONN = 10057;
inline constexpr int Id_WSAESHUTDOWN = 10058;
inline constexpr int Id_WSAETOOMANYREFS = 10059;
inline constexpr int Id_WSAETIMEDOUT = 10060;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAELOOP = 10062;
inline constexpr int Id_WSAENAMETOOLONG = 10063;
inline constexpr int Id_WSAEHOSTDOWN = 10064;
inline constexpr int Id_WSAEHOSTUNREACH = 10065;
inline constexpr int Id_WSAENOTEMPTY = 10066;
inline constexpr int Id_WSATYPE_NOT_FOUND = 10109;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int Id_WSATRY_AGAIN = 11002;
inline constexpr int Id_WSANO_RECOVERY = 11003;
inline constexpr int Id_WSANO_DATA = 11004;

class TIdStack;
class TIdSocketHandle;

// The shared stack instance: set while at least one transport component exists. Not owned here.
extern TIdStack* GStack;

// An ordered set of sockets that can be waited on.
class TIdSocketList : public TObject {
 public:
  BRV_CLASS_NAME(TIdSocketList)
  ~TIdSocketList() override = default;

  virtual TIdStackSocketHandle GetItem(int AIndex) const = 0;
  TIdStackSocketHandle Items(int AIndex) const { return GetItem(AIndex); }
  virtual void Add(TIdStackSocketHandle AHandle) = 0;
  virtual std::unique_ptr<TIdSocketList> Clone() const = 0;
  virtual int Count() const = 0;
  virtual void Remove(TIdStackSocketHandle AHandle) = 0;
  virtual void Clear() = 0;
  virtual bool ContainsSocket(TIdStackSocketHandle AHandle) const = 0;
  // Waits until a socket of a list is ready (read, write, error) or ATimeout passes (-2: no
  // limit); the lists keep only the ready sockets. True when something is ready.
  static bool Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                     TIdSocketList* AExceptList, int ATimeout = IdTimeoutInfinite);
  // Waits until a socket of this list is readable.
  virtual bool SelectRead(int ATimeout = IdTimeoutInfinite) = 0;
  // As SelectRead; the ready sockets are stored in VSocketList (created when absent).
  virtual bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                              int ATimeout = IdTimeoutInfinite) = 0;

  // An instance of the platform's list class.
  static std::unique_ptr<TIdSocketList> CreateSocketList();
  void Lock() const { FLock.lock(); }
  void Unlock() const { FLock.unlock(); }

 protected:
  virtual bool DoSelect(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                        TIdSocketList* AExceptList, int ATimeout) = 0;
  mutable std::recursive_mutex FLock;
};

class TIdStack : public TObject {
 public:
  BRV_CLASS_NAME(TIdStack)
  ~TIdStack() override;

  // ---- lifetime of the shared instance ----
  // Called by every transport component when it is created: creates the shared instance for
  // the first user.
  static void IncUsage();
  // Called by every transport component when it is destroyed: the last user frees the instance.
  static void DecUsage();

  // ---- client-road operations ----
  // The address text to connect to: "LOCALHOST" (any case) gives the loopback address, an
  // address literal is used as written, anything else is looked up.
  std::string ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion = Id_IPv4);
  // Is the text a dotted IPv4 address.
  bool IsIP(const std::string& AIP);
  // Returns AResult; when it is -1 raises the last socket error.
  int CheckForSocketError(int AResult);
  // As above, but an error number listed in AIgnore is returned instead of raised.
  int CheckForSocketError(int AResult, const std::vector<int>& AIgnore);
  [[noreturn]] void RaiseLastSocketError();
  // The eight-group upper-case form of an IPv6 literal, or "" when the text is not one.
  static std::string CanonicalIPv6Text(const std::string& AText);
  // The machine's host name.
  std::string HostName() { return QueryLocalHostName(); }
  // The text of the local addresses.
  TStringList* LocalAddresses();

  // ---- virtual operations ----
  virtual std::string LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) = 0;
  virtual std::string QueryLocalHostName() = 0;
  virtual TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                      std::uint16_t& VPort, TIdIPVersion& VIPVersion) = 0;
  virtual void Bind(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                    TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual void Connect(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                       TIdIPVersion AIPVersion = Id_IPv4) = 0;
  // Shutdown of sending, then close; results ignored.
  virtual void Disconnect(TIdStackSocketHandle ASocket) = 0;
  virtual int IOControl(TIdStackSocketHandle s, unsigned long cmd, unsigned long& arg) = 0;
  virtual void GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                           TIdIPVersion& VIPVersion) = 0;
  virtual void GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                             TIdIPVersion& VIPVersion) = 0;
  // Reverse lookup.
  virtual std::string HostByAddress(const std::string& AAddress, TIdIPVersion AIPVersion) = 0;
  virtual std::uint16_t HostToNetwork(std::uint16_t AValue) { return brv::HostToNetwork(AValue); }
  virtual std::uint32_t HostToNetwork(std::uint32_t AValue) { return brv::HostToNetwork(AValue); }
  virtual std::uint64_t HostToNetwork(std::uint64_t AValue) { return brv::HostToNetwork(AValue); }
  virtual TIdIPv6Address HostToNetwork(const TIdIPv6Address& AValue);
  virtual void Listen(TIdStackSocketHandle ASocket, int ABackLog) = 0;
  // The calling thread's last socket error number (in the stack's numbering).
  virtual int WSGetLastError() = 0;
  virtual void WSSetLastError(int AErr) = 0;
  // The error number of a failed call on ASocket (the platform may know more than the thread's
  // last error, such as a socket time-out).
  virtual int WSGetLastErrorOn(TIdStackSocketHandle /*ASocket*/) { return WSGetLastError(); }
  virtual std::string WSTranslateSocketErrorMsg(int AErr);
  // Raises EIdNotASocket (10038) or EIdSocketError "Socket Error # %d\r\n%s".
  [[noreturn]] void RaiseSocketError(int AErr);
  virtual TIdStackSocketHandle NewSocketHandle(int ASocketType, int AProtocol,
                                               TIdIPVersion AIPVersion = Id_IPv4,
                                               bool ANonBlocking = false) = 0;
  virtual std::uint16_t NetworkToHost(std::uint16_t AValue) { return brv::NetworkToHost(AValue); }
  virtual std::uint32_t NetworkToHost(std::uint32_t AValue) { return brv::NetworkToHost(AValue); }
  virtual std::uint64_t NetworkToHost(std::uint64_t AValue) { return brv::NetworkToHost(AValue); }
  virtual TIdIPv6Address NetworkToHost(const TIdIPv6Address& AValue);
  virtual void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               int& AOptVal) = 0;
  virtual void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               int AOptVal) = 0;
  // One receive into the whole of VBuffer; returns the count (0: the peer closed); raises.
  virtual int Receive(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) = 0;
  // One send of ASize bytes from AOffset (-1: all after AOffset); returns the count taken.
  virtual int Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset = 0,
                   int ASize = -1) = 0;
  virtual int ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                          std::uint16_t& VPort, TIdIPVersion& VIPVersion) = 0;
  virtual int SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset, int ASize,
                     const std::string& AIP, std::uint16_t APort,
                     TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual bool SupportsIPv4() = 0;
  virtual bool SupportsIPv6() = 0;
  virtual void SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int ATimeMS,
                                  int AInterval);
  virtual void GetLocalAddressList(TStringList& AAddresses) = 0;

 protected:
  TIdStack() = default;
  std::unique_ptr<TStringList> FLocalAddresses;
};

// Logic common to every BSD-style socket interface.
class TIdStackBSDBase : public TIdStack {
 public:
  BRV_CLASS_NAME(TIdStackBSDBase)

  // Address text to the 4-byte or 16-byte network-order address, and back.
  void TranslateStringToTInAddr(const std::string& AIP, std::uint8_t* AInAddr,
                                TIdIPVersion AIPVersion);
  std::string TranslateTInAddrToString(const std::uint8_t* AInAddr, TIdIPVersion AIPVersion);

  TIdStackSocketHandle NewSocketHandle(int ASocketType, int AProtocol,
                                       TIdIPVersion AIPVersion = Id_IPv4,
                                       bool ANonBlocking = false) override;
  void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                       int& AOptVal) override;
  void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                       int AOptVal) override;
  int Receive(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) override;
  int Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset = 0,
           int ASize = -1) override;

  virtual int WSClose(TIdStackSocketHandle ASocket) = 0;
  virtual int WSReceive(TIdStackSocketHandle ASocket, void* ABuffer, int ABufferLength,
                        int AFlags) = 0;
  // One send; -1 raises.
  virtual int WSTransmit(TIdStackSocketHandle ASocket, const void* ABuffer, int ABufferLength,
                         int AFlags) = 0;
  virtual int WSHalfClose(TIdStackSocketHandle ASocket, int AHow) = 0;
  // Can a socket of that family be created.
  virtual bool CheckIPVersionSupport(TIdIPVersion AIPVersion) = 0;
  // Options of any size; -1 raises.
  virtual void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               void* AOptVal, int& AOptLen) = 0;
  virtual void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               const void* AOptVal, int AOptLen) = 0;
  virtual TIdStackSocketHandle WSSocket(int AFamily, int AStruct, int AProtocol,
                                        bool ANonBlocking = false) = 0;
  // Switches blocking mode; -1 raises.
  virtual void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) = 0;
  // The error number is 10035 (would block).
  virtual bool WouldBlock(int AResult) = 0;
  // Connects like Connect, but gives up (false) when ALimit passes or is cancelled; the socket
  // is blocking again afterwards. Raises the socket error of a connect that fails.
  virtual bool ConnectWithTimeout(TIdStackSocketHandle ASocket, const std::string& AIP,
                                  std::uint16_t APort, TIdIPVersion AIPVersion,
                                  const TIdDeadline& ALimit) = 0;
};

}  // namespace brv
