// Types, constants and small helpers shared by every unit of the transport.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Classes.h"
#include "base/IdIPVersion.h"

namespace brv {

// A growable array of bytes; every transport and HTTP operation moves bytes in this form.
using TIdBytes = std::vector<std::uint8_t>;

// A 16-byte IPv6 address held as eight 16-bit groups.
using TIdIPv6Address = std::array<std::uint16_t, 8>;

// Address family of a connection: TIdIPVersion (Id_IPv4, Id_IPv6) from base/IdIPVersion.h.

// Address reuse of a local binding.
enum TIdReuseSocket { rsOSDependent = 0, rsTrue = 1, rsFalse = 2 };

// What ReadLn does with a line longer than the maximum line length.
enum TIdMaxLineAction { maException, maSplit };

// Direction of a work-progress report.
enum TWorkMode { wmRead, wmWrite };

// Connection states reported through OnStatus.
enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

// Time-outs in milliseconds: the caller's default, and no limit.
inline constexpr int IdTimeoutDefault = -1;
inline constexpr int IdTimeoutInfinite = -2;

inline constexpr int IdMaxLineLengthDefault = 16384;
inline constexpr int IdDefTimeout = 0;
inline constexpr int GRecvBufferSizeDefault = 32768;
inline constexpr int GSendBufferSizeDefault = 32768;

// Line endings.
inline constexpr const char* LF = "\n";
inline constexpr const char* CR = "\r";
inline constexpr const char* EOL = "\r\n";

// A parameterless event called with the component that fires it.
using TNotifyEvent = std::function<void(TObject* ASender)>;

// Byte array helpers.
// The bytes of a text as they are held (no encoding).
TIdBytes RawToBytes(const std::string& AText);
std::string BytesToStringRaw(const TIdBytes& ABytes, int AStartIndex = 0, int ALength = -1);
void AppendBytes(TIdBytes& VBytes, const TIdBytes& AToAdd, int AIndex = 0, int ALength = -1);

// Byte order between the host and the network (big-endian).
std::uint16_t HostToNetwork(std::uint16_t AValue);
std::uint32_t HostToNetwork(std::uint32_t AValue);
std::uint64_t HostToNetwork(std::uint64_t AValue);
std::uint16_t NetworkToHost(std::uint16_t AValue);
std::uint32_t NetworkToHost(std::uint32_t AValue);
std::uint64_t NetworkToHost(std::uint64_t AValue);

// Removes leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimText(const std::string& AText);

}  // namespace brv
