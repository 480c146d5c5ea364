// TIdTCPConnection: a component that owns or references one I/O handler, forwards the
// handler's work events to itself, answers Connected, and disconnects.
#pragma once

#include <memory>
#include <type_traits>

#include "transport/IdComponent.h"
#include "transport/IdDeadline.h"
#include "transport/IdIOHandler.h"
#include "transport/IdIOHandlerSocket.h"
#include "transport/IdIntercept.h"

namespace brv {

class TIdTCPConnection : public TIdComponent {
 public:
  BRV_CLASS_NAME(TIdTCPConnection)
  explicit TIdTCPConnection(TComponent* AOwner = nullptr);
  // Closes the handler and frees a managed one.
  ~TIdTCPConnection() override;

  // The intercept given to every handler assigned (not owned).
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  // Raises EIdException "The IOHandler already has a different Intercept assigned" when the
  // handler has another one.
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  // The current I/O handler (owned only when ManagedIOHandler).
  TIdIOHandler* IOHandler() const { return FIOHandler; }
  // Assigns a handler the caller keeps (nullptr: none). A managed old handler is freed.
  void SetIOHandler(TIdIOHandler* AValue) { DoSetIOHandler(AValue, nullptr); }
  // Assigns a handler the connection owns from now on (ManagedIOHandler set).
  void SetIOHandler(std::unique_ptr<TIdIOHandler> AValue);
  // The connection created (or was handed) the handler and frees it.
  bool ManagedIOHandler() const { return FManagedIOHandler != nullptr; }
  // The handler when it is a socket handler, else nullptr.
  TIdIOHandlerSocket* Socket() const { return FSocket; }

  // Makes a managed handler of the default class (TBase = TIdIOHandler) or of the most recently
  // registered class deriving from TBase, and assigns it. Raises EIdException "Cannot change a
  // connected IOHandler." while connected.
  template <class TBase = TIdIOHandler>
  void CreateIOHandler(const char* ABaseClassName = "TIdIOHandler") {
    CheckNotConnectedForCreate();
    if constexpr (std::is_same_v<TBase, TIdIOHandler>) {
      SetIOHandler(TIdIOHandler::MakeDefaultIOHandler(this));
    } else {
      SetIOHandler(TIdIOHandler::MakeIOHandler<TBase>(ABaseClassName, this));
    }
  }

  // With a handler, the handler's CheckForDisconnect(ARaise, false); without one, raises
  // EIdException "Not Connected" when asked to.
  virtual void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);
  // False without a handler, else the handler's Connected.
  virtual bool Connected();
  // Closes an opened handler, with the status reports and OnDisconnected; a handler that is not
  // opened is left alone.
  virtual void Disconnect(bool ANotifyPeer);
  void Disconnect() { Disconnect(true); }
  // Hook for protocols that say goodbye; empty here.
  virtual void DisconnectNotifyPeer() {}

  // The deadline and cancellation of the work in progress: every wait of this connection (and
  // of its handler) is bounded by it, and a cancel ends the wait at once. The default value
  // limits nothing.
  const TIdDeadline& Deadline() const { return FDeadline; }
  void SetDeadline(const TIdDeadline& AValue);

  TNotifyEvent OnDisconnected;

 protected:
  virtual void FireDisconnected();
  // Assigns AValue; AOwned holds it when the connection is to own it.
  virtual void DoSetIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void CheckNotConnectedForCreate();

  TIdConnectionIntercept* FIntercept = nullptr;
  TIdIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TIdIOHandler> FManagedIOHandler;
  TIdIOHandlerSocket* FSocket = nullptr;
  TIdDeadline FDeadline;
};

}  // namespace brv
