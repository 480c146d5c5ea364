#include "transport/IdTCPClient.h"

namespace brv {

TIdTCPClientCustom::TIdTCPClientCustom(TComponent* AOwner) : TIdTCPConnection(AOwner) {}

TIdTCPClientCustom::~TIdTCPClientCustom() = default;

void TIdTCPClientCustom::Connect(const std::string& AHost) {
  SetHost(AHost);
  Connect();
}

void TIdTCPClientCustom::Connect(const std::string& AHost, std::uint16_t APort) {
  SetHost(AHost);
  SetPort(APort);
  Connect();
}

void TIdTCPClientCustom::Connect() {
  if (Connected()) throw EIdAlreadyConnected();
  if (FHost.empty()) throw EIdHostRequired();
  if (FPort == 0) throw EIdPortRequired();
  if (FIOHandler == nullptr) CreateDefaultHandler();
  try {
    CopySettingsTo(FIOHandler, true);
    FIOHandler->Open();
    if (FIOHandler->Intercept() != nullptr) FIOHandler->Intercept()->Connect(this);
    DoStatus(hsConnected);
    FireConnected();
  } catch (...) {
    if (FIOHandler != nullptr) {
      try {
        FIOHandler->Close();
      } catch (...) {
        // The original failure is the one to report.
      }
      if (ManagedIOHandler()) SetIOHandler(nullptr);
    }
    throw;
  }
}

std::string TIdTCPClientCustom::ConnectAndGetAll() {
  Connect();
  std::string result;
  try {
    result = FIOHandler->AllData();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return result;
}

void TIdTCPClientCustom::CreateDefaultHandler() {
  std::unique_ptr<TIdIOHandler> handler = TIdIOHandler::MakeDefaultIOHandler(this);
  handler->OnStatus = OnStatus;
  SetIOHandler(std::move(handler));
}

void TIdTCPClientCustom::DoSetIOHandler(TIdIOHandler* AValue,
                                        std::unique_ptr<TIdIOHandler> AOwned) {
  const bool is_new = AValue != FIOHandler;
  TIdTCPConnection::DoSetIOHandler(AValue, std::move(AOwned));
  if (is_new && AValue != nullptr) CopySettingsTo(AValue, false);
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler* AHandler, bool AWithDestination) {
  if (AWithDestination && !FDestination.empty()) AHandler->SetDestination(FDestination);
  AHandler->SetPort(FPort);
  AHandler->SetHost(FHost);
  AHandler->SetConnectTimeout(FConnectTimeout);
  AHandler->SetReadTimeout(FReadTimeout);
  if (auto* socket = dynamic_cast<TIdIOHandlerSocket*>(AHandler)) {
    socket->SetBoundIP(FBoundIP);
    socket->SetBoundPort(FBoundPort);
    socket->SetBoundPortMin(FBoundPortMin);
    socket->SetBoundPortMax(FBoundPortMax);
    socket->SetIPVersion(FIPVersion);
    socket->SetReuseSocket(FReuseSocket);
    socket->SetUseNagle(FUseNagle);
    socket->OnBeforeBind = OnBeforeBind;
    socket->OnAfterBind = OnAfterBind;
    socket->OnSocketAllocated = OnSocketAllocated;
  }
}

void TIdTCPClientCustom::FireConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClientCustom::SetBoundIP(const std::string& AValue) {
  FBoundIP = AValue;
  if (FSocket != nullptr) FSocket->SetBoundIP(AValue);
}

void TIdTCPClientCustom::SetBoundPort(std::uint16_t AValue) {
  FBoundPort = AValue;
  if (FSocket != nullptr) FSocket->SetBoundPort(AValue);
}

void TIdTCPClientCustom::SetBoundPortMax(std::uint16_t AValue) {
  FBoundPortMax = AValue;
  if (FSocket != nullptr) FSocket->SetBoundPortMax(AValue);
}

void TIdTCPClientCustom::SetBoundPortMin(std::uint16_t AValue) {
  FBoundPortMin = AValue;
  if (FSocket != nullptr) FSocket->SetBoundPortMin(AValue);
}

void TIdTCPClientCustom::SetConnectTimeout(int AValue) {
  FConnectTimeout = AValue;
  if (FIOHandler != nullptr) FIOHandler->SetConnectTimeout(AValue);
}

void TIdTCPClientCustom::SetHost(const std::string& AValue) {
  FHost = AValue;
  if (FIOHandler != nullptr) FIOHandler->SetHost(AValue);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion AValue) {
  FIPVersion = AValue;
  if (FSocket != nullptr) FSocket->SetIPVersion(AValue);
}

void TIdTCPClientCustom::SetPort(std::uint16_t AValue) {
  FPort = AValue;
  if (FIOHandler != nullptr) FIOHandler->SetPort(AValue);
}

int TIdTCPClientCustom::ReadTimeout() const {
  return FIOHandler != nullptr ? FIOHandler->ReadTimeout() : FReadTimeout;
}

void TIdTCPClientCustom::SetReadTimeout(int AValue) {
  FReadTimeout = AValue;
  if (FIOHandler != nullptr) FIOHandler->SetReadTimeout(AValue);
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return FSocket != nullptr ? FSocket->ReuseSocket() : FReuseSocket;
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket AValue) {
  FReuseSocket = AValue;
  if (FSocket != nullptr) FSocket->SetReuseSocket(AValue);
}

bool TIdTCPClientCustom::UseNagle() const {
  return FSocket != nullptr ? FSocket->UseNagle() : FUseNagle;
}

void TIdTCPClientCustom::SetUseNagle(bool AValue) {
  FUseNagle = AValue;
  if (FSocket != nullptr) FSocket->SetUseNagle(AValue);
}

}  // namespace brv
