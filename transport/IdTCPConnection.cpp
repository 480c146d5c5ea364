#include "transport/IdTCPConnection.h"

namespace brv {

TIdTCPConnection::TIdTCPConnection(TComponent* AOwner) : TIdComponent(AOwner) {}

TIdTCPConnection::~TIdTCPConnection() {
  if (FIOHandler != nullptr) {
    try {
      FIOHandler->Close();
    } catch (...) {
      // The handler goes anyway.
    }
  }
  TIdTCPConnection::DoSetIOHandler(nullptr, nullptr);
  if (FIntercept != nullptr) RemoveFreeNotification(FIntercept);
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> AValue) {
  TIdIOHandler* handler = AValue.get();
  DoSetIOHandler(handler, std::move(AValue));
}

void TIdTCPConnection::DoSetIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned) {
  if (AValue == FIOHandler) {
    if (AOwned) FManagedIOHandler = std::move(AOwned);
    return;
  }
  if (AValue != nullptr && FIntercept != nullptr && AValue->Intercept() != nullptr &&
      AValue->Intercept() != FIntercept) {
    throw EIdException("The IOHandler already has a different Intercept assigned");
  }
  if (FIOHandler != nullptr) {
    TIdIOHandler* old = FIOHandler;
    FIOHandler = nullptr;
    FSocket = nullptr;
    if (FManagedIOHandler) {
      FManagedIOHandler.reset();
    } else {
      old->SetWorkTarget(nullptr);
      RemoveFreeNotification(old);
    }
  }
  FIOHandler = AValue;
  FManagedIOHandler = std::move(AOwned);
  if (AValue != nullptr) {
    FreeNotification(AValue);
    AValue->SetWorkTarget(this);
    AValue->SetDeadline(FDeadline);
    if (FIntercept != nullptr) AValue->SetIntercept(FIntercept);
    FSocket = dynamic_cast<TIdIOHandlerSocket*>(AValue);
  }
}

void TIdTCPConnection::SetDeadline(const TIdDeadline& AValue) {
  FDeadline = AValue;
  if (FIOHandler != nullptr) FIOHandler->SetDeadline(AValue);
}

void TIdTCPConnection::Notification(TComponent* AComponent, TOperation Operation) {
  TIdComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == FIOHandler) {
    // Freed elsewhere: forget it, and never free it a second time.
    if (FManagedIOHandler.get() == FIOHandler) static_cast<void>(FManagedIOHandler.release());
    FIOHandler = nullptr;
    FSocket = nullptr;
  }
  if (AComponent == FIntercept) FIntercept = nullptr;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) return;
  if (FIOHandler != nullptr && AValue != nullptr && FIOHandler->Intercept() != nullptr &&
      FIOHandler->Intercept() != AValue && FIOHandler->Intercept() != FIntercept) {
    throw EIdException("The IOHandler already has a different Intercept assigned");
  }
  if (FIntercept != nullptr) RemoveFreeNotification(FIntercept);
  FIntercept = AValue;
  if (FIntercept != nullptr) FreeNotification(FIntercept);
  if (FIOHandler != nullptr) FIOHandler->SetIntercept(AValue);
}

void TIdTCPConnection::CheckNotConnectedForCreate() {
  if (Connected()) throw EIdException("Cannot change a connected IOHandler.");
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
  if (FIOHandler != nullptr) {
    FIOHandler->CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  } else if (ARaiseExceptionIfDisconnected) {
    throw EIdException("Not Connected");
  }
}

bool TIdTCPConnection::Connected() {
  return FIOHandler != nullptr && FIOHandler->Connected();
}

void TIdTCPConnection::Disconnect(bool ANotifyPeer) {
  try {
    if (ANotifyPeer && Connected()) DisconnectNotifyPeer();
  } catch (const Exception&) {
    // Saying goodbye is a courtesy; the close happens regardless.
  }
  if (FIOHandler != nullptr && FIOHandler->Opened()) {
    DoStatus(hsDisconnecting);
    FIOHandler->Close();
    FireDisconnected();
    DoStatus(hsDisconnected);
  }
}

void TIdTCPConnection::FireDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

}  // namespace brv
