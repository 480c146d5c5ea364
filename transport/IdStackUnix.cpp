#include "transport/IdStackUnix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace brv {

namespace {

int FamilyOf(TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4:
      return AF_INET;
    case Id_IPv6:
      return AF_INET6;
  }
  throw EIdIPVersionUnsupported();
}

// poll until ALimit passes, resuming after a signal with the time that is left; 0 once the
// limit passed.
int PollRetrying(pollfd* AFds, nfds_t ACount, const TIdDeadline& ALimit) {
  while (true) {
    const int result = ::poll(AFds, ACount, ALimit.WaitMs());
    if (result > 0) return result;
    // A wait that ended early (rounding of the clock) goes on for the rest.
    if (result == 0 && (ALimit.Expired() || !ALimit.HasLimit())) return 0;
    if (result < 0 && errno != EINTR) return result;
  }
}

TIdDeadline LimitOf(int ATimeout) {
  return ATimeout < 0 ? TIdDeadline() : TIdDeadline::After(std::chrono::milliseconds(ATimeout));
}

bool IsNameUnderInvalid(const std::string& AHostName) {
  std::string name = AHostName;
  while (!name.empty() && name.back() == '.') name.pop_back();
  if (name.size() < 7) return false;
  std::string tail = name.substr(name.size() - 7);
  for (char& c : tail) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return tail == "invalid" && (name.size() == 7 || name[name.size() - 8] == '.');
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Socket list

TIdStackSocketHandle TIdSocketListUnix::GetItem(int AIndex) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (AIndex < 0 || AIndex >= static_cast<int>(FHandles.size())) return Id_INVALID_SOCKET;
  return FHandles[static_cast<std::size_t>(AIndex)];
}

void TIdSocketListUnix::Add(TIdStackSocketHandle AHandle) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (std::find(FHandles.begin(), FHandles.end(), AHandle) == FHandles.end()) {
    FHandles.push_back(AHandle);
  }
}

std::unique_ptr<TIdSocketList> TIdSocketListUnix::Clone() const {
  auto result = std::make_unique<TIdSocketListUnix>();
  std::lock_guard<std::recursive_mutex> guard(FLock);
  result->FHandles = FHandles;
  return result;
}

int TIdSocketListUnix::Count() const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return static_cast<int>(FHandles.size());
}

void TIdSocketListUnix::Remove(TIdStackSocketHandle AHandle) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  auto it = std::find(FHandles.begin(), FHandles.end(), AHandle);
  if (it != FHandles.end()) {
    *it = FHandles.back();
    FHandles.pop_back();
  }
}

void TIdSocketListUnix::Clear() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  FHandles.clear();
}

bool TIdSocketListUnix::ContainsSocket(TIdStackSocketHandle AHandle) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return std::find(FHandles.begin(), FHandles.end(), AHandle) != FHandles.end();
}

bool TIdSocketListUnix::DoSelect(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                                 TIdSocketList* AExceptList, int ATimeout) {
  struct TEntry {
    TIdStackSocketHandle handle;
    short events;
  };
  std::vector<TEntry> entries;
  auto gather = [&](TIdSocketList* AList, short AEvents) {
    if (AList == nullptr) return;
    auto copy = AList->Clone();
    for (int i = 0; i < copy->Count(); ++i) {
      const TIdStackSocketHandle h = copy->Items(i);
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const TEntry& e) { return e.handle == h; });
      if (it == entries.end()) {
        entries.push_back({h, AEvents});
      } else {
        it->events = static_cast<short>(it->events | AEvents);
      }
    }
  };
  gather(AReadList, POLLIN);
  gather(AWriteList, POLLOUT);
  gather(AExceptList, POLLPRI);
  std::vector<pollfd> fds;
  fds.reserve(entries.size());
  for (const TEntry& e : entries) fds.push_back(pollfd{e.handle, e.events, 0});
  const int result = PollRetrying(fds.data(), fds.size(), LimitOf(ATimeout));
  if (result < 0) GStack->RaiseSocketError(TIdStackUnix::TranslateErrno(errno));
  // As with select, an error or a hang-up counts as readable and writable, so the next call
  // reports it.
  auto keep = [&](TIdSocketList* AList, short AReady) {
    if (AList == nullptr) return;
    AList->Clear();
    for (const pollfd& p : fds) {
      if ((p.revents & AReady) != 0 && (p.events & (AReady & (POLLIN | POLLOUT | POLLPRI))) != 0) {
        AList->Add(p.fd);
      }
    }
  };
  keep(AReadList, POLLIN | POLLHUP | POLLERR | POLLNVAL);
  keep(AWriteList, POLLOUT | POLLHUP | POLLERR | POLLNVAL);
  keep(AExceptList, POLLPRI);
  return result > 0;
}

