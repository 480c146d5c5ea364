#include "transport/IdIntercept.h"

#include "transport/IdException.h"

namespace brv {

TIdConnectionIntercept::TIdConnectionIntercept(TComponent* AOwner) : TIdBaseComponent(AOwner) {}

TIdConnectionIntercept::~TIdConnectionIntercept() = default;

void TIdConnectionIntercept::Connect(TComponent* AConnection) {
  FConnection = AConnection;
  if (OnConnect) OnConnect(this);
  if (FIntercept != nullptr) FIntercept->Connect(AConnection);
}

void TIdConnectionIntercept::Disconnect() {
  if (FIntercept != nullptr) FIntercept->Disconnect();
  if (OnDisconnect) OnDisconnect(this);
  FConnection = nullptr;
}

void TIdConnectionIntercept::Receive(TIdBytes& VBuffer) {
  if (FIntercept != nullptr) FIntercept->Receive(VBuffer);
  if (OnReceive) OnReceive(this, VBuffer);
}

void TIdConnectionIntercept::Send(TIdBytes& VBuffer) {
  if (OnSend) OnSend(this, VBuffer);
  if (FIntercept != nullptr) FIntercept->Send(VBuffer);
}

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) return;
  for (TIdConnectionIntercept* next = AValue; next != nullptr; next = next->FIntercept) {
    if (next == this) {
      throw EIdInterceptCircularLink(Format("%s: Circular links are not allowed", ClassName()));
    }
  }
  if (FIntercept != nullptr) RemoveFreeNotification(FIntercept);
  FIntercept = AValue;
  if (FIntercept != nullptr) FreeNotification(FIntercept);
}

void TIdConnectionIntercept::Notification(TComponent* AComponent, TOperation Operation) {
  TIdBaseComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FIntercept) FIntercept = nullptr;
}

}  // namespace brv
