#include "transport/IdComponent.h"

#include "transport/IdStack.h"

namespace brv {

const char* StatusText(TIdStatus AStatus) {
  switch (AStatus) {
    case hsResolving:
      return "Resolving hostname %s.";
    case hsConnecting:
      return "Connecting to %s.";
    case hsConnected:
      return "Connected.";
    case hsDisconnecting:
      return "Disconnecting.";
    case hsDisconnected:
      return "Disconnected.";
    case hsStatusText:
      return "%s";
    case ftpTransfer:
      return "Transferring.";
    case ftpReady:
      return "Ready.";
    case ftpAborted:
      return "Aborted.";
  }
  return "";
}

TIdComponent::TIdComponent(TComponent* AOwner) : TIdBaseComponent(AOwner) {
  TIdStack::IncUsage();
}

TIdComponent::~TIdComponent() {
  TIdStack::DecUsage();
}

void TIdComponent::BeginWork(TWorkMode AWorkMode, std::int64_t ASize) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->BeginWork(AWorkMode, ASize);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  ++info.Level;
  if (info.Level == 1) {
    info.Count = 0;
    info.CountMax = ASize;
    if (OnWorkBegin) OnWorkBegin(this, AWorkMode, ASize);
  }
}

void TIdComponent::DoWork(TWorkMode AWorkMode, std::int64_t ACount) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->DoWork(AWorkMode, ACount);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level > 0) {
    info.Count += ACount;
    if (OnWork) OnWork(this, AWorkMode, info.Count);
  }
}

void TIdComponent::EndWork(TWorkMode AWorkMode) {
  if (FWorkTarget != nullptr) {
    FWorkTarget->EndWork(AWorkMode);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level == 1 && OnWorkEnd) OnWorkEnd(this, AWorkMode);
  if (info.Level > 0) --info.Level;
}

void TIdComponent::DoStatus(TIdStatus AStatus, const std::string& AArg) {
  if (!OnStatus) return;
  OnStatus(this, AStatus, Format(StatusText(AStatus), AArg.c_str()));
}

}  // namespace brv