bool TIdSocketListUnix::SelectRead(int ATimeout) {
  // The handles are copied under the lock and polled without it. A socket handle's own list
  // holds one handle: that case needs no allocation.
  pollfd one[1];
  std::vector<pollfd> many;
  pollfd* fds = one;
  std::size_t count = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    count = FHandles.size();
    if (count > 1) {
      many.reserve(count);
      for (const TIdStackSocketHandle h : FHandles) many.push_back(pollfd{h, POLLIN, 0});
      fds = many.data();
    } else if (count == 1) {
      one[0] = pollfd{FHandles[0], POLLIN, 0};
    }
  }
  const int result = PollRetrying(fds, count, LimitOf(ATimeout));
  if (result < 0) GStack->RaiseSocketError(TIdStackUnix::TranslateErrno(errno));
  return result > 0;
}

bool TIdSocketListUnix::SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList, int ATimeout) {
  auto copy = Clone();
  if (!DoSelect(copy.get(), nullptr, nullptr, ATimeout)) return false;
  if (!VSocketList) VSocketList = CreateSocketList();
  VSocketList->Clear();
  for (int i = 0; i < copy->Count(); ++i) VSocketList->Add(copy->Items(i));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Error translation

int TIdStackUnix::TranslateErrno(int AErrno) {
  switch (AErrno) {
    case 0:
      return 0;
    case EINTR:
      return Id_WSAEINTR;
    case EBADF:
      return Id_WSAEBADF;
    case EACCES:
    case EPERM:
      return Id_WSAEACCES;
    case EFAULT:
      return Id_WSAEFAULT;
    case EINVAL:
      return Id_WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return Id_WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
      return Id_WSAEWOULDBLOCK;
    case EINPROGRESS:
      return Id_WSAEINPROGRESS;
    case EALREADY:
      return Id_WSAEALREADY;
    case ENOTSOCK:
      return Id_WSAENOTSOCK;
    case EDESTADDRREQ:
      return Id_WSAEDESTADDRREQ;
    case EMSGSIZE:
      return Id_WSAEMSGSIZE;
    case EPROTOTYPE:
      return Id_WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return Id_WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return Id_WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return Id_WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
      return Id_WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
      return Id_WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
      return Id_WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return Id_WSAENETDOWN;
    case ENETUNREACH:
      return Id_WSAENETUNREACH;
    case ENETRESET:
      return Id_WSAENETRESET;
    case ECONNABORTED:
      return Id_WSAECONNABORTED;
    // A send to a peer that has reset the connection fails with EPIPE on this platform.
    case EPIPE:
    case ECONNRESET:
      return Id_WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return Id_WSAENOBUFS;
    case EISCONN:
      return Id_WSAEISCONN;
    case ENOTCONN:
      return Id_WSAENOTCONN;
    case ESHUTDOWN:
      return Id_WSAESHUTDOWN;
    case ETOOMANYREFS:
      return Id_WSAETOOMANYREFS;
    case ETIMEDOUT:
      return Id_WSAETIMEDOUT;
    case ECONNREFUSED:
      return Id_WSAECONNREFUSED;
    case ELOOP:
      return Id_WSAELOOP;
    case ENAMETOOLONG:
      return Id_WSAENAMETOOLONG;
    case EHOSTDOWN:
      return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return Id_WSAEHOSTUNREACH;
    case ENOTEMPTY:
      return Id_WSAENOTEMPTY;
    default:
      return AErrno;
  }
}

int TIdStackUnix::TranslateAddrInfoError(int AResult, int AErrno) {
  switch (AResult) {
    case EAI_BADFLAGS:
      return Id_WSAEINVAL;
    case EAI_NONAME:
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return Id_WSATRY_AGAIN;
    case EAI_FAIL:
      return Id_WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return Id_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    // The host has no address of the asked family.
    case EAI_ADDRFAMILY:
      return Id_WSANO_DATA;
#endif
    case EAI_FAMILY:
      return Id_WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE:
      return Id_WSAESOCKTNOSUPPORT;
    case EAI_SERVICE:
      return Id_WSATYPE_NOT_FOUND;
    case EAI_MEMORY:
      return 8;
    case EAI_SYSTEM:
      return TranslateErrno(AErrno);
    case EAI_OVERFLOW:
      return Id_WSAEINVAL;
#ifdef EAI_IDN_ENCODE
    // A name that cannot be written in ASCII cannot be found.
    case EAI_IDN_ENCODE:
      return Id_WSAHOST_NOT_FOUND;
#endif
    default:
      return Id_WSANO_RECOVERY;
  }
}

int TIdStackUnix::WSGetLastError() {
  return TranslateErrno(errno);
}

void TIdStackUnix::WSSetLastError(int AErr) {
  // Only numbers that came from errno can go back; others clear it.
  errno = AErr < 10000 ? AErr : 0;
}

int TIdStackUnix::LastErrorOn(TIdStackSocketHandle ASocket) {
  const int saved = errno;
  int err = TranslateErrno(saved);
  if (err == Id_WSAEWOULDBLOCK) {
    const int flags = ::fcntl(ASocket, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) err = Id_WSAETIMEDOUT;
  }
  errno = saved;
  return err;
}

int TIdStackUnix::Poll(TIdStackSocketHandle ASocket, short APollEvents,
                       const TIdDeadline& ALimit) noexcept {
  if (ALimit.Cancelled()) return 0;
  pollfd fds[2] = {pollfd{ASocket, APollEvents, 0}, pollfd{ALimit.CancelHandle(), POLLIN, 0}};
  const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
  const int result = PollRetrying(fds, count, ALimit);
  if (result <= 0) return result;
  // A cancel wins over a socket that became ready at the same moment.
  if (fds[0].revents == 0 || ALimit.Cancelled()) return 0;
  return fds[0].revents;
}

int TIdStackUnix::WaitFor(TIdStackSocketHandle ASocket, short APollEvents,
                          const TIdDeadline& ALimit) {
  const int result = Poll(ASocket, APollEvents, ALimit);
  if (result < 0) GStack->RaiseSocketError(TranslateErrno(errno));
  return result;
}

int TIdStackUnix::WaitFor(TIdStackSocketHandle ASocket, short APollEvents, int ATimeout) {
  return WaitFor(ASocket, APollEvents, LimitOf(ATimeout));
}

// ---------------------------------------------------------------------------------------------
// The stack

TIdStackUnix::TIdStackUnix() = default;
TIdStackUnix::~TIdStackUnix() = default;

std::string TIdStackUnix::LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) {
  const int family = FamilyOf(AIPVersion);
  // RFC 6761: names under "invalid" never exist; no resolver is asked.
  if (IsNameUnderInvalid(AHostName)) RaiseSocketError(Id_WSAHOST_NOT_FOUND);
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
#ifdef AI_IDN
  hints.ai_flags = AI_IDN;
#endif
  addrinfo* list = nullptr;
  const int result = ::getaddrinfo(AHostName.c_str(), nullptr, &hints, &list);
  if (result != 0) RaiseSocketError(TranslateAddrInfoError(result, errno));
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(list, &::freeaddrinfo);
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && AIPVersion == Id_IPv4) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      return TranslateTInAddrToString(reinterpret_cast<const std::uint8_t*>(&sin->sin_addr),
                                      Id_IPv4);
    }
    if (entry->ai_family == AF_INET6 && AIPVersion == Id_IPv6) {
      const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      return TranslateTInAddrToString(sin6->sin6_addr.s6_addr, Id_IPv6);
    }
  }
  RaiseSocketError(Id_WSAHOST_NOT_FOUND);
}

