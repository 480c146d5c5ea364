#include "transport/IdStack.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "transport/IdStackUnix.h"

namespace brv {

TIdStack* GStack = nullptr;

namespace {

// The shared instance, its usage count and the lock that guards both.
struct TStackState {
  std::mutex lock;
  std::unique_ptr<TIdStack> instance;
  int usage = 0;
};

TStackState& StackState() {
  static TStackState state;
  return state;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// A decimal number of at most 3 digits, or -1.
int ParseByteField(const std::string& AText) {
  if (AText.empty() || AText.size() > 3) return -1;
  int value = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal group up to FFFF, or -1.
long ParseHexGroup(const std::string& AText) {
  if (AText.empty()) return -1;
  long value = 0;
  for (char c : AText) {
    const int d = HexDigit(c);
    if (d < 0) return -1;
    value = value * 16 + d;
    if (value > 0xFFFF) return -1;
  }
  return value;
}

std::vector<std::string> SplitText(const std::string& AText, char ASeparator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = AText.find(ASeparator, start);
    if (at == std::string::npos) {
      parts.push_back(AText.substr(start));
      return parts;
    }
    parts.push_back(AText.substr(start, at - start));
    start = at + 1;
  }
}

// Parses IPv6 text into eight groups. Exactly eight groups are required: a dotted IPv4 tail
// counts as two and may only stand at the end, and one "::" stands for one or more zero groups.
// A single leading or trailing ":" is completed with a "0" first.
bool ParseIPv6(const std::string& AText, TIdIPv6Address& VGroups) {
  if (AText.empty()) return false;
  for (char c : AText) {
    if (HexDigit(c) < 0 && c != ':' && c != '.') return false;
  }
  std::string left = AText;
  std::string right;
  bool elided = false;
  const std::size_t gap = AText.find("::");
  if (gap != std::string::npos) {
    if (AText.find("::", gap + 1) != std::string::npos) return false;
    elided = true;
    left = AText.substr(0, gap);
    right = AText.substr(gap + 2);
  }
  // A lone ":" at either end stands for a "0" group.
  if (!left.empty() && left.front() == ':') left = "0" + left;
  std::string& tail_part = elided ? right : left;
  if (!tail_part.empty() && tail_part.back() == ':') tail_part += "0";

  std::vector<std::string> left_groups =
      left.empty() ? std::vector<std::string>{} : SplitText(left, ':');
  std::vector<std::string> right_groups =
      right.empty() ? std::vector<std::string>{} : SplitText(right, ':');
  std::vector<std::string>& last_side = elided ? right_groups : left_groups;

  // The dotted tail, when there is one, becomes two groups.
  std::vector<long> tail;
  for (std::size_t side = 0; side < 2; ++side) {
    auto& groups = side == 0 ? left_groups : right_groups;
    for (std::size_t i = 0; i < groups.size(); ++i) {
      if (groups[i].find('.') == std::string::npos) continue;
      if (&groups != &last_side || i + 1 != groups.size()) return false;
      const std::vector<std::string> bytes = SplitText(groups[i], '.');
      if (bytes.size() != 4) return false;
      int b[4];
      for (int k = 0; k < 4; ++k) {
        b[k] = ParseByteField(bytes[static_cast<std::size_t>(k)]);
        if (b[k] < 0 || b[k] > 255) return false;
      }
      tail = {b[0] * 256L + b[1], b[2] * 256L + b[3]};
    }
  }
  if (!tail.empty()) last_side.pop_back();

  std::vector<long> head_values, tail_values;
  for (const auto& g : left_groups) {
    const long v = ParseHexGroup(g);
    if (v < 0) return false;
    head_values.push_back(v);
  }
  for (const auto& g : right_groups) {
    const long v = ParseHexGroup(g);
    if (v < 0) return false;
    tail_values.push_back(v);
  }
  if (!tail.empty()) {
    auto& target = elided ? tail_values : head_values;
    target.insert(target.end(), tail.begin(), tail.end());
  }
  const std::size_t count = head_values.size() + tail_values.size();
  if (elided ? count > 7 : count != 8) return false;
  std::size_t k = 0;
  for (long v : head_values) VGroups[k++] = static_cast<std::uint16_t>(v);
  for (std::size_t zero = count; zero < 8; ++zero) VGroups[k++] = 0;
  for (long v : tail_values) VGroups[k++] = static_cast<std::uint16_t>(v);
  return true;
}

std::function<std::unique_ptr<TIdStack>()>& StackClass() {
  static std::function<std::unique_ptr<TIdStack>()> factory = [] {
    return std::unique_ptr<TIdStack>(std::make_unique<TIdStackUnix>());
  };
  return factory;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lifetime

TIdStack::~TIdStack() = default;

void TIdStack::IncUsage() {
  TStackState& state = StackState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.usage == 0) {
    if (state.instance) throw EIdStackError("Stack already created.");
    if (!StackClass()) throw EIdStackError("Stack Class is undefined.");
    state.instance = StackClass()();
    GStack = state.instance.get();
  }
  ++state.usage;
}

void TIdStack::DecUsage() {
  TStackState& state = StackState();
  std::unique_ptr<TIdStack> released;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.usage <= 0) return;
    --state.usage;
    if (state.usage == 0) {
      GStack = nullptr;
      released = std::move(state.instance);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Client-road operations

std::string TIdStack::ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4:
      if (EqualsIgnoringAsciiCase(AHost, "LOCALHOST")) return "127.0.0.1";
      if (IsIP(AHost)) return AHost;
      return LookupHostAddress(AHost, Id_IPv4);
    case Id_IPv6: {
      if (EqualsIgnoringAsciiCase(AHost, "LOCALHOST")) return "::1";
      std::string canonical = CanonicalIPv6Text(AHost);
      if (!canonical.empty()) return canonical;
      return LookupHostAddress(AHost, Id_IPv6);
    }
  }
  throw EIdIPVersionUnsupported();
}

bool TIdStack::IsIP(const std::string& AIP) {
  const std::vector<std::string> fields = SplitText(AIP, '.');
  if (fields.size() != 4) return false;
  for (const std::string& field : fields) {
    const int value = ParseByteField(TrimText(field));
    if (value < 0 || value > 255) return false;
  }
  return true;
}

int TIdStack::CheckForSocketError(int AResult) {
  if (AResult == Id_SOCKET_ERROR) RaiseLastSocketError();
  return AResult;
}

int TIdStack::CheckForSocketError(int AResult, const std::vector<int>& AIgnore) {
  if (AResult == Id_SOCKET_ERROR) {
    const int err = WSGetLastError();
    if (std::find(AIgnore.begin(), AIgnore.end(), err) != AIgnore.end()) return err;
    RaiseSocketError(err);
  }
  return AResult;
}

void TIdStack::RaiseLastSocketError() {
  RaiseSocketError(WSGetLastError());
}

std::string TIdStack::CanonicalIPv6Text(const std::string& AText) {
  TIdIPv6Address groups{};
  if (!ParseIPv6(AText, groups)) return {};
  std::string result;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i > 0) result += ':';
    result += Format("%X", static_cast<unsigned>(groups[i]));
  }
  return result;
}

