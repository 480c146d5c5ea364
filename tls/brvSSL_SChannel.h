// The TLS link of the security-package engine: one TLS client connection over a socket that is
// already connected, driven through the security interface (tls/sspi/brvSSPI.h). The link does
// every socket read and write itself; the security interface only turns tokens and records
// into each other in memory. The link's record (TSSLInfo) holds security-interface types, so
// it is declared in tls/private/SChannelLink.h and only the TLS layer sees inside it.
//
// A link is made connected and handshaken by SChannelConnect, used with SChannelRead and
// SChannelWrite, and freed by SChannelClose. The process-wide state is the function table and
// the "MY" certificate store, opened once by SChannelInitialize.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "tls/brvWebSocket_Types.h"
#include "transport/IdDeadline.h"

namespace brv {

// One TLS connection (tls/private/SChannelLink.h).
struct TSSLInfo;

// Called before client credentials are chosen (at the start of a handshake and when the
// server asks for a client certificate), with the link and the user data given to it.
using TCredentialsCallBack = void (*)(TSSLInfo* Link, void* UserData);

// Which security handles a link holds.
enum TSSLInitItem : unsigned { iCredentials = 1, iContext = 2 };
// A set of TSSLInitItem, or-ed together.
using TSSLInit = unsigned;

// The text of the last link failure on this thread.
const std::string& SChannelLastError();
// The certificate policy status of the last verification on this thread (0: none or passed).
std::uint32_t SChannelCertStatus();

// Once per process: the function table and the "MY" store. A failure is not remembered: the
// next connect tries again (a store directory can be created meanwhile).
bool SChannelInitialize();

// A connected, handshaken link over ASocket, or nullptr (SChannelLastError says why, and
// SChannelCertStatus holds the certificate verdict when verification ran).
// ARootCertFile adds trusted roots to the verification; ATimeout bounds the handshake's socket
// waits in milliseconds (0 or below: no limit), and so does ABound (a deadline or a cancel).
std::unique_ptr<TSSLInfo> SChannelConnect(std::int32_t ASocket, const std::string& AServerName,
                                          TwsTLSVersions AVersion,
                                          const TStringList* AALPNProtocols,
                                          bool AVerifyCertificate, TCredentialsCallBack ACallBack,
                                          void* AUserData, const std::string& ARootCertFile = {},
                                          int ATimeout = 0, const TIdDeadline& ABound = {});
// Replaces the credentials callback of a link.
void SChannelSetCallback(TSSLInfo* ALink, TCredentialsCallBack ACallBack, void* AUserData);
// Limits the socket waits of the next reads and writes to AMSec milliseconds from now
// (negative: no limit of its own) and to ABound.
void SChannelSetTimeout(TSSLInfo* ALink, int AMSec, const TIdDeadline& ABound = {});
// Decrypted bytes into ABuffer: the count, 0 at the end of the data, negative on failure.
int SChannelRead(TSSLInfo* ALink, void* ABuffer, int ASize);
// Encrypts and sends: ASize, or the failing result.
int SChannelWrite(TSSLInfo* ALink, const void* ABuffer, int ASize);
// Frees the link (no close notification is sent).
void SChannelClose(std::unique_ptr<TSSLInfo>& ALink);
// The protocol the server chose by ALPN; "" without a link.
std::string SChannelGetALPN(TSSLInfo* ALink);

// The application-protocols buffer the handshake offers for AProtocols: the platform's
// structure (lists size, ALPN marker, list size) and the list of length-prefixed names in list
// order. Empty names are skipped. The offer area holds 118 bytes of list: the list is cut
// before the first name that would not fit (or is longer than 255 bytes), so a prefix of the
// list is offered. Empty when nothing is offered.
std::vector<std::uint8_t> SChannelALPNOffer(const TStringList* AProtocols);

}  // namespace brv
