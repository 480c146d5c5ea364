// TIdTestIOHandler: a test double of the transport for the layers above it.
//
// It serves canned input, records every byte written, can hand out at most N bytes per read
// (and take at most N per write), and can fail on the Nth transport call. The input is a queue
// of segments; a "close" mark in the queue is where the peer closes the connection, and the
// next Open (a new connection) continues after it. When the queue runs dry the peer either
// closes (the default) or stalls, so reads time out at once.
//
// Everything above the raw transport (line reads, time-outs, write buffering, graceful-close
// detection) is the real TIdIOHandler code.
//
// Other layers link the library brv_transport_testing and include
// "tests/transport/support/TestIOHandler.h".
#pragma once

#include <deque>
#include <string>

#include "transport/IdIOHandler.h"

namespace brv {

class TIdTestIOHandler : public TIdIOHandler {
 public:
  BRV_CLASS_NAME(TIdTestIOHandler)
  explicit TIdTestIOHandler(TComponent* AOwner = nullptr);
  ~TIdTestIOHandler() override;

  using TIdIOHandler::Write;

  // What the peer does once the canned input is used up.
  enum TInputEnd { ieClose, ieStall };

  // ---- the peer's side ----
  // Queues bytes for the handler to read.
  void AddInput(const std::string& ABytes);
  void AddInput(const TIdBytes& ABytes);
  // Queues a close by the peer: reads return 0 there; the next Open continues after it.
  void AddClose();
  // Bytes queued and not yet read (up to the next close mark).
  std::size_t InputLeft() const;
  TInputEnd InputEnd() const { return FInputEnd; }
  void SetInputEnd(TInputEnd AValue) { FInputEnd = AValue; }

  // Everything written so far, as text and as bytes.
  std::string Output() const { return std::string(FOutput.begin(), FOutput.end()); }
  const TIdBytes& OutputBytes() const { return FOutput; }
  void ClearOutput() { FOutput.clear(); }

  // At most this many bytes per raw read / write (0: no limit beyond the buffer size).
  int MaxReadSize() const { return FMaxReadSize; }
  void SetMaxReadSize(int AValue) { FMaxReadSize = AValue; }
  int MaxWriteSize() const { return FMaxWriteSize; }
  void SetMaxWriteSize(int AValue) { FMaxWriteSize = AValue; }

  // Makes transport call number ACall (raw reads and writes counted together, from 1) fail
  // with the stack's error number AError (10054 "Connection reset by peer." by default), and
  // every call after it until the next Open. 0 switches failing off.
  void SetFailOnCall(int ACall, int AError = 10054);
  // Transport calls made so far.
  int CallCount() const { return FCallCount; }
  // Number of times the handler was opened (connections made).
  int OpenCount() const { return FOpenCount; }
  // The peer's side of the connection exists (opened and not closed).
  bool TransportOpen() const { return FTransportOpen; }

  // ---- the transport ----
  int ReadRawData(TIdBytes& VBuffer) override;
  int WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) override;
  bool RawSourceAvailable() override { return FTransportOpen; }
  int CheckTransportError(int ALastResult) override;
  void RaiseTransportError(int AError) override;
  bool Connected() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                          bool AIgnoreBuffer = false) override;
  void Close() override;
  void Open() override;
  bool Readable(int AMSec = IdTimeoutDefault) override;

 private:
  struct TSegment {
    TIdBytes bytes;
    bool close = false;
  };
  bool NextCallFails();

  std::deque<TSegment> FInput;
  TInputEnd FInputEnd = ieClose;
  TIdBytes FOutput;
  int FMaxReadSize = 0;
  int FMaxWriteSize = 0;
  int FFailOnCall = 0;
  int FFailError = 10054;
  int FCallCount = 0;
  int FOpenCount = 0;
  bool FTransportOpen = false;
  bool FPeerClosed = false;
};

}  // namespace brv