TStringList* TIdStack::LocalAddresses() {
  if (!FLocalAddresses) {
    FLocalAddresses = std::make_unique<TStringList>();
    GetLocalAddressList(*FLocalAddresses);
  }
  return FLocalAddresses.get();
}

TIdIPv6Address TIdStack::HostToNetwork(const TIdIPv6Address& AValue) {
  TIdIPv6Address result{};
  for (std::size_t i = 0; i < 8; ++i) result[i] = HostToNetwork(AValue[i]);
  return result;
}

TIdIPv6Address TIdStack::NetworkToHost(const TIdIPv6Address& AValue) {
  TIdIPv6Address result{};
  for (std::size_t i = 0; i < 8; ++i) result[i] = NetworkToHost(AValue[i]);
  return result;
}

std::string TIdStack::WSTranslateSocketErrorMsg(int AErr) {
  switch (AErr) {
    case 10004:
      return "Interrupted system call.";
    case 10009:
      return "Bad file number.";
    case 10013:
      return "Access denied.";
    case 10014:
      return "Buffer fault.";
    case 10022:
      return "Invalid argument.";
    case 10024:
      return "Too many open files.";
    case 10035:
      return "Operation would block.";
    case 10036:
      return "Operation now in progress.";
    case 10037:
      return "Operation already in progress.";
    case 10038:
      return "Socket operation on non-socket.";
    case 10039:
      return "Destination address required.";
    case 10040:
      return "Message too long.";
    case 10041:
      return "Protocol wrong type for socket.";
    case 10042:
      return "Bad protocol option.";
    case 10043:
      return "Protocol not supported.";
    case 10044:
      return "Socket type not supported.";
    case 10045:
      return "Operation not supported on socket.";
    case 10046:
      return "Protocol family not supported.";
    case 10047:
      return "Address family not supported by protocol family.";
    case 10048:
      return "Address already in use.";
    case 10049:
      return "Cannot assign requested address.";
    case 10050:
      return "Network is down.";
    case 10051:
      return "Network is unreachable.";
    case 10052:
      return "Net dropped connection or reset.";
    case 10053:
      return "Software caused connection abort.";
    case 10054:
      return "Connection reset by peer.";
    case 10055:
      return "No buffer space available.";
    case 10056:
      return "Socket is already connected.";
    case 10057:
      return "Socket is not connected.";
    case 10058:
      return "Cannot send or receive after socket is closed.";
    case 10059:
      return "Too many references, cannot splice.";
    case 10060:
      return "Connection timed out.";
    case 10061:
      return "Connection refused.";
    case 10062:
      return "Too many levels of symbolic links.";
    case 10063:
      return "File name too long.";
    case 10064:
      return "Host is down.";
    case 10065:
      return "No route to host.";
    case 10066:
      return "Directory not empty";
    default:
      return {};
  }
}

