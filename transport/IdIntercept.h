// TIdConnectionIntercept: a chainable hook that sees every block of bytes an I/O handler reads
// or writes. The connection log is one.
#pragma once

#include <functional>

#include "transport/IdComponent.h"
#include "transport/IdGlobal.h"

namespace brv {

class TIdConnectionIntercept;

// Receives the intercept and the bytes, which it may replace.
using TIdInterceptStreamEvent =
    std::function<void(TIdConnectionIntercept* ASender, TIdBytes& ABuffer)>;
using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;

class TIdConnectionIntercept : public TIdBaseComponent {
 public:
  BRV_CLASS_NAME(TIdConnectionIntercept)
  explicit TIdConnectionIntercept(TComponent* AOwner = nullptr);
  ~TIdConnectionIntercept() override;

  // Stores the connection, fires OnConnect, then passes on down the chain.
  virtual void Connect(TComponent* AConnection);
  // Passes on down the chain, fires OnDisconnect, then forgets the connection.
  virtual void Disconnect();
  // Incoming bytes: the chain below first, then OnReceive.
  virtual void Receive(TIdBytes& VBuffer);
  // Outgoing bytes: OnSend first, then the chain below.
  virtual void Send(TIdBytes& VBuffer);

  // The component this intercept serves (set by Connect).
  TComponent* Connection() const { return FConnection; }
  // The next intercept of the chain (not owned). Linking a chain that leads back to this one
  // raises EIdInterceptCircularLink.
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  void SetIntercept(TIdConnectionIntercept* AValue);
  bool IsClient() const { return FIsClient; }
  // A free reference for the user.
  TObject* Data() const { return FData; }
  void SetData(TObject* AValue) { FData = AValue; }

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TComponent* FConnection = nullptr;
  TIdConnectionIntercept* FIntercept = nullptr;
  bool FIsClient = true;
  TObject* FData = nullptr;
};

}  // namespace brv