std::string TIdStackUnix::QueryLocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) RaiseLastSocketError();
  return name;
}

namespace {

// A socket address for an address text, port and IP version.
socklen_t MakeSockAddr(TIdStackBSDBase& AStack, const std::string& AIP, std::uint16_t APort,
                       TIdIPVersion AIPVersion, bool AWildcardWhenEmpty, sockaddr_storage& VAddr) {
  std::memset(&VAddr, 0, sizeof VAddr);
  switch (AIPVersion) {
    case Id_IPv4: {
      auto* sin = reinterpret_cast<sockaddr_in*>(&VAddr);
      sin->sin_family = AF_INET;
      sin->sin_port = htons(APort);
      if (!(AWildcardWhenEmpty && AIP.empty())) {
        AStack.TranslateStringToTInAddr(AIP, reinterpret_cast<std::uint8_t*>(&sin->sin_addr),
                                        Id_IPv4);
      }
      return sizeof(sockaddr_in);
    }
    case Id_IPv6: {
      auto* sin6 = reinterpret_cast<sockaddr_in6*>(&VAddr);
      sin6->sin6_family = AF_INET6;
      sin6->sin6_port = htons(APort);
      if (!(AWildcardWhenEmpty && AIP.empty())) {
        AStack.TranslateStringToTInAddr(AIP, sin6->sin6_addr.s6_addr, Id_IPv6);
      }
      return sizeof(sockaddr_in6);
    }
  }
  throw EIdIPVersionUnsupported();
}

void ReadSockAddr(TIdStackBSDBase& AStack, const sockaddr_storage& AAddr, std::string& VIP,
                  std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
  switch (AAddr.ss_family) {
    case AF_INET: {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(&AAddr);
      VIP = AStack.TranslateTInAddrToString(reinterpret_cast<const std::uint8_t*>(&sin->sin_addr),
                                            Id_IPv4);
      VPort = ntohs(sin->sin_port);
      VIPVersion = Id_IPv4;
      return;
    }
    case AF_INET6: {
      const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(&AAddr);
      VIP = AStack.TranslateTInAddrToString(sin6->sin6_addr.s6_addr, Id_IPv6);
      VPort = ntohs(sin6->sin6_port);
      VIPVersion = Id_IPv6;
      return;
    }
    default:
      throw EIdIPVersionUnsupported();
  }
}

}  // namespace

