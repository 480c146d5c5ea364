// TIdTCPClientCustom and TIdTCPClient: a TCP connection with its settings and Connect. Connect
// creates the default plain handler when none is assigned, hands it the settings and opens it.
#pragma once

#include <cstdint>
#include <string>

#include "transport/IdTCPConnection.h"

namespace brv {

class TIdTCPClientCustom : public TIdTCPConnection {
 public:
  BRV_CLASS_NAME(TIdTCPClientCustom)
  explicit TIdTCPClientCustom(TComponent* AOwner = nullptr);
  ~TIdTCPClientCustom() override;

  // Opens the connection. Raises EIdAlreadyConnected, EIdHostRequired, EIdPortRequired, and
  // whatever resolving, binding and connecting raise (the handler then is closed, and a managed
  // one freed).
  virtual void Connect();
  void Connect(const std::string& AHost);
  void Connect(const std::string& AHost, std::uint16_t APort);
  // Connects, reads everything until the peer closes and returns it; disconnects in any case.
  std::string ConnectAndGetAll();

  // ---- properties; setters forward to the current handler at once ----
  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& AValue);
  std::uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(std::uint16_t AValue);
  std::uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(std::uint16_t AValue);
  std::uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(std::uint16_t AValue);
  // Connect time-out in milliseconds (0 and -1: none).
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int AValue);
  // Host and port text given to the handler before Host and Port.
  const std::string& Destination() const { return FDestination; }
  void SetDestination(const std::string& AValue) { FDestination = AValue; }
  const std::string& Host() const { return FHost; }
  virtual void SetHost(const std::string& AValue);
  TIdIPVersion IPVersion() const { return FIPVersion; }
  virtual void SetIPVersion(TIdIPVersion AValue);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  std::uint16_t Port() const { return FPort; }
  virtual void SetPort(std::uint16_t AValue);
  // The handler's value when there is one.
  int ReadTimeout() const;
  void SetReadTimeout(int AValue);
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& AValue) { FUsername = AValue; }
  // The socket handler's value when there is one.
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket AValue);
  bool UseNagle() const;
  void SetUseNagle(bool AValue);

  // Fired at the end of a successful Connect.
  TNotifyEvent OnConnected;
  // Copied to the socket handler.
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

 protected:
  virtual void FireConnected();
  // A managed handler of the process-wide default class.
  virtual void CreateDefaultHandler();
  void DoSetIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned) override;
  // Gives the handler the connection's settings (and the binding settings to a socket handler).
  void CopySettingsTo(TIdIOHandler* AHandler, bool AWithDestination);

  std::string FBoundIP;
  std::uint16_t FBoundPort = 0;
  std::uint16_t FBoundPortMax = 0;
  std::uint16_t FBoundPortMin = 0;
  int FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::string FPassword;
  std::uint16_t FPort = 0;
  int FReadTimeout = IdTimeoutDefault;
  std::string FUsername;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  bool FUseNagle = true;
};

// The TCP client with every property published.
class TIdTCPClient : public TIdTCPClientCustom {
 public:
  BRV_CLASS_NAME(TIdTCPClient)
  using TIdTCPClientCustom::TIdTCPClientCustom;
};

}  // namespace brv
