#include "base/Classes.h"

#include <algorithm>

namespace brv {

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr) {
    Source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const {
  const char* source_name = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError(Format("Cannot assign a %s to a %s", source_name, ClassName()));
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  // Tell every watcher first, while this object is still whole.
  while (!notifications_.empty()) {
    TComponent* other = notifications_.back();
    notifications_.pop_back();
    auto& theirs = other->notifications_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, TOperation::opRemove);
  }
  // Components listed here outlive their owner only when the code that holds them keeps
  // them; ownership of memory is the holder's (a unique_ptr), so they are detached.
  while (!components_.empty()) RemoveComponent(components_.back());
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(notifications_.begin(), notifications_.end(), AComponent) == notifications_.end()) {
    notifications_.push_back(AComponent);
    AComponent->FreeNotification(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  auto it = std::find(notifications_.begin(), notifications_.end(), AComponent);
  if (it == notifications_.end()) return;
  notifications_.erase(it);
  AComponent->RemoveFreeNotification(this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == TOperation::opRemove) {
    auto it = std::find(components_.begin(), components_.end(), AComponent);
    if (it != components_.end()) components_.erase(it);
  }
}

void TComponent::SetDesigning(bool Value) {
  state_ = Value ? (state_ | csDesigning) : (state_ & ~unsigned{csDesigning});
}

void TComponent::SetLoading(bool Value) {
  state_ = Value ? (state_ | csLoading) : (state_ & ~unsigned{csLoading});
}

void TComponent::InsertComponent(TComponent* AComponent) {
  components_.push_back(AComponent);
  AComponent->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto it = std::find(components_.begin(), components_.end(), AComponent);
  if (it != components_.end()) components_.erase(it);
  AComponent->owner_ = nullptr;
}

}  // namespace brv