TIdStackSocketHandle TIdStackUnix::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                          std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  int result;
  do {
    result = ::accept4(ASocket, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return Id_INVALID_SOCKET;
  ReadSockAddr(*this, addr, VIP, VPort, VIPVersion);
  return result;
}

void TIdStackUnix::Bind(TIdStackSocketHandle ASocket, const std::string& AIP, std::uint16_t APort,
                        TIdIPVersion AIPVersion) {
  sockaddr_storage addr{};
  const socklen_t len = MakeSockAddr(*this, AIP, APort, AIPVersion, true, addr);
  CheckForSocketError(::bind(ASocket, reinterpret_cast<sockaddr*>(&addr), len));
}

void TIdStackUnix::Connect(TIdStackSocketHandle ASocket, const std::string& AIP,
                           std::uint16_t APort, TIdIPVersion AIPVersion) {
  sockaddr_storage addr{};
  const socklen_t len = MakeSockAddr(*this, AIP, APort, AIPVersion, false, addr);
  if (::connect(ASocket, reinterpret_cast<sockaddr*>(&addr), len) == 0) return;
  const int err = errno;
  if (err != EINTR) RaiseSocketError(TranslateErrno(err));
  // Interrupted by a signal: the connect goes on in the kernel (a second connect would only
  // report EALREADY), so wait for its outcome instead of reporting the interruption.
  WaitFor(ASocket, POLLOUT, IdTimeoutInfinite);
  int so_error = 0;
  GetSocketOption(ASocket, SOL_SOCKET, SO_ERROR, so_error);
  if (so_error != 0) RaiseSocketError(TranslateErrno(so_error));
}

void TIdStackUnix::Disconnect(TIdStackSocketHandle ASocket) {
  WSHalfClose(ASocket, SHUT_WR);
  WSClose(ASocket);
}

int TIdStackUnix::IOControl(TIdStackSocketHandle s, unsigned long cmd, unsigned long& arg) {
  int value = static_cast<int>(arg);
  const int result = ::ioctl(s, cmd, &value);
  arg = static_cast<unsigned long>(value);
  return result;
}

void TIdStackUnix::GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, std::uint16_t& VPort,
                               TIdIPVersion& VIPVersion) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  CheckForSocketError(::getpeername(ASocket, reinterpret_cast<sockaddr*>(&addr), &len));
  ReadSockAddr(*this, addr, VIP, VPort, VIPVersion);
}

