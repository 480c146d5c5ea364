#include "aws/brvBase_Classes.h"

namespace brv {

bool TbrvComponent_Base::IsDesigning() const {
  return (ComponentState() & csDesigning) != 0;
}

bool TbrvComponent_Base::IsDestroying() const {
  return (ComponentState() & csDestroying) != 0;
}

bool TbrvComponent_Base::IsLoading() const {
  return (ComponentState() & csLoading) != 0;
}

}  // namespace brv
