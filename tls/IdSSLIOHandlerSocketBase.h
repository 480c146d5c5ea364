// TIdSSLIOHandlerSocketBase: the base of the TLS I/O handlers. It is a plain TCP handler with a
// PassThrough switch: while PassThrough is on, raw reads and writes go to the socket in clear;
// while it is off, they go through the TLS layer of the derived handler.
#pragma once

#include <memory>
#include <string>

#include "base/StringList.h"
#include "transport/IdIOHandlerStack.h"

namespace brv {

class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
 public:
  BRV_CLASS_NAME(TIdSSLIOHandlerSocketBase)
  explicit TIdSSLIOHandlerSocketBase(TComponent* AOwner = nullptr);

  using TIdIOHandler::Write;

  // True (the default): bytes travel in clear. Switching it off on a connected socket starts
  // TLS there (in a derived handler).
  bool PassThrough() const { return fPassThrough; }
  virtual void SetPassThrough(bool Value) { fPassThrough = Value; }
  // The handler serves the accepting side of a connection.
  bool IsPeer() const { return fIsPeer; }
  void SetIsPeer(bool Value) { fIsPeer = Value; }
  // URL of the request; its host names the server in the handshake.
  const std::string& URIToCheck() const { return FURIToCheck; }
  virtual void SetURIToCheck(const std::string& Value) { FURIToCheck = Value; }
  // Protocols offered by ALPN; the list is created on first read.
  TStringList* ALPNProtocols();
  // Copies the list into the handler's, and only when that list already exists.
  void SetALPNProtocols(const TStringList* Value);

  // A new handler of the same kind with the same settings, without owner.
  virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() = 0;
  // Starts TLS on the connected socket when PassThrough is off.
  virtual void StartSSL() = 0;

  // With PassThrough on, the socket's; otherwise ReadDecrypted and WriteEncrypted.
  int ReadRawData(TIdBytes& VBuffer) override;
  int WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) override;

 protected:
  // Reads and decrypts into VBuffer (its length is the receive size); the result follows the
  // rules of ReadRawData: bytes placed, 0 when the peer closed, negative on error.
  virtual int ReadDecrypted(TIdBytes& VBuffer) = 0;
  // Encrypts and sends; the result follows the rules of WriteRawData.
  virtual int WriteEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) = 0;
  // Connects the socket (and a proxy tunnel) in clear, whatever PassThrough says, and puts
  // PassThrough back as it was, also when connecting fails; TLS starts afterwards.
  void ConnectInClear();

  bool fPassThrough = true;
  bool fIsPeer = false;
  std::string FURIToCheck;
  std::unique_ptr<TStringList> FALPNProtocols;
};

}  // namespace brv