void TIdStack::RaiseSocketError(int AErr) {
  std::string message =
      Format("Socket Error # %d\r\n%s", AErr, WSTranslateSocketErrorMsg(AErr).c_str());
  if (AErr == Id_WSAENOTSOCK) throw EIdNotASocket(AErr, std::move(message));
  throw EIdSocketError(AErr, std::move(message));
}

void TIdStack::SetKeepAliveValues(TIdStackSocketHandle, bool, int, int) {}

// ---------------------------------------------------------------------------------------------
// BSD base

void TIdStackBSDBase::TranslateStringToTInAddr(const std::string& AIP, std::uint8_t* AInAddr,
                                               TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4: {
      const std::vector<std::string> fields = SplitText(AIP, '.');
      for (std::size_t i = 0; i < 4; ++i) {
        const std::string field = i < fields.size() ? TrimText(fields[i]) : std::string();
        char* end = nullptr;
        const long value = field.empty() ? -1 : std::strtol(field.c_str(), &end, 10);
        // A field that is not a number, or does not fit a byte, is not silently truncated.
        if (field.empty() || *end != '\0' || value < 0 || value > 255) {
          throw EConvertError(Format("'%s' is not a valid integer value", field.c_str()));
        }
        AInAddr[i] = static_cast<std::uint8_t>(value);
      }
      return;
    }
    case Id_IPv6: {
      TIdIPv6Address groups{};
      if (!ParseIPv6(AIP, groups)) {
        throw EIdInvalidIPv6Address(Format("%s is not a valid IPv6 address", AIP.c_str()));
      }
      for (std::size_t i = 0; i < 8; ++i) {
        AInAddr[i * 2] = static_cast<std::uint8_t>(groups[i] >> 8);
        AInAddr[i * 2 + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
      }
      return;
    }
  }
  throw EIdIPVersionUnsupported();
}

std::string TIdStackBSDBase::TranslateTInAddrToString(const std::uint8_t* AInAddr,
                                                      TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
    case Id_IPv4:
      return Format("%u.%u.%u.%u", AInAddr[0], AInAddr[1], AInAddr[2], AInAddr[3]);
    case Id_IPv6: {
      std::string result;
      for (std::size_t i = 0; i < 8; ++i) {
        if (i > 0) result += ':';
        result += Format("%X", static_cast<unsigned>((AInAddr[i * 2] << 8) | AInAddr[i * 2 + 1]));
      }
      return result;
    }
  }
  throw EIdIPVersionUnsupported();
}

TIdStackSocketHandle TIdStackBSDBase::NewSocketHandle(int ASocketType, int AProtocol,
                                                      TIdIPVersion AIPVersion, bool ANonBlocking) {
  if (AIPVersion != Id_IPv4 && AIPVersion != Id_IPv6) throw EIdIPVersionUnsupported();
  const TIdStackSocketHandle result =
      WSSocket(AIPVersion == Id_IPv4 ? AF_INET : AF_INET6, ASocketType, AProtocol, ANonBlocking);
  if (result == Id_INVALID_SOCKET) RaiseLastSocketError();
  return result;
}

void TIdStackBSDBase::GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                      int& AOptVal) {
  int value = 0;
  int len = sizeof value;
  GetSocketOption(ASocket, ALevel, AOptName, &value, len);
  AOptVal = value;
}

void TIdStackBSDBase::SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                      int AOptVal) {
  SetSocketOption(ASocket, ALevel, AOptName, &AOptVal, static_cast<int>(sizeof AOptVal));
}

int TIdStackBSDBase::Receive(TIdStackSocketHandle ASocket, TIdBytes& VBuffer) {
  const int result = WSReceive(ASocket, VBuffer.data(), static_cast<int>(VBuffer.size()), 0);
  return CheckForSocketError(result);
}

int TIdStackBSDBase::Send(TIdStackSocketHandle ASocket, const TIdBytes& ABuffer, int AOffset,
                          int ASize) {
  const std::int64_t offset = std::max(0, AOffset);
  const std::int64_t available =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(ABuffer.size()) - offset);
  const std::int64_t count = ASize >= 0 && ASize < available ? ASize : available;
  const std::uint8_t* from = count > 0 ? ABuffer.data() + offset : ABuffer.data();
  return WSTransmit(ASocket, from, static_cast<int>(count), 0);
}

// ---------------------------------------------------------------------------------------------
// Socket lists

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
  return std::make_unique<TIdSocketListUnix>();
}

bool TIdSocketList::Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                           TIdSocketList* AExceptList, int ATimeout) {
  TIdSocketList* any = AReadList != nullptr    ? AReadList
                       : AWriteList != nullptr ? AWriteList
                                               : AExceptList;
  if (any == nullptr) return false;
  return any->DoSelect(AReadList, AWriteList, AExceptList, ATimeout);
}

}  // namespace brv
