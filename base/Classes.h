// Framework stand-ins: root object, persistent (assignable) objects and owned components.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"

namespace brv {

// Root of the class hierarchy: a virtual destructor and a class name.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  // Name of the most derived class, as messages show it.
  virtual const char* ClassName() const { return "TObject"; }
};

// Declares ClassName() for a class; put it in the public part of every named class.
#define BRV_CLASS_NAME(Name) \
  const char* ClassName() const override { return #Name; }

// An object whose state can be copied from another one with Assign.
class TPersistent : public TObject {
 public:
  BRV_CLASS_NAME(TPersistent)
  // Copies Source into this object. The default asks Source to AssignTo this object and
  // fails with "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const TPersistent* Source);

 protected:
  // Copies this object into Dest; the default raises the conversion error.
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

enum class TOperation { opInsert, opRemove };

// Component state flags.
enum TComponentStateFlag : unsigned { csLoading = 1, csDesigning = 2, csDestroying = 4 };

// A persistent object with an owner. The owner link is non-owning: memory belongs to whoever
// holds the component (a unique_ptr); the owner lists its components and detaches them when it
// goes. Components can ask to be told when another component is destroyed.
class TComponent : public TPersistent {
 public:
  BRV_CLASS_NAME(TComponent)
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string Name) { name_ = std::move(Name); }
  unsigned ComponentState() const { return state_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int Index) const { return components_.at(static_cast<size_t>(Index)); }

  // Asks to be told (Notification with opRemove) when AComponent is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called when a component this one watches (or owns) is inserted or removed.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetDesigning(bool Value);
  void SetLoading(bool Value);

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* owner_ = nullptr;
  std::string name_;
  unsigned state_ = 0;
  std::vector<TComponent*> components_;     // components that name this one as owner
  std::vector<TComponent*> notifications_;  // watched and watching components
};

}  // namespace brv
