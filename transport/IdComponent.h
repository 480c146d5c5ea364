// TIdComponent: base of the transport and HTTP components. It carries the status event and the
// work-progress events, and holds a use of the shared socket stack for its whole life.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Classes.h"
#include "transport/IdGlobal.h"

namespace brv {

// Base of the transport's components that do not need the socket stack (intercepts).
class TIdBaseComponent : public TComponent {
 public:
  BRV_CLASS_NAME(TIdBaseComponent)
  explicit TIdBaseComponent(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
};

using TIdStatusEvent =
    std::function<void(TObject* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent =
    std::function<void(TObject* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(TObject* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode)>;

// The text of a status, with %s where an argument goes.
const char* StatusText(TIdStatus AStatus);

class TIdComponent : public TIdBaseComponent {
 public:
  BRV_CLASS_NAME(TIdComponent)
  // Takes a use of the shared socket stack (creating it for the first user).
  explicit TIdComponent(TComponent* AOwner = nullptr);
  // Gives the use back (the last user frees the stack).
  ~TIdComponent() override;

  // Fired by DoStatus, with the component as Sender.
  TIdStatusEvent OnStatus;
  // Work progress: the begin of a piece of work (with its expected size, 0 when unknown),
  // each step, and its end. Nested BeginWork/EndWork pairs report only the outermost.
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  void BeginWork(TWorkMode AWorkMode, std::int64_t ASize = 0);
  void DoWork(TWorkMode AWorkMode, std::int64_t ACount);
  void EndWork(TWorkMode AWorkMode);

  // Reports a status: formats its text with AArg (for a text with %s) and fires OnStatus;
  // nothing when OnStatus is not assigned.
  void DoStatus(TIdStatus AStatus, const std::string& AArg = {});

  // Where the work events go instead of this component's own (a handler forwards to its
  // connection); nullptr: this component. Not owned.
  TIdComponent* WorkTarget() const { return FWorkTarget; }
  void SetWorkTarget(TIdComponent* AValue) { FWorkTarget = AValue; }

 private:
  struct TWorkInfo {
    int Level = 0;
    std::int64_t Count = 0;
    std::int64_t CountMax = 0;
  };
  TWorkInfo FWorkInfos[2];
  TIdComponent* FWorkTarget = nullptr;
};

}  // namespace brv