void TIdStackUnix::GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP,
                                 std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  CheckForSocketError(::getsockname(ASocket, reinterpret_cast<sockaddr*>(&addr), &len));
  ReadSockAddr(*this, addr, VIP, VPort, VIPVersion);
}

std::string TIdStackUnix::HostByAddress(const std::string& AAddress, TIdIPVersion AIPVersion) {
  sockaddr_storage addr{};
  const socklen_t len = MakeSockAddr(*this, AAddress, 0, AIPVersion, false, addr);
  char host[NI_MAXHOST] = {};
  const int result = ::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host,
                                   nullptr, 0, NI_NAMEREQD);
  if (result != 0) RaiseSocketError(TranslateAddrInfoError(result, errno));
  return host;
}

void TIdStackUnix::Listen(TIdStackSocketHandle ASocket, int ABackLog) {
  CheckForSocketError(::listen(ASocket, ABackLog));
}

int TIdStackUnix::ReceiveFrom(TIdStackSocketHandle ASocket, TIdBytes& VBuffer, std::string& VIP,
                              std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  ssize_t result;
  do {
    result = ::recvfrom(ASocket, VBuffer.data(), VBuffer.size(), 0,
                        reinterpret_cast<sockaddr*>(&addr), &len);
  } while (result < 0 && errno == EINTR);
  if (result < 0) RaiseSocketError(LastErrorOn(ASocket));
  ReadSockAddr(*this, addr, VIP, VPort, VIPVersion);
  return static_cast<int>(result);
}

int TIdStackUnix::SendTo(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset,
                         int ASize, const std::string& AIP, std::uint16_t APort,
                         TIdIPVersion AIPVersion) {
  sockaddr_storage addr{};
  const socklen_t len = MakeSockAddr(*this, AIP, APort, AIPVersion, false, addr);
  const std::int64_t offset = std::max(0, AOffset);
  const std::int64_t available =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(ABuffer.size()) - offset);
  const std::int64_t count = ASize >= 0 && ASize < available ? ASize : available;
  ssize_t result;
  do {
    result = ::sendto(ASocket, ABuffer.data() + (count > 0 ? offset : 0),
                      static_cast<std::size_t>(count), MSG_NOSIGNAL,
                      reinterpret_cast<sockaddr*>(&addr), len);
  } while (result < 0 && errno == EINTR);
  if (result < 0) RaiseSocketError(LastErrorOn(ASocket));
  return static_cast<int>(result);
}

bool TIdStackUnix::SupportsIPv4() {
  return CheckIPVersionSupport(Id_IPv4);
}
bool TIdStackUnix::SupportsIPv6() {
  return CheckIPVersionSupport(Id_IPv6);
}

void TIdStackUnix::SetKeepAliveValues(TIdStackSocketHandle ASocket, bool AEnabled, int ATimeMS,
                                      int AInterval) {
  SetSocketOption(ASocket, SOL_SOCKET, SO_KEEPALIVE, AEnabled ? 1 : 0);
  if (!AEnabled) return;
  SetSocketOption(ASocket, IPPROTO_TCP, TCP_KEEPIDLE, std::max(1, ATimeMS / 1000));
  SetSocketOption(ASocket, IPPROTO_TCP, TCP_KEEPINTVL, std::max(1, AInterval / 1000));
}

void TIdStackUnix::GetLocalAddressList(TStringList& AAddresses) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) RaiseLastSocketError();
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> guard(list, &::freeifaddrs);
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      AAddresses.Add(
          TranslateTInAddrToString(reinterpret_cast<const std::uint8_t*>(&sin->sin_addr), Id_IPv4));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      AAddresses.Add(TranslateTInAddrToString(sin6->sin6_addr.s6_addr, Id_IPv6));
    }
  }
}

int TIdStackUnix::WSClose(TIdStackSocketHandle ASocket) {
  return ::close(ASocket);
}

