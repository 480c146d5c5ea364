// TIdIOHandlerStack: the plain TCP handler. Adds name resolution, the connect with its
// time-out, and the raw reads and writes through the shared stack. The TLS handlers derive from
// it and reuse its connect.
#pragma once

#include "transport/IdIOHandlerSocket.h"

namespace brv {

class TIdIOHandlerStack : public TIdIOHandlerSocket {
 public:
  BRV_CLASS_NAME(TIdIOHandlerStack)
  explicit TIdIOHandlerStack(TComponent* AOwner = nullptr);

  using TIdIOHandler::Write;

  // One receive of up to the array's length; raises the stack's EIdSocketError on failure.
  int ReadRawData(TIdBytes& VBuffer) override;
  // One send. With a write time-out (ReadTimeout) or a deadline in force, the send waits for
  // room at most that long and takes what fits; a time-out reports 10060.
  int WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) override;
  // Reads what has arrived without waiting (noticing a peer that closed), then the socket rule.
  bool Connected() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                          bool AIgnoreBuffer = false) override;
  // The binding's Readable, ended early by the deadline. Without a limit (-1, -2) and without
  // a deadline it answers true at once, since the receive that follows blocks until data
  // arrives.
  bool Readable(int AMSec = IdTimeoutDefault) override;

 protected:
  // The socket handler's steps, then resolve, connect (with ConnectTimeout) and the proxy.
  void ConnectToPeer() override;
  // Connects with a limit of ATimeout milliseconds (-2: none) and the deadline: a non-blocking
  // connect waited on with poll. After closing the handler it raises EIdConnectTimeout
  // "Connect timed out." when the time passes, EIdDeadlineExceeded or EIdOperationCancelled
  // when the deadline ends it; the stack's EIdSocketError when the connect fails.
  virtual void ConnectWithTimeout(int ATimeout);
};

}  // namespace brv
