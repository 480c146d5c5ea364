// Base of the library's own components.
#pragma once

#include "base/Classes.h"

namespace brv {

// Version of the component library, as every component reports it.
inline constexpr const char* brvComponentVersion = "4.4.6";

// Base of every component of the library: a component with a version and state queries.
class TbrvComponent_Base : public TComponent {
 public:
  BRV_CLASS_NAME(TbrvComponent_Base)
  explicit TbrvComponent_Base(TComponent* aOwner = nullptr) : TComponent(aOwner) {}

  // The library version, "4.4.6".
  std::string Version() const { return brvComponentVersion; }

  // True while the component is being designed, destroyed or loaded.
  virtual bool IsDesigning() const;
  virtual bool IsDestroying() const;
  virtual bool IsLoading() const;
};

}  // namespace brv
