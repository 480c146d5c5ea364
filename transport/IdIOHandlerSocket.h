// TIdIOHandlerSocket: the I/O handler over one socket handle (its binding). It allocates and
// binds the socket, closes it, and fires the binding events; TIdIOHandlerStack adds the name
// resolution, the connect and the raw transfer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/IdIOHandler.h"
#include "transport/IdSocketHandle.h"

namespace brv {

class TIdIOHandlerSocket;

// A hook that tunnels the connection through a proxy. This base does nothing (it is never
// enabled); a derived class supplies a proxy protocol.
class TIdCustomTransparentProxy : public TIdComponent {
 public:
  BRV_CLASS_NAME(TIdCustomTransparentProxy)
  explicit TIdCustomTransparentProxy(TComponent* AOwner = nullptr) : TIdComponent(AOwner) {}
  // True when the proxy is in use.
  virtual bool Enabled() const { return false; }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  std::uint16_t Port() const { return FPort; }
  void SetPort(std::uint16_t AValue) { FPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  // A proxy to connect through first (not owned).
  TIdCustomTransparentProxy* ChainedProxy() const { return FChainedProxy; }
  void SetChainedProxy(TIdCustomTransparentProxy* AValue) { FChainedProxy = AValue; }
  // Opens the tunnel to AHost:APort over the connected handler.
  virtual void Connect(TIdIOHandler* AIOHandler, const std::string& AHost, std::uint16_t APort,
                       TIdIPVersion AIPVersion);
  // Copies the settings into another proxy of the same class.
  void Assign(const TPersistent* Source) override;
  // A new proxy object of the same class.
  virtual std::unique_ptr<TIdCustomTransparentProxy> CloneEmpty() const;

 protected:
  std::string FHost;
  std::uint16_t FPort = 0;
  TIdIPVersion FIPVersion = Id_IPv4;
  TIdCustomTransparentProxy* FChainedProxy = nullptr;
};

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  BRV_CLASS_NAME(TIdIOHandlerSocket)
  explicit TIdIOHandlerSocket(TComponent* AOwner = nullptr);
  ~TIdIOHandlerSocket() override;

  using TIdIOHandler::Write;

  // Host, or Host ":" Port when Port is set and differs from DefaultPort.
  std::string Destination() const override;
  // Splits at the last ":" into Host and Port (DefaultPort when the port does not parse).
  void SetDestination(const std::string& AValue) override;
  bool RawSourceAvailable() override { return BindingAllocated(); }
  // -1 becomes the last socket error when it is 10058, 10053, 10054 or 10060; others raise.
  int CheckTransportError(int ALastResult) override;
  void RaiseTransportError(int AError) override;
  void AfterAccept() override;
  bool Connected() override;
  // Closes the binding's socket, then the handler.
  void Close() override;
  // Creates or resets the binding and connects when Host and Port are set.
  void Open() override;
  std::int64_t WriteFile(const std::string& AFile, bool AEnableTransferFile = false) override;

  // A binding exists and its socket is open.
  bool BindingAllocated() const;
  // The socket (created by the first Open; lives as long as the handler).
  TIdSocketHandle* Binding() const { return FBinding.get(); }

  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& AValue) { FBoundIP = AValue; }
  std::uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(std::uint16_t AValue) { FBoundPort = AValue; }
  std::uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(std::uint16_t AValue) { FBoundPortMax = AValue; }
  std::uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(std::uint16_t AValue) { FBoundPortMin = AValue; }
  std::uint16_t DefaultPort() const { return FDefaultPort; }
  void SetDefaultPort(std::uint16_t AValue) { FDefaultPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  // Read from the binding when one exists; written to both.
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket AValue);
  bool UseNagle() const;
  void SetUseNagle(bool AValue);
  // The proxy hook; created (disabled) on first read when none was assigned.
  TIdCustomTransparentProxy* TransparentProxy();
  // A proxy with an owner is referenced; one without is copied; nullptr releases the current.
  void SetTransparentProxy(TIdCustomTransparentProxy* AProxy);

  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

 protected:
  // The connect step called by Open: allocate, bind, Nagle, with the binding events.
  virtual void ConnectToPeer();
  virtual void FireBeforeBind();
  virtual void FireAfterBind();
  virtual void FireSocketAllocated();
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // The assigned or implicit proxy when it is enabled, else nullptr.
  TIdCustomTransparentProxy* EnabledProxy() const;

  std::unique_ptr<TIdSocketHandle> FBinding;
  std::string FBoundIP;
  std::uint16_t FBoundPort = 0;
  std::uint16_t FBoundPortMax = 0;
  std::uint16_t FBoundPortMin = 0;
  std::uint16_t FDefaultPort = 0;
  TIdCustomTransparentProxy* FTransparentProxy = nullptr;
  std::unique_ptr<TIdCustomTransparentProxy> FImplicitProxy;
  bool FImplicitTransparentProxy = false;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  TIdIPVersion FIPVersion = Id_IPv4;
  // The error number of the last failed raw read or write (0: none), for CheckTransportError.
  int FLastSocketError = 0;
};

}  // namespace brv