int TIdStackUnix::WSReceive(TIdStackSocketHandle ASocket, void* ABuffer, int ABufferLength,
                            int AFlags) {
  ssize_t result;
  do {
    result = ::recv(ASocket, ABuffer, static_cast<std::size_t>(std::max(0, ABufferLength)), AFlags);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    // Keep the number for the caller in the stack's numbering, with the time-out rule.
    const int err = LastErrorOn(ASocket);
    RaiseSocketError(err);
  }
  return static_cast<int>(result);
}

int TIdStackUnix::WSTransmit(TIdStackSocketHandle ASocket, const void* ABuffer, int ABufferLength,
                             int AFlags) {
  ssize_t result;
  do {
    result = ::send(ASocket, ABuffer, static_cast<std::size_t>(std::max(0, ABufferLength)),
                    AFlags | MSG_NOSIGNAL);
  } while (result < 0 && errno == EINTR);
  if (result < 0) RaiseSocketError(LastErrorOn(ASocket));
  return static_cast<int>(result);
}

int TIdStackUnix::WSHalfClose(TIdStackSocketHandle ASocket, int AHow) {
  return ::shutdown(ASocket, AHow);
}

bool TIdStackUnix::CheckIPVersionSupport(TIdIPVersion AIPVersion) {
  const int s = ::socket(FamilyOf(AIPVersion), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  ::close(s);
  return true;
}

void TIdStackUnix::GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                   void* AOptVal, int& AOptLen) {
  socklen_t len = static_cast<socklen_t>(AOptLen);
  CheckForSocketError(::getsockopt(ASocket, ALevel, AOptName, AOptVal, &len));
  AOptLen = static_cast<int>(len);
}

void TIdStackUnix::SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                   const void* AOptVal, int AOptLen) {
  CheckForSocketError(
      ::setsockopt(ASocket, ALevel, AOptName, AOptVal, static_cast<socklen_t>(AOptLen)));
}

// The overlapped flag has no counterpart here (sockets are blocking either way). Sockets are
// not inherited by child processes.
TIdStackSocketHandle TIdStackUnix::WSSocket(int AFamily, int AStruct, int AProtocol, bool) {
  const int result = ::socket(AFamily, AStruct | SOCK_CLOEXEC, AProtocol);
  return result < 0 ? Id_INVALID_SOCKET : result;
}

void TIdStackUnix::SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) {
  const int flags = ::fcntl(ASocket, F_GETFL);
  CheckForSocketError(flags);
  const int wanted = ABlocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (wanted != flags) CheckForSocketError(::fcntl(ASocket, F_SETFL, wanted));
}

bool TIdStackUnix::WouldBlock(int AResult) {
  return AResult == Id_WSAEWOULDBLOCK;
}

// A non-blocking connect waited on with poll. No thread is needed: closing a socket does not
// wake a connect blocked in another thread on this platform, so a connect thread could outlive
// its time-out.
bool TIdStackUnix::ConnectWithTimeout(TIdStackSocketHandle ASocket, const std::string& AIP,
                                      std::uint16_t APort, TIdIPVersion AIPVersion,
                                      const TIdDeadline& ALimit) {
  sockaddr_storage addr{};
  const socklen_t len = MakeSockAddr(*this, AIP, APort, AIPVersion, false, addr);
  SetBlocking(ASocket, false);
  struct TRestoreBlocking {
    TIdStackUnix* stack;
    TIdStackSocketHandle socket;
    ~TRestoreBlocking() {
      try {
        stack->SetBlocking(socket, true);
      } catch (...) {
        // The socket is about to be closed by the caller anyway.
      }
    }
  } restore{this, ASocket};
  if (::connect(ASocket, reinterpret_cast<sockaddr*>(&addr), len) == 0) return true;
  const int err = errno;
  if (err != EINPROGRESS && err != EINTR) RaiseSocketError(TranslateErrno(err));
  if (WaitFor(ASocket, POLLOUT, ALimit) == 0) return false;
  int so_error = 0;
  GetSocketOption(ASocket, SOL_SOCKET, SO_ERROR, so_error);
  if (so_error != 0) RaiseSocketError(TranslateErrno(so_error));
  return true;
}

std::string TIdStackUnix::WSTranslateSocketErrorMsg(int AErr) {
  if (AErr == Id_WSAHOST_NOT_FOUND) return "Host not found.";
  return TIdStackBSDBase::WSTranslateSocketErrorMsg(AErr);
}

}  // namespace brv
