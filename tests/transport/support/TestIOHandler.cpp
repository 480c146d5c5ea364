#include "tests/transport/support/TestIOHandler.h"

#include <algorithm>
#include <cstring>

#include "transport/IdStack.h"

namespace brv {

TIdTestIOHandler::TIdTestIOHandler(TComponent* AOwner) : TIdIOHandler(AOwner) {}

TIdTestIOHandler::~TIdTestIOHandler() {
  try {
    TIdTestIOHandler::Close();
  } catch (...) {
    // Nothing may escape a destructor.
  }
}

void TIdTestIOHandler::AddInput(const std::string& ABytes) {
  AddInput(RawToBytes(ABytes));
}

void TIdTestIOHandler::AddInput(const TIdBytes& ABytes) {
  if (ABytes.empty()) return;
  if (!FInput.empty() && !FInput.back().close) {
    FInput.back().bytes.insert(FInput.back().bytes.end(), ABytes.begin(), ABytes.end());
  } else {
    FInput.push_back(TSegment{ABytes, false});
  }
}

void TIdTestIOHandler::AddClose() {
  FInput.push_back(TSegment{{}, true});
}

std::size_t TIdTestIOHandler::InputLeft() const {
  std::size_t left = 0;
  for (const TSegment& segment : FInput) {
    if (segment.close) break;
    left += segment.bytes.size();
  }
  return left;
}

void TIdTestIOHandler::SetFailOnCall(int ACall, int AError) {
  FFailOnCall = ACall;
  FFailError = AError;
}

bool TIdTestIOHandler::NextCallFails() {
  ++FCallCount;
  return FFailOnCall > 0 && FCallCount >= FFailOnCall;
}

int TIdTestIOHandler::ReadRawData(TIdBytes& VBuffer) {
  if (NextCallFails()) return -1;
  if (FPeerClosed) return 0;
  while (!FInput.empty() && !FInput.front().close && FInput.front().bytes.empty())
    FInput.pop_front();
  if (FInput.empty() || FInput.front().close) {
    if (!FInput.empty()) FInput.pop_front();  // the close mark is used up by this connection
    FPeerClosed = true;
    return 0;
  }
  TIdBytes& front = FInput.front().bytes;
  std::size_t count = std::min(VBuffer.size(), front.size());
  if (FMaxReadSize > 0) count = std::min(count, static_cast<std::size_t>(FMaxReadSize));
  std::memcpy(VBuffer.data(), front.data(), count);
  front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(count));
  if (front.empty()) FInput.pop_front();
  return static_cast<int>(count);
}

int TIdTestIOHandler::WriteRawData(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (NextCallFails()) return -1;
  int count = std::max(0, std::min(ALength, static_cast<int>(ABuffer.size()) - AOffset));
  if (FMaxWriteSize > 0) count = std::min(count, FMaxWriteSize);
  FOutput.insert(FOutput.end(), ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + count);
  return count;
}

int TIdTestIOHandler::CheckTransportError(int ALastResult) {
  if (ALastResult != -1) return ALastResult;
  if (FFailError != Id_WSAESHUTDOWN && FFailError != Id_WSAECONNABORTED &&
      FFailError != Id_WSAECONNRESET && FFailError != Id_WSAETIMEDOUT) {
    GStack->RaiseSocketError(FFailError);
  }
  return FFailError;
}

void TIdTestIOHandler::RaiseTransportError(int AError) {
  GStack->RaiseSocketError(AError);
}

bool TIdTestIOHandler::Connected() {
  FillInputBuffer(false, 0, false);
  const bool connected = TIdIOHandler::Connected();
  return (FTransportOpen && connected) || FInputBuffer->Size() > 0;
}

void TIdTestIOHandler::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  bool lost;
  if (FClosedGracefully) {
    if (FTransportOpen) {
      Close();
      DoStatus(hsDisconnected);
    }
    lost = true;
  } else {
    lost = !FTransportOpen;
  }
  if (lost && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || FInputBuffer->Size() == 0)) {
    RaiseClosedGracefully();
  }
}

void TIdTestIOHandler::Close() {
  FTransportOpen = false;
  TIdIOHandler::Close();
}

void TIdTestIOHandler::Open() {
  TIdIOHandler::Open();
  FTransportOpen = true;
  FPeerClosed = false;
  FFailOnCall = FFailOnCall > 0 && FCallCount >= FFailOnCall ? 0 : FFailOnCall;
  ++FOpenCount;
}

bool TIdTestIOHandler::Readable(int) {
  if (!FTransportOpen) throw EIdConnClosedGracefully();
  if (FFailOnCall > 0 && FCallCount + 1 >= FFailOnCall) return true;  // the failure is "ready"
  if (FPeerClosed || InputLeft() > 0) return true;
  // Nothing queued before a close mark: a close mark is ready at once, a dry queue follows
  // InputEnd (a stall never becomes ready, which the caller sees as its time-out passing).
  if (!FInput.empty()) return true;
  return FInputEnd == ieClose;
}

}  // namespace brv
